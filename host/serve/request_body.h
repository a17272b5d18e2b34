// The body of one request, read from its connection through a size limit.
#ifndef TAVIK_HOST_SERVE_REQUEST_BODY_H_
#define TAVIK_HOST_SERVE_REQUEST_BODY_H_

#include <cstddef>
#include <cstdint>

#include "host/serve/http_exchange.h"

namespace tavik {

class RequestBody {
 public:
  // The body of `request`, on `connection`, of which at most `limit` bytes
  // are read. REQUIRES: both outlive the object.
  RequestBody(const HttpRequestFacts* request, HttpConnection* connection,
              uint64_t limit)
      : connection_(connection),
        limit_(limit),
        declared_length_(request->content_length),
        ended_(!request->HasBody()) {}

  // Reads at most `size` bytes into `buffer`. Returns the count, 0 at the
  // end of the body (at once for a request without one), or -1 when the
  // connection failed, the client sent too slowly (see too_slow), the body
  // goes past the limit, or it ends before its Content-Length.
  int64_t Read(void* buffer, size_t size);

  // Reads whatever is left and drops it, so the connection can carry the
  // next request. Returns false when that failed or passed the limit.
  bool Drain();

  uint64_t bytes_read() const { return bytes_read_; }
  // True when reading failed because the client fell behind the server's
  // deadline for the body.
  bool too_slow() const { return too_slow_; }

 private:
  HttpConnection* connection_;
  uint64_t limit_;
  int64_t declared_length_;  // -1: none (chunked)
  uint64_t bytes_read_ = 0;
  bool ended_;
  bool failed_ = false;
  bool too_slow_ = false;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_REQUEST_BODY_H_
