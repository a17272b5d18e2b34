#include "host/posted_data.h"

namespace tavik {
namespace {

// How many body bytes to read ahead: kReadAheadBytes, fewer for a shorter
// body (one more than its length, so that its end is seen), and at least
// 1.
size_t ReadAheadRoom(const RequestSummary& request) {
  size_t room = request.has_body ? kReadAheadBytes : 1;
  if (request.content_length >= 0 &&
      static_cast<uint64_t>(request.content_length) < room) {
    room = static_cast<size_t>(request.content_length) + 1;
  }
  return room;
}

DWORD TotalBytes(const RequestSummary& request) {
  if (request.content_length >= 0) {
    return static_cast<DWORD>(request.content_length);
  }
  return request.has_body ? kUnknownTotalBytes : 0;
}

}  // namespace

bool PostedData::Fill(const RequestSummary& request, const BodyReader& read) {
  bytes_.assign(ReadAheadRoom(request), 0);
  size_t filled = 0;
  if (request.has_body) {
    while (filled < bytes_.size()) {
      const int64_t count =
          read(bytes_.data() + filled, bytes_.size() - filled);
      if (count < 0) {
        available_ = 0;
        return false;
      }
      if (count == 0) break;
      filled += static_cast<size_t>(count);
    }
  }
  available_ = static_cast<DWORD>(filled);
  total_bytes_ = TotalBytes(request);
  return true;
}

}  // namespace tavik
