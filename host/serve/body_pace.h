// How long a request body may keep the server waiting: a first allowance,
// extended as the bytes come, so that a client sending at least the
// minimum rate is never cut off, and one that trickles is.
#ifndef TAVIK_HOST_SERVE_BODY_PACE_H_
#define TAVIK_HOST_SERVE_BODY_PACE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tavik {

class BodyPace {
 public:
  // The body may keep the server waiting for `allowance` at first; every
  // `bytes_per_second` bytes received add one second, in proportion (0:
  // nothing is added). Only time spent waiting for the client counts.
  BodyPace(std::chrono::milliseconds allowance, uint32_t bytes_per_second)
      : left_(allowance), bytes_per_second_(bytes_per_second) {}

  // The time the client has left; zero or less when it is spent.
  std::chrono::nanoseconds left() const { return left_; }

  // The most bytes to ask for in one read, out of `wanted`: the bytes that
  // earn one second (at least 1), so that the time they earn is counted
  // as they come rather than when a large read completes.
  size_t PieceSize(size_t wanted) const;

  // Records a wait of `waited` in which `bytes` came.
  void Record(std::chrono::nanoseconds waited, uint64_t bytes);

 private:
  std::chrono::nanoseconds left_;
  uint32_t bytes_per_second_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_BODY_PACE_H_
