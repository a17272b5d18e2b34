// The responses tavik-serve makes itself (a refusal, the 500 page of an
// extension that sent nothing, 503 while it stops): a short HTML page that
// names the status and says why, framed by its Content-Length.
#ifndef TAVIK_HOST_SERVE_SIMPLE_PAGE_H_
#define TAVIK_HOST_SERVE_SIMPLE_PAGE_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"

namespace tavik {

struct SimplePage {
  std::string_view status = {};       // "403 Forbidden"
  std::string_view message = {};      // the sentence shown; HTML-escaped here
  std::string_view extra_field = {};  // "Allow: GET, HEAD", or empty
  bool keep_alive = false;            // the Connection field says keep-alive
  // For HEAD: the page is left out, but its length is still declared.
  bool head_only = false;
};

// The whole response for `page`, its Date `now`. Stores the length of the
// body it holds (0 with head_only) in `body_bytes`.
std::string SimpleResponse(const SimplePage& page, std::time_t now,
                           size_t* body_bytes);

// Writes SimpleResponse(page, now) to `connection` in one write and returns
// the body bytes sent: the page's length, or 0 with head_only or when the
// client could not be reached. The connection is left as it is: a page
// that closes it says so with keep_alive false and the caller closes it.
uint64_t SendSimplePage(const SimplePage& page, HttpConnection* connection);

// Answers `request` with `page`, deciding its Connection field and its
// head_only: the connection stays open only when the request lets it
// (HttpRequestFacts::KeepsAlive), carries no body (an unread body would be
// taken for the next request) and `close` is false; otherwise it closes
// after the page. Returns the body bytes sent, as SendSimplePage.
uint64_t AnswerWithPage(const HttpRequestFacts& request, SimplePage page,
                        HttpConnection* connection, bool close = false);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SIMPLE_PAGE_H_
