// Independent judges for the tavik-serve fuzzer, written without the host's
// code: where a request path leads below a document root, and whether the
// bytes sent for one request are one well-formed HTTP/1.1 response whose
// end a client can find.
#ifndef TAVIK_FUZZ_SERVE_ORACLE_H_
#define TAVIK_FUZZ_SERVE_ORACLE_H_

#include <optional>
#include <string>
#include <string_view>

namespace tavik::fuzz {

// `root` followed by the segments of `rest`, empty and "." segments
// dropped, each ".." removing the segment kept before it. nullopt when a
// ".." finds none to remove.
std::optional<std::string> NormalizeBelow(std::string_view root,
                                          std::string_view rest);

enum class Confinement { kInside, kOutside, kUnknown };

// Whether `path` (from NormalizeBelow on `root`, a real path) stays inside
// `root` once links are followed: its longest existing leading part must
// resolve to `root` or below it, and no leading part may be a dangling
// link. kUnknown when the file system cannot tell (a name too long, too
// many links).
Confinement Confine(const std::string& root, const std::string& path);

// What a client would make of the bytes sent for one request.
struct ResponseReading {
  std::string fault;  // empty when the bytes are acceptable
  int status_code = 0;
  bool complete = false;  // the head and all of the framed body came
  bool keep_alive = false;
  bool chunked = false;
  std::string body;  // the body as the client receives it, unframed
};

// Reads `bytes`: a "100 Continue" interim answer when `may_continue`, then
// one response: an HTTP/1.1 status line, header fields without control
// characters, one Connection, Date and Server field each, at most one of a
// chunked Transfer-Encoding and a Content-Length, and a body framed by
// them (none for HEAD, when `head_request`, or for 1xx, 204 and 304).
// Nothing may follow the response. Bytes that stop before the response is
// complete, or a body delimited only by the end of the connection, are
// faults unless `closes` (the server ends the connection after them).
ResponseReading ReadResponse(std::string_view bytes, bool head_request,
                             bool may_continue, bool closes);

}  // namespace tavik::fuzz

#endif  // TAVIK_FUZZ_SERVE_ORACLE_H_
