// tavik-serve's counters, kept while it runs and given in Prometheus' text
// exposition format (version 0.0.4) at its metrics path. Every counter is
// an atomic of its own, so any thread may count and read at any time; a
// reading taken while requests end may show one's answer counted and its
// latency not yet.
#ifndef TAVIK_HOST_SERVE_SERVER_METRICS_H_
#define TAVIK_HOST_SERVE_SERVER_METRICS_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/serve/request_router.h"

namespace tavik {

// The upper bounds of the latency histogram's buckets, in seconds; a last
// bucket, +Inf, takes the rest.
inline constexpr std::array<double, 13> kLatencyBuckets = {
    0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// What the server knows at the moment of a reading.
struct ServerGauges {
  int requests_in_flight = 0;
  int workers_busy = 0;  // workers holding a connection, busy or idle
  int workers = 0;
  bool site_readable = false;
};

class ServerMetrics {
 public:
  // A request answered with `status_code` (100 to 599; others are not
  // counted) and `body_bytes` of body.
  void CountAnswer(int status_code, uint64_t body_bytes);
  // A request refused with 503 because the server is stopping.
  void CountRefused();
  // The time a request took from its head to the end of its answer.
  void CountLatency(std::chrono::nanoseconds elapsed);
  // Something a request found that the server's user may not read.
  void CountUnreadable(Unreadable what);

  // Every counter and `gauges`, each with its HELP and TYPE lines.
  std::string Exposition(const ServerGauges& gauges) const;

 private:
  using Counter = std::atomic<uint64_t>;

  std::array<Counter, 5> answers_by_class_{};  // 1xx to 5xx
  Counter timeouts_{0};                        // 408
  Counter too_large_{0};                       // 413
  Counter refused_{0};
  Counter body_bytes_{0};
  // One count per bucket of kLatencyBuckets and one for +Inf; not
  // cumulative here, summed up when read.
  std::array<Counter, kLatencyBuckets.size() + 1> latency_buckets_{};
  Counter latency_nanoseconds_{0};
  Counter unreadable_search_folders_{0};
  Counter unreadable_files_{0};
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SERVER_METRICS_H_
