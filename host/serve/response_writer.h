// The response to one extension request, written as the extension hands its
// pieces over: the head once, then body bytes, then the end. The answer is
// held and sent whole with its Content-Length when the extension is done
// (up to a bound; see whole_answer.h), or, with a bound of 0 or once it
// grows past it, sent as the pieces come. It keeps the body inside its
// framing and closes the connection whenever the client could not
// otherwise tell where the response ends.
#ifndef TAVIK_HOST_SERVE_RESPONSE_WRITER_H_
#define TAVIK_HOST_SERVE_RESPONSE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"
#include "host/serve/response_head.h"

namespace tavik {

class ResponseWriter {
 public:
  // Holds at most `whole_answer_bytes` body bytes to send the answer whole
  // (0: holds nothing). REQUIRES: `connection` and `request` outlive the
  // writer.
  ResponseWriter(HttpConnection* connection, const HttpRequestFacts* request,
                 size_t whole_answer_bytes)
      : connection_(connection),
        request_(request),
        whole_answer_bytes_(whole_answer_bytes) {}
  ResponseWriter(const ResponseWriter&) = delete;
  ResponseWriter& operator=(const ResponseWriter&) = delete;

  // Takes the status ("200 OK"; empty means that), the fields of the
  // extension's `header_text` and the start of the body that text carries
  // after its empty line. Held, they go out with the rest of the answer
  // at Finish; otherwise the status line, the server's fields and these go
  // now in one write, the body chunked unless the text gives a
  // Content-Length or the client speaks HTTP/1.0. Returns false, taking
  // nothing, when a head came already or `status` or `header_text` is
  // malformed (see ParseStatusCode and ParseExtensionHead); returns false
  // as well when the client is gone.
  bool SendHead(std::string_view status, std::string_view header_text);

  // Takes `size` body bytes: held, or sent at once as one chunk or as they
  // are. Zero bytes do nothing (an empty chunk would end the body). For
  // HEAD and for statuses without a body the bytes are not sent. Returns
  // false when no head came, the client is gone, or the bytes pass the
  // declared Content-Length (then only the bytes that fit are taken).
  bool WriteBody(const void* data, size_t size);

  // Ends the response: a held answer goes in one write, framed by its
  // Content-Length (the extension's own, when it gave one); a streamed one
  // gets the last chunk of a chunked body; without a head, a 500 page.
  // Closes the connection afterwards when the body fell short of its
  // Content-Length or a write failed. Further calls do nothing.
  void Finish();

  // The connection closes after this response. Before the head goes, the
  // head says so.
  void CloseAfterResponse();

  // The status code taken (0 before any head).
  int status_code() const { return status_code_; }
  // Body bytes sent, framing excluded.
  uint64_t body_bytes() const { return body_bytes_; }
  // True when the answer grew past the bound and went out as it was
  // written.
  bool streamed_past_bound() const { return streamed_past_bound_; }

 private:
  enum class State { kNoHead, kHeld, kHeadSent, kFinished };

  // Sends the held head with the framing `whole_length` allows (the
  // body's length when it is known) and the held body after it, in one
  // write.
  bool SendHeldHead(std::optional<uint64_t> whole_length);
  // Cuts `*size` body bytes to what the extension's Content-Length has
  // room for; returns false, and closes the connection after the
  // response, when they did not all fit.
  bool CutToDeclaredLength(size_t* size);
  // Appends `size` body bytes in the response's framing to `out`; REQUIRES:
  // size > 0 and they fit the declared length.
  void AppendFramed(const void* data, size_t size, std::string* out);
  bool WriteOrBreak(const std::string& bytes);

  HttpConnection* connection_;
  const HttpRequestFacts* request_;
  const size_t whole_answer_bytes_;
  State state_ = State::kNoHead;
  BodyFraming framing_ = BodyFraming::kChunked;
  // True for HEAD and statuses without a body: body bytes are not sent.
  bool body_dropped_ = false;
  bool close_after_ = false;
  bool broken_ = false;
  bool streamed_past_bound_ = false;
  int status_code_ = 0;
  // The extension's Content-Length, when it gave one.
  std::optional<uint64_t> declared_length_;
  // Body bytes taken from the extension, held or sent.
  uint64_t taken_bytes_ = 0;
  uint64_t body_bytes_ = 0;
  // While held: the status, the header text up to its empty line, and the
  // body.
  std::string held_status_;
  std::string held_fields_;
  std::string held_body_;
  // Reused for the framing of each write.
  std::string scratch_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_RESPONSE_WRITER_H_
