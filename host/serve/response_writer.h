// The response to one extension request, written as the extension hands its
// pieces over: the head once, then body bytes, then the end. It keeps the
// body inside its framing and closes the connection whenever the client
// could not otherwise tell where the response ends.
#ifndef TAVIK_HOST_SERVE_RESPONSE_WRITER_H_
#define TAVIK_HOST_SERVE_RESPONSE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"
#include "host/serve/response_head.h"

namespace tavik {

class ResponseWriter {
 public:
  // REQUIRES: `connection` and `request` outlive the writer.
  ResponseWriter(HttpConnection* connection, const HttpRequestFacts* request)
      : connection_(connection), request_(request) {}
  ResponseWriter(const ResponseWriter&) = delete;
  ResponseWriter& operator=(const ResponseWriter&) = delete;

  // Sends the status line with `status` ("200 OK"; empty means that), the
  // server's fields, the fields of the extension's `header_text` and the
  // start of the body that text carries after its empty line, in one write.
  // The body is chunked unless the text gives a Content-Length or the
  // client speaks HTTP/1.0. Returns false, sending nothing, when a head
  // went already or `status` or `header_text` is malformed (see
  // ParseStatusCode and ParseExtensionHead); returns false as well when the
  // client is gone.
  bool SendHead(std::string_view status, std::string_view header_text);

  // Sends `size` body bytes at once: as one chunk, or as they are. Zero
  // bytes send nothing (an empty chunk would end the body). For HEAD and
  // for statuses without a body the bytes are dropped. Returns false when
  // no head was sent, the client is gone, or the bytes pass the declared
  // Content-Length (then only the bytes that fit are sent).
  bool WriteBody(const void* data, size_t size);

  // Ends the response: the last chunk of a chunked body, or a 500 page when
  // no head was sent. Closes the connection afterwards when the body fell
  // short of its Content-Length or a write failed. Further calls do
  // nothing.
  void Finish();

  // The connection closes after this response. Before the head goes, the
  // head says so.
  void CloseAfterResponse();

  bool head_sent() const { return state_ != State::kNoHead; }
  // The status code sent (0 before any head).
  int status_code() const { return status_code_; }
  // Body bytes sent, framing excluded.
  uint64_t body_bytes() const { return body_bytes_; }

 private:
  enum class State { kNoHead, kHeadSent, kFinished };

  // Writes `size` body bytes in the response's framing; REQUIRES: size > 0
  // and they fit the declared length.
  bool SendFramed(const void* data, size_t size, std::string* prefix);
  bool WriteOrBreak(const std::string& bytes);

  HttpConnection* connection_;
  const HttpRequestFacts* request_;
  State state_ = State::kNoHead;
  BodyFraming framing_ = BodyFraming::kChunked;
  // True for HEAD and statuses without a body: body bytes are dropped.
  bool body_dropped_ = false;
  bool close_after_ = false;
  bool broken_ = false;
  int status_code_ = 0;
  // With kContentLength: the declared length.
  uint64_t declared_length_ = 0;
  uint64_t body_bytes_ = 0;
  // Reused for the framing of each write.
  std::string scratch_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_RESPONSE_WRITER_H_
