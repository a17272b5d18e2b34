#include "host/serve/civetweb_connection.h"

#include <civetweb.h>

namespace tavik {

CivetwebConnection::CivetwebConnection(mg_connection* connection,
                                       const BodyWait& wait)
    : connection_(connection),
      deadlines_(wait.deadlines),
      civetweb_pause_(wait.civetweb_pause),
      pace_(wait.allowance, wait.bytes_per_second),
      declared_length_(mg_get_request_info(connection)->content_length) {}

int64_t CivetwebConnection::ReadBody(void* buffer, size_t size) {
  if (size == 0) return too_slow_ ? kBodyTooSlow : 0;
  for (;;) {
    if (too_slow_ || pace_.left().count() <= 0) {
      too_slow_ = true;
      return kBodyTooSlow;
    }
    const auto started = ClientDeadlines::Clock::now();
    deadlines_->Arm(started + pace_.left());
    const int count = mg_read(connection_, buffer, pace_.PieceSize(size));
    too_slow_ = deadlines_->Disarm();
    const auto waited = ClientDeadlines::Clock::now() - started;
    pace_.Record(waited, count > 0 ? static_cast<uint64_t>(count) : 0);
    if (count > 0) {
      // Bytes that came before the cut are still the body's.
      received_ += static_cast<uint64_t>(count);
      return count;
    }
    if (too_slow_) return kBodyTooSlow;
    if (count == 0 && declared_length_ >= 0 &&
        received_ < static_cast<uint64_t>(declared_length_)) {
      // civetweb stopped waiting for the next byte; the body's own time
      // decides.
      continue;
    }
    if (count < 0 && waited >= civetweb_pause_) {
      // A chunked body that fell silent for civetweb's whole wait.
      too_slow_ = true;
      return kBodyTooSlow;
    }
    return count;
  }
}

bool CivetwebConnection::Write(const void* data, size_t size) {
  return mg_write(connection_, data, size) == static_cast<int>(size);
}

void CivetwebConnection::CloseAfterResponse() {
  mg_disable_connection_keep_alive(connection_);
}

}  // namespace tavik
