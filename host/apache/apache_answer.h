// The answer to one request of mod_tavik, written through Apache's output
// as the extension hands its pieces over: the head once (its status into
// r->status, its fields into r->headers_out), then body bytes. The body is
// held until the extension is done and then written whole, with its
// Content-Length, so that nothing of it reaches the client (or a front
// server, which could then ask another backend) should the process die
// while the extension runs; an answer that grows past the bound (see
// whole_answer.h) goes from then on as it is written. Every byte of the
// answer goes through this one class.
#ifndef TAVIK_HOST_APACHE_APACHE_ANSWER_H_
#define TAVIK_HOST_APACHE_APACHE_ANSWER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/apache/apache_headers.h"
#include "host/whole_answer.h"

namespace tavik {

class ApacheAnswer {
 public:
  // Holds at most `whole_answer_bytes` body bytes. REQUIRES: `r` outlives
  // the answer.
  explicit ApacheAnswer(request_rec* r,
                        size_t whole_answer_bytes = kWholeAnswerBytes)
      : r_(r), whole_answer_bytes_(whole_answer_bytes) {}
  ApacheAnswer(const ApacheAnswer&) = delete;
  ApacheAnswer& operator=(const ApacheAnswer&) = delete;

  // Takes the extension's head: `status` ("200 OK"; empty means that) into
  // r->status and r->status_line, Content-Type into the request's content
  // type, a Content-Length into its length, the other fields of
  // `header_text` into r->headers_out, and the start of the body the text
  // carries after its empty line as WriteBody takes it. Returns false,
  // taking nothing, when a head came already or `status` or `header_text`
  // is malformed (see ParseStatusCode and ParseExtensionHead), and false as
  // well when the client is gone.
  bool SendHead(std::string_view status, std::string_view header_text);

  // Takes `size` body bytes: held, or, past the bound, written with
  // ap_rwrite; zero bytes do nothing. Returns false when no head was
  // taken, the client is gone, or the bytes pass the extension's
  // Content-Length (then only the bytes that fit are taken).
  bool WriteBody(const void* data, size_t size);

  // Ends the answer and returns what the handler returns: OK once a head
  // was taken, after the held body is written with its length (the
  // extension's own, when it gave one), or HTTP_INTERNAL_SERVER_ERROR
  // without one (Apache then sends its error page). A body short of its
  // declared length, or a write that failed, closes the connection after
  // the answer.
  int Finish();

  // The connection closes after this answer.
  void CloseAfterAnswer();

  bool head_sent() const { return head_sent_; }
  // True when the answer grew past the bound and went as it was written.
  bool streamed_past_bound() const { return streamed_past_bound_; }

 private:
  // Writes `size` bytes with ap_rwrite; false when the client is gone.
  bool Send(const char* bytes, size_t size);

  request_rec* r_;
  const size_t whole_answer_bytes_;
  bool head_sent_ = false;
  bool holding_ = true;
  bool broken_ = false;
  bool streamed_past_bound_ = false;
  // The extension's Content-Length, when it gave one.
  bool length_declared_ = false;
  uint64_t declared_length_ = 0;
  // Body bytes taken from the extension, held or written.
  uint64_t taken_bytes_ = 0;
  std::string held_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_APACHE_APACHE_ANSWER_H_
