#include "host/serve/body_pace.h"

namespace tavik {

size_t BodyPace::PieceSize(size_t wanted) const {
  if (bytes_per_second_ == 0 || wanted <= bytes_per_second_) return wanted;
  return bytes_per_second_;
}

void BodyPace::Record(std::chrono::nanoseconds waited, uint64_t bytes) {
  left_ -= waited;
  if (bytes_per_second_ == 0) return;
  // One read is far below 18 GB, so bytes * 10^9 stays inside 64 bits.
  left_ += std::chrono::nanoseconds(
      static_cast<int64_t>(bytes * uint64_t{1000000000} / bytes_per_second_));
}

}  // namespace tavik
