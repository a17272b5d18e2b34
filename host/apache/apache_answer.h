// The answer to one request of mod_tavik, written through Apache's output
// as the extension hands its pieces over: the head once (its status into
// r->status, its fields into r->headers_out), then body bytes. Every byte
// of the answer goes through this one class.
#ifndef TAVIK_HOST_APACHE_APACHE_ANSWER_H_
#define TAVIK_HOST_APACHE_APACHE_ANSWER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/apache/apache_headers.h"

namespace tavik {

class ApacheAnswer {
 public:
  // REQUIRES: `r` outlives the answer.
  explicit ApacheAnswer(request_rec* r) : r_(r) {}
  ApacheAnswer(const ApacheAnswer&) = delete;
  ApacheAnswer& operator=(const ApacheAnswer&) = delete;

  // Takes the extension's head: `status` ("200 OK"; empty means that) into
  // r->status and r->status_line, Content-Type into the request's content
  // type, a Content-Length into its length, the other fields of
  // `header_text` into r->headers_out, and writes the start of the body
  // the text carries after its empty line. Returns false, taking nothing,
  // when a head came already or `status` or `header_text` is malformed
  // (see ParseStatusCode and ParseExtensionHead), and false as well when
  // the client is gone.
  bool SendHead(std::string_view status, std::string_view header_text);

  // Writes `size` body bytes with ap_rwrite; zero bytes write nothing.
  // Returns false when no head was taken, the client is gone, or the bytes
  // pass the extension's Content-Length (then only the bytes that fit go).
  bool WriteBody(const void* data, size_t size);

  // Ends the answer and returns what the handler returns: OK once a head
  // was taken, or HTTP_INTERNAL_SERVER_ERROR without one (Apache then
  // sends its error page). A body short of its declared length, or a
  // write that failed, closes the connection after the answer.
  int Finish();

  // The connection closes after this answer.
  void CloseAfterAnswer();

  bool head_sent() const { return head_sent_; }

 private:
  request_rec* r_;
  bool head_sent_ = false;
  bool broken_ = false;
  // The extension's Content-Length, when it gave one.
  bool length_declared_ = false;
  uint64_t declared_length_ = 0;
  uint64_t body_bytes_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_APACHE_APACHE_ANSWER_H_
