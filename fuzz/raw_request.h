// A raw HTTP/1.x request taken apart as civetweb takes it apart before it
// calls tavik-serve: the request line, the percent-decoded path, up to 64
// header fields, and the body the connection will give, cut to the
// Content-Length. For the serve fuzzer.
#ifndef TAVIK_FUZZ_RAW_REQUEST_H_
#define TAVIK_FUZZ_RAW_REQUEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/serve/http_exchange.h"

namespace tavik::fuzz {

struct ParsedRequest {
  std::string method, path, query, version;
  std::vector<std::pair<std::string, std::string>> headers;
  int64_t content_length = -1;
  // What the connection gives as the body: the chunks taken apart already,
  // or the bytes up to the Content-Length (fewer when the input ends).
  std::string body;
  // Views of the strings above, from MakeFacts: call it once the object is
  // where it stays, as moving it may move the strings' bytes.
  HttpRequestFacts facts;

  void MakeFacts();
};

// Parses `raw`: the head ends at the first empty line (CR LF or a lone LF
// ends a line), the rest is the body. Returns nullopt for what civetweb
// answers itself: a malformed request line or header line, a version other
// than 1.0 and 1.1, a target that is not a path, a transfer coding other
// than chunked, a Content-Length that is not a number or below zero.
std::optional<ParsedRequest> ParseRequest(std::string_view raw);

// `text` up to its first NUL, as C code sees it.
std::string UpToNul(std::string_view text);

// True when `text` is `lower` but for the case of ASCII letters.
// REQUIRES: `lower` has no upper-case letter.
bool EqualsLower(std::string_view text, std::string_view lower);

}  // namespace tavik::fuzz

#endif  // TAVIK_FUZZ_RAW_REQUEST_H_
