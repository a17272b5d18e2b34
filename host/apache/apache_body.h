// The body of one request of mod_tavik, read through Apache's input
// filters (de-chunked, under mod_reqtimeout's and LimitRequestBody's
// limits), at most kMaxBodyBytes of it.
#ifndef TAVIK_HOST_APACHE_APACHE_BODY_H_
#define TAVIK_HOST_APACHE_APACHE_BODY_H_

#include <cstddef>
#include <cstdint>

#include "host/apache/apache_headers.h"

namespace tavik {

class ApacheBody {
 public:
  // REQUIRES: `r` outlives the object.
  explicit ApacheBody(request_rec* r) : r_(r) {}
  ApacheBody(const ApacheBody&) = delete;
  ApacheBody& operator=(const ApacheBody&) = delete;

  // Prepares the reading (ap_setup_client_block, chunks removed). Returns
  // OK, or the status to answer with: Apache's own for a malformed length,
  // HTTP_REQUEST_ENTITY_TOO_LARGE for a Content-Length over kMaxBodyBytes.
  int Setup();

  // After Setup: true when the request carries a body (a Content-Length
  // above zero, or chunks).
  bool has_body() const { return r_->read_chunked || r_->remaining > 0; }
  // After Setup: the Content-Length given, or -1 without one.
  int64_t content_length() const;

  // Reads at most `size` bytes into `buffer`. Returns the count, 0 at the
  // end of the body (at once without one), or -1 when it cannot be read
  // (failure_status() then says how to answer: 408 when the client was too
  // slow, 413 past the limit, 400 for anything else).
  int64_t Read(void* buffer, size_t size);

  // The status to answer with after Read failed.
  int failure_status() const { return failure_status_; }

 private:
  request_rec* r_;
  apr_bucket_brigade* brigade_ = nullptr;
  uint64_t bytes_read_ = 0;
  bool ended_ = false;
  int failure_status_ = 0;  // 0 until a read fails
};

}  // namespace tavik

#endif  // TAVIK_HOST_APACHE_APACHE_BODY_H_
