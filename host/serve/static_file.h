// The site's static files, sent as they are: a file with its type, length
// and time of change; a folder by its index page. The router has judged the
// path first (inside the document root, no NUL).
#ifndef TAVIK_HOST_SERVE_STATIC_FILE_H_
#define TAVIK_HOST_SERVE_STATIC_FILE_H_

#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"
#include "host/serve/request_router.h"

namespace tavik {

// The pages a folder is answered with, the first that exists.
inline constexpr std::string_view kIndexPages[] = {"index.html", "index.htm",
                                                   "content.htm"};

// The Content-Type of a file named `name`, by its extension (letters
// without case): "text/html" for .htm and .html, the usual types of the web
// for styles, scripts, images, fonts, XML, JSON, PDF and plain text, and
// "application/octet-stream" for any other.
std::string_view ContentTypeOf(std::string_view name);

// The request path `path` percent-encoded for a Location field: every byte
// but letters, digits, "-._~" and "/" as "%XX".
std::string EncodeUrlPath(std::string_view path);

// Answers the GET or HEAD `request` for the static file `file` (a path
// inside `document_root` with its links resolved, as RouteRequest gives it
// in static_file), and returns what was sent:
// - a regular file: 200 with its Content-Type, Content-Length and
//   Last-Modified, and its bytes for GET. A file that shrinks while it is
//   sent closes the connection at the end of what it still holds.
// - a folder: 301 to the path with a trailing slash when the request path
//   has none; otherwise the first of kIndexPages in it that is a regular
//   file inside the document root, or 403 when there is none.
// - nothing there: 404; anything else (a device, a FIFO, a file it may not
//   read): 403, with Unreadable::kFile in `unreadable` for a file the
//   server's user may not read.
// The connection stays open after it when the request allows it and
// carries no body. The file is opened without following a link and
// without blocking, so a link or FIFO put in its place after the router's
// judgement is refused rather than followed or waited on.
// REQUIRES: `document_root` is a real path, as RouterConfig holds it.
RouteOutcome SendStaticFile(const std::string& document_root,
                            const HttpRequestFacts& request,
                            const std::string& file,
                            HttpConnection* connection);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_STATIC_FILE_H_
