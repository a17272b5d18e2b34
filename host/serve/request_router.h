// What tavik-serve does with each request: the mount and everything below
// it go to the extension, with the folder they name confined to the
// document root; everything else is left to the static file server once it
// is known to stay inside the root as well.
#ifndef TAVIK_HOST_SERVE_REQUEST_ROUTER_H_
#define TAVIK_HOST_SERVE_REQUEST_ROUTER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/posted_data.h"
#include "host/serve/http_exchange.h"
#include "host/whole_answer.h"
#include "interface/server_interface.h"

namespace tavik {

struct RouterConfig {
  // The document root as a real path: absolute, no links, no trailing
  // slash.
  std::string document_root;
  // The extension's URL prefix, "/search": a slash and at least one more
  // character, no trailing slash.
  std::string mount;
  HttpExtensionProcFn extension = nullptr;
  // SERVER_NAME for requests without a Host field.
  std::string default_server_name;
  // The most body bytes of an extension's answer held to send it whole (0:
  // none); see ExtensionCallSetup.
  size_t whole_answer_bytes = kWholeAnswerBytes;
};

// What a request found that the server's user may not read. The extension
// skips such folders and documents without a word; the server counts those
// it sees itself.
enum class Unreadable {
  kNothing,
  kSearchFolder,  // the folder a search was asked for
  kFile,          // a static file asked for (answered 403)
};

struct RouteOutcome {
  // False: the request is a static file for the file server to send; the
  // router has sent nothing.
  bool answered = false;
  int status_code = 0;
  uint64_t body_bytes = 0;
  // For a static file: its path inside the document root with every link
  // resolved (it may not exist).
  std::string static_file = {};
  // The extension's answer grew past RouterConfig::whole_answer_bytes and
  // went as it was written.
  bool streamed_past_bound = false;
  Unreadable unreadable = Unreadable::kNothing;
};

// Sends a response the server makes itself (SimplePage) and returns its
// outcome. With `close`, or for a request with a body, the connection
// closes after it.
RouteOutcome AnswerWithOwnPage(const HttpRequestFacts& request,
                               HttpConnection* connection,
                               std::string_view status,
                               std::string_view message,
                               std::string_view extra_field = {},
                               bool close = false);

// Answers `request` on `connection` unless it is a static file to serve:
// - a path that holds a NUL byte once decoded gets 400;
// - a request whose body length is ambiguous (a Content-Length beside a
//   Transfer-Encoding, one that is not a decimal number, or two that
//   differ) gets 400, and the connection closes after it;
// - below the mount, GET, HEAD and POST run the extension with the extra
//   path `document_root` + the normalized rest of the path; a rest that
//   leaves the root (by ".." or by a link) gets 403, a body over
//   kMaxBodyBytes 413, an expectation other than 100-continue 417, and any
//   other method 405. "Expect: 100-continue" is answered before the body
//   is read. A folder the server's user may not read is searched all the
//   same (the extension finds nothing there), and said in `unreadable`.
// - elsewhere, GET and HEAD of a path inside the root are left to the file
//   server, with the path in `static_file`; a path that leaves the root gets
//   403 and any other method 405.
// A refused request with a body closes the connection after the answer
// rather than reading the body.
RouteOutcome RouteRequest(const RouterConfig& config,
                          const HttpRequestFacts& request,
                          HttpConnection* connection);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_REQUEST_ROUTER_H_
