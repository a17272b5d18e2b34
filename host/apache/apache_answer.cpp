#include "host/apache/apache_answer.h"

#include "host/extension_head.h"
#include "host/http_text.h"

namespace tavik {
namespace {

constexpr std::string_view kDefaultStatus = "200 OK";

// A NUL-terminated copy of `text` in the request's pool.
const char* PoolCopy(request_rec* r, std::string_view text) {
  return apr_pstrmemdup(r->pool, text.data(), text.size());
}

}  // namespace

void ApacheAnswer::CloseAfterAnswer() {
  r_->connection->keepalive = AP_CONN_CLOSE;
}

bool ApacheAnswer::SendHead(std::string_view status,
                            std::string_view header_text) {
  if (head_sent_) return false;
  if (status.empty()) status = kDefaultStatus;
  const int code = ParseStatusCode(status);
  ExtensionHead head;
  if (code == 0 || !ParseExtensionHead(header_text, &head)) return false;

  head_sent_ = true;
  r_->status = code;
  // Apache writes the reason as given when the line starts with the code.
  if (status.size() > 3) r_->status_line = PoolCopy(r_, status);
  for (std::string_view line : head.fields) {
    const HeaderField field = SplitHeaderField(line);
    if (EqualsIgnoringCase(field.name, "Content-Type")) {
      ap_set_content_type(r_, PoolCopy(r_, field.value));
    } else if (EqualsIgnoringCase(field.name, "Content-Length")) {
      // Set once, below, from the parsed value.
    } else {
      apr_table_add(r_->headers_out, PoolCopy(r_, field.name),
                    PoolCopy(r_, field.value));
    }
  }
  if (head.content_length.has_value()) {
    length_declared_ = true;
    declared_length_ = *head.content_length;
    ap_set_content_length(r_, static_cast<apr_off_t>(declared_length_));
  }
  return WriteBody(head.body_start.data(), head.body_start.size());
}

bool ApacheAnswer::Send(const char* bytes, size_t size) {
  // ap_rwrite takes an int count: larger writes go in pieces.
  constexpr size_t kMostPerWrite = 1 << 30;
  while (size > 0) {
    const size_t piece = size < kMostPerWrite ? size : kMostPerWrite;
    if (ap_rwrite(bytes, static_cast<int>(piece), r_) < 0) {
      broken_ = true;
      CloseAfterAnswer();
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

bool ApacheAnswer::WriteBody(const void* data, size_t size) {
  if (!head_sent_ || broken_) return false;
  if (size == 0) return true;
  bool fits = true;
  if (length_declared_) {
    const uint64_t room = declared_length_ - taken_bytes_;
    if (size > room) {
      // Bytes past the declared length would be read as the next answer.
      size = static_cast<size_t>(room);
      fits = false;
      CloseAfterAnswer();
    }
    if (size == 0) return false;
  }
  taken_bytes_ += size;
  const char* bytes = static_cast<const char*>(data);
  if (holding_) {
    if (held_.size() + size <= whole_answer_bytes_) {
      held_.append(bytes, size);
      return fits;
    }
    // Past the bound: the answer goes from here on as it is written.
    holding_ = false;
    streamed_past_bound_ = true;
    const bool sent = Send(held_.data(), held_.size());
    std::string().swap(held_);
    if (!sent) return false;
  }
  return Send(bytes, size) && fits;
}

int ApacheAnswer::Finish() {
  if (!head_sent_) return HTTP_INTERNAL_SERVER_ERROR;
  if (length_declared_ && taken_bytes_ < declared_length_) {
    // The client waits for bytes that will never come: only the end of the
    // connection tells it.
    CloseAfterAnswer();
  }
  if (holding_) {
    holding_ = false;
    if (!length_declared_) {
      ap_set_content_length(r_, static_cast<apr_off_t>(held_.size()));
    }
    Send(held_.data(), held_.size());
    std::string().swap(held_);
  }
  return OK;
}

}  // namespace tavik
