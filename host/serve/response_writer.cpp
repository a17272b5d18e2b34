#include "host/serve/response_writer.h"

#include <ctime>
#include <vector>

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

void ResponseWriter::AppendFramed(const void* data, size_t size,
                                  std::string* out) {
  if (framing_ == BodyFraming::kChunked) {
    AppendChunk(data, size, out);
  } else {
    out->append(static_cast<const char*>(data), size);
  }
  body_bytes_ += size;
}

bool ResponseWriter::CutToDeclaredLength(size_t* size) {
  if (!declared_length_.has_value() || body_dropped_) return true;
  const uint64_t room = *declared_length_ - taken_bytes_;
  if (*size <= room) return true;
  // Bytes past the declared length would be read as the next response.
  *size = static_cast<size_t>(room);
  CloseAfterResponse();
  return false;
}

bool ResponseWriter::SendHead(std::string_view status,
                              std::string_view header_text) {
  if (state_ != State::kNoHead) return false;
  if (status.empty()) status = kDefaultStatus;
  const int code = ParseStatusCode(status);
  ExtensionHead head;
  if (code == 0 || !ParseExtensionHead(header_text, &head)) return false;

  state_ = State::kHeld;
  status_code_ = code;
  declared_length_ = head.content_length;
  body_dropped_ = !StatusAllowsBody(code) || request_->method == "HEAD";
  held_status_.assign(status);
  held_fields_.assign(
      header_text.substr(0, header_text.size() - head.body_start.size()));
  size_t first = head.body_start.size();
  CutToDeclaredLength(&first);
  taken_bytes_ = first;
  if (!body_dropped_) held_body_.assign(head.body_start.substr(0, first));
  if (whole_answer_bytes_ > 0 && held_body_.size() <= whole_answer_bytes_) {
    return true;
  }
  streamed_past_bound_ = whole_answer_bytes_ > 0;
  return SendHeldHead(std::nullopt);
}

bool ResponseWriter::SendHeldHead(std::optional<uint64_t> whole_length) {
  ExtensionHead head;
  // The text was parsed once already, when it came.
  ParseExtensionHead(held_fields_, &head);
  std::string length_field;
  if (!StatusAllowsBody(status_code_)) {
    framing_ = BodyFraming::kNone;
  } else if (declared_length_.has_value()) {
    framing_ = BodyFraming::kContentLength;
  } else if (whole_length.has_value()) {
    framing_ = BodyFraming::kContentLength;
    // For HEAD: the length the body would have.
    length_field = "Content-Length: " + std::to_string(*whole_length);
    head.fields.push_back(length_field);
  } else if (request_->http_version == "1.1") {
    framing_ = BodyFraming::kChunked;
  } else {
    // An HTTP/1.0 client knows no chunks: the end of the connection ends
    // the body.
    framing_ = BodyFraming::kUntilClose;
  }
  if (framing_ == BodyFraming::kUntilClose || !request_->KeepsAlive()) {
    CloseAfterResponse();
  }

  state_ = State::kHeadSent;
  scratch_.clear();
  AppendResponseHead(held_status_, head.fields, framing_, !close_after_,
                     std::time(nullptr), &scratch_);
  if (!held_body_.empty()) {
    AppendFramed(held_body_.data(), held_body_.size(), &scratch_);
  }
  // The held copy is no longer needed: its memory goes back now.
  std::string().swap(held_body_);
  return WriteOrBreak(scratch_);
}

bool ResponseWriter::WriteBody(const void* data, size_t size) {
  if ((state_ != State::kHeld && state_ != State::kHeadSent) || broken_) {
    return false;
  }
  if (size == 0) return true;
  const bool fits = CutToDeclaredLength(&size);
  if (size == 0) return false;
  taken_bytes_ += size;
  if (body_dropped_) return true;
  if (state_ == State::kHeld) {
    if (held_body_.size() + size <= whole_answer_bytes_) {
      held_body_.append(static_cast<const char*>(data), size);
      return fits;
    }
    // Past the bound: the answer goes from here on as it is written.
    streamed_past_bound_ = true;
    if (!SendHeldHead(std::nullopt)) return false;
  }
  scratch_.clear();
  AppendFramed(data, size, &scratch_);
  return WriteOrBreak(scratch_) && fits;
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
  if (state_ == State::kHeld) {
    if (!body_dropped_ && declared_length_.has_value() &&
        taken_bytes_ < *declared_length_) {
      // The extension's own length promises bytes that never came: only
      // the end of the connection tells the client.
      CloseAfterResponse();
    }
    SendHeldHead(taken_bytes_);
    state_ = State::kFinished;
    return;
  }
  state_ = State::kFinished;
  if (body_dropped_ || broken_) return;
  if (framing_ == BodyFraming::kChunked) {
    scratch_.assign(kLastChunk);
    WriteOrBreak(scratch_);
  } else if (framing_ == BodyFraming::kContentLength &&
             taken_bytes_ < *declared_length_) {
    // The client waits for bytes that will never come: only the end of the
    // connection tells it.
    CloseAfterResponse();
  }
}

}  // namespace tavik
