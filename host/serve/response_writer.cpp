#include "host/serve/response_writer.h"

#include <ctime>

#include "host/serve/simple_page.h"

namespace tavik {
namespace {

constexpr std::string_view kDefaultStatus = "200 OK";
constexpr std::string_view kNoHeadStatus = "500 Internal Server Error";
constexpr std::string_view kNoHeadMessage =
    "The search extension ended the request without a response.";

}  // namespace

void ResponseWriter::CloseAfterResponse() {
  if (close_after_) return;
  close_after_ = true;
  connection_->CloseAfterResponse();
}

bool ResponseWriter::WriteOrBreak(const std::string& bytes) {
  if (broken_) return false;
  if (connection_->Write(bytes.data(), bytes.size())) return true;
  broken_ = true;
  CloseAfterResponse();
  return false;
}

bool ResponseWriter::SendFramed(const void* data, size_t size,
                                std::string* prefix) {
  if (framing_ == BodyFraming::kChunked) {
    AppendChunk(data, size, prefix);
  } else {
    prefix->append(static_cast<const char*>(data), size);
  }
  body_bytes_ += size;
  return WriteOrBreak(*prefix);
}

bool ResponseWriter::SendHead(std::string_view status,
                              std::string_view header_text) {
  if (state_ != State::kNoHead) return false;
  if (status.empty()) status = kDefaultStatus;
  const int code = ParseStatusCode(status);
  ExtensionHead head;
  if (code == 0 || !ParseExtensionHead(header_text, &head)) return false;

  if (!StatusAllowsBody(code)) {
    framing_ = BodyFraming::kNone;
  } else if (head.content_length.has_value()) {
    framing_ = BodyFraming::kContentLength;
    declared_length_ = *head.content_length;
  } else if (request_->http_version == "1.1") {
    framing_ = BodyFraming::kChunked;
  } else {
    // An HTTP/1.0 client knows no chunks: the end of the connection ends
    // the body.
    framing_ = BodyFraming::kUntilClose;
  }
  body_dropped_ = framing_ == BodyFraming::kNone || request_->method == "HEAD";
  if (framing_ == BodyFraming::kUntilClose || !request_->KeepsAlive()) {
    CloseAfterResponse();
  }

  // The start of the page goes in the same write as the head.
  std::string_view first = body_dropped_ ? std::string_view() : head.body_start;
  if (framing_ == BodyFraming::kContentLength &&
      first.size() > declared_length_) {
    first = first.substr(0, declared_length_);
    CloseAfterResponse();
  }

  state_ = State::kHeadSent;
  status_code_ = code;
  scratch_.clear();
  AppendResponseHead(status, head.fields, framing_, !close_after_,
                     std::time(nullptr), &scratch_);
  if (first.empty()) return WriteOrBreak(scratch_);
  return SendFramed(first.data(), first.size(), &scratch_);
}

bool ResponseWriter::WriteBody(const void* data, size_t size) {
  if (state_ != State::kHeadSent || broken_) return false;
  if (size == 0 || body_dropped_) return true;
  bool fits = true;
  if (framing_ == BodyFraming::kContentLength) {
    const uint64_t room = declared_length_ - body_bytes_;
    if (size > room) {
      // Bytes past the declared length would be read as the next response.
      size = static_cast<size_t>(room);
      fits = false;
      CloseAfterResponse();
    }
    if (size == 0) return false;
  }
  scratch_.clear();
  return SendFramed(data, size, &scratch_) && fits;
}

void ResponseWriter::Finish() {
  if (state_ == State::kFinished) return;
  if (state_ == State::kNoHead) {
    state_ = State::kFinished;
    status_code_ = 500;
    if (!request_->KeepsAlive()) CloseAfterResponse();
    size_t page_bytes = 0;
    const std::string response =
        SimpleResponse({.status = kNoHeadStatus,
                        .message = kNoHeadMessage,
                        .keep_alive = !close_after_,
                        .head_only = request_->method == "HEAD"},
                       std::time(nullptr), &page_bytes);
    if (WriteOrBreak(response)) body_bytes_ = page_bytes;
    return;
  }
  state_ = State::kFinished;
  if (body_dropped_ || broken_) return;
  if (framing_ == BodyFraming::kChunked) {
    scratch_.assign(kLastChunk);
    WriteOrBreak(scratch_);
  } else if (framing_ == BodyFraming::kContentLength &&
             body_bytes_ < declared_length_) {
    // The client waits for bytes that will never come: only the end of the
    // connection tells it.
    CloseAfterResponse();
  }
}

}  // namespace tavik
