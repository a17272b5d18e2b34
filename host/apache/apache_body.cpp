#include "host/apache/apache_body.h"

#include "host/http_text.h"
#include "host/posted_data.h"

namespace tavik {

int ApacheBody::Setup() {
  const int status = ap_setup_client_block(r_, REQUEST_CHUNKED_DECHUNK);
  if (status != OK) return status;
  ended_ = !has_body();
  if (!r_->read_chunked &&
      static_cast<uint64_t>(r_->remaining) > kMaxBodyBytes) {
    return HTTP_REQUEST_ENTITY_TOO_LARGE;
  }
  brigade_ = apr_brigade_create(r_->pool, r_->connection->bucket_alloc);
  return OK;
}

int64_t ApacheBody::content_length() const {
  const char* length = apr_table_get(r_->headers_in, "Content-Length");
  uint64_t value = 0;
  // ap_setup_client_block has refused a length that is not a number.
  if (r_->read_chunked || length == nullptr ||
      !ParseDecimal(TrimWhitespace(length), &value)) {
    return -1;
  }
  return static_cast<int64_t>(value);
}

int64_t ApacheBody::Read(void* buffer, size_t size) {
  if (failure_status_ != 0) return -1;
  if (ended_ || size == 0) return 0;
  // One byte past the limit is asked for, so a body of exactly the limit
  // is told from a longer one.
  const uint64_t room = kMaxBodyBytes - bytes_read_ + 1;
  if (size > room) size = static_cast<size_t>(room);
  // ap_get_client_block would say no more than "failed": the brigade's
  // status tells a client too slow (mod_reqtimeout) from a broken body.
  for (;;) {
    const apr_status_t status =
        ap_get_brigade(r_->input_filters, brigade_, AP_MODE_READBYTES,
                       APR_BLOCK_READ, static_cast<apr_off_t>(size));
    if (status != APR_SUCCESS) {
      apr_brigade_cleanup(brigade_);
      failure_status_ = ap_map_http_request_error(status, HTTP_BAD_REQUEST);
      // What is left of the body cannot be told from the next request.
      r_->connection->keepalive = AP_CONN_CLOSE;
      return -1;
    }
    const bool last = !APR_BRIGADE_EMPTY(brigade_) &&
                      APR_BUCKET_IS_EOS(APR_BRIGADE_LAST(brigade_));
    apr_size_t length = size;
    const apr_status_t flattened =
        apr_brigade_flatten(brigade_, static_cast<char*>(buffer), &length);
    apr_brigade_cleanup(brigade_);
    if (flattened != APR_SUCCESS) {
      failure_status_ = HTTP_BAD_REQUEST;
      r_->connection->keepalive = AP_CONN_CLOSE;
      return -1;
    }
    if (last) ended_ = true;
    if (length == 0 && !ended_) continue;  // buckets without data
    bytes_read_ += length;
    if (bytes_read_ > kMaxBodyBytes) {
      failure_status_ = HTTP_REQUEST_ENTITY_TOO_LARGE;
      r_->connection->keepalive = AP_CONN_CLOSE;
      return -1;
    }
    return static_cast<int64_t>(length);
  }
}

}  // namespace tavik
