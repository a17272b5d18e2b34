#include "host/serve/request_body.h"

namespace tavik {

int64_t RequestBody::Read(void* buffer, size_t size) {
  if (failed_) return -1;
  if (ended_ || size == 0) return 0;
  // One byte past the limit is asked for, so a body of exactly the limit
  // is told from a longer one.
  const uint64_t room = limit_ - bytes_read_ + 1;
  if (size > room) size = static_cast<size_t>(room);
  const int64_t count = connection_->ReadBody(buffer, size);
  if (count == 0) {
    // A body short of its declared length is cut off, not complete.
    if (declared_length_ >= 0 &&
        bytes_read_ < static_cast<uint64_t>(declared_length_)) {
      failed_ = true;
      return -1;
    }
    ended_ = true;
    return 0;
  }
  if (count < 0 || bytes_read_ + static_cast<uint64_t>(count) > limit_) {
    failed_ = true;
    too_slow_ = count == kBodyTooSlow;
    return -1;
  }
  bytes_read_ += static_cast<uint64_t>(count);
  return count;
}

bool RequestBody::Drain() {
  char discarded[4096];
  for (;;) {
    const int64_t count = Read(discarded, sizeof discarded);
    if (count == 0) return true;
    if (count < 0) return false;
  }
}

}  // namespace tavik
