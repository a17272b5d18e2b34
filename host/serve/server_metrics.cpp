#include "host/serve/server_metrics.h"

#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace tavik {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Appends the HELP and TYPE lines of the metric `name`.
void AppendFamily(std::string_view name, std::string_view type,
                  std::string_view help, std::string* out) {
  out->append("# HELP ").append(name).append(" ").append(help).append("\n");
  out->append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// Appends one sample: `name`, its `labels` ("" or `{a="b"}`) and `value`.
void AppendSample(std::string_view name, std::string_view labels,
                  std::string_view value, std::string* out) {
  out->append(name).append(labels).append(" ").append(value).append("\n");
}

std::string Number(uint64_t value) { return std::to_string(value); }

// A count of seconds as Prometheus reads a float, to the nanosecond.
std::string Seconds(uint64_t nanoseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64,
                nanoseconds / 1000000000, nanoseconds % 1000000000);
  return text;
}

std::string BucketBound(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

void ServerMetrics::CountAnswer(int status_code, uint64_t body_bytes) {
  if (status_code < 100 || status_code > 599) return;
  answers_by_class_[static_cast<size_t>(status_code / 100 - 1)].fetch_add(
      1, kRelaxed);
  if (status_code == 408) timeouts_.fetch_add(1, kRelaxed);
  if (status_code == 413) too_large_.fetch_add(1, kRelaxed);
  body_bytes_.fetch_add(body_bytes, kRelaxed);
}

void ServerMetrics::CountRefused() { refused_.fetch_add(1, kRelaxed); }

void ServerMetrics::CountLatency(std::chrono::nanoseconds elapsed) {
  const uint64_t nanoseconds =
      elapsed.count() > 0 ? static_cast<uint64_t>(elapsed.count()) : 0;
  const double seconds = static_cast<double>(nanoseconds) / 1e9;
  size_t bucket = 0;
  while (bucket < kLatencyBuckets.size() && seconds > kLatencyBuckets[bucket]) {
    ++bucket;
  }
  latency_buckets_[bucket].fetch_add(1, kRelaxed);
  latency_nanoseconds_.fetch_add(nanoseconds, kRelaxed);
}

void ServerMetrics::CountUnreadable(Unreadable what) {
  if (what == Unreadable::kSearchFolder) {
    unreadable_search_folders_.fetch_add(1, kRelaxed);
  } else if (what == Unreadable::kFile) {
    unreadable_files_.fetch_add(1, kRelaxed);
  }
}

std::string ServerMetrics::Exposition(const ServerGauges& gauges) const {
  std::string out;
  constexpr std::string_view kRequests = "tavik_serve_requests_total";
  AppendFamily(kRequests, "counter",
               "Requests answered, by the class of their status.", &out);
  for (size_t i = 0; i < answers_by_class_.size(); ++i) {
    AppendSample(kRequests, "{class=\"" + std::to_string(i + 1) + "xx\"}",
                 Number(answers_by_class_[i].load(kRelaxed)), &out);
  }

  constexpr std::string_view kLatency = "tavik_serve_request_duration_seconds";
  AppendFamily(kLatency, "histogram",
               "Time from a request's head to the end of its answer.", &out);
  uint64_t cumulative = 0;
  for (size_t i = 0; i < latency_buckets_.size(); ++i) {
    cumulative += latency_buckets_[i].load(kRelaxed);
    const std::string bound =
        i < kLatencyBuckets.size() ? BucketBound(kLatencyBuckets[i]) : "+Inf";
    AppendSample(std::string(kLatency) + "_bucket", "{le=\"" + bound + "\"}",
                 Number(cumulative), &out);
  }
  AppendSample(std::string(kLatency) + "_sum", "",
               Seconds(latency_nanoseconds_.load(kRelaxed)), &out);
  AppendSample(std::string(kLatency) + "_count", "", Number(cumulative), &out);

  const struct {
    std::string_view name;
    std::string_view help;
    uint64_t value;
  } counters[] = {
      {"tavik_serve_timeouts_total",
       "Requests answered 408: the client fell behind a deadline.",
       timeouts_.load(kRelaxed)},
      {"tavik_serve_too_large_total",
       "Requests answered 413: the body was over the limit.",
       too_large_.load(kRelaxed)},
      {"tavik_serve_refused_total",
       "Requests refused with 503 while the server stops.",
       refused_.load(kRelaxed)},
      {"tavik_serve_sent_bytes_total",
       "Bytes of answers' bodies sent, as the access log counts them.",
       body_bytes_.load(kRelaxed)},
  };
  for (const auto& counter : counters) {
    AppendFamily(counter.name, "counter", counter.help, &out);
    AppendSample(counter.name, "", Number(counter.value), &out);
  }

  constexpr std::string_view kUnreadable = "tavik_serve_unreadable_total";
  AppendFamily(kUnreadable, "counter",
               "Requests for a folder to search or a file that the "
               "server's user may not read.",
               &out);
  AppendSample(kUnreadable, "{what=\"search_folder\"}",
               Number(unreadable_search_folders_.load(kRelaxed)), &out);
  AppendSample(kUnreadable, "{what=\"file\"}",
               Number(unreadable_files_.load(kRelaxed)), &out);

  const struct {
    std::string_view name;
    std::string_view help;
    int value;
  } gauge_lines[] = {
      {"tavik_serve_requests_in_flight", "Requests being answered now.",
       gauges.requests_in_flight},
      {"tavik_serve_workers_busy",
       "Worker threads holding a connection, busy or idle.",
       gauges.workers_busy},
      {"tavik_serve_workers", "Worker threads.", gauges.workers},
      {"tavik_serve_site_readable",
       "1 when the server's user can list and read the document root.",
       gauges.site_readable ? 1 : 0},
  };
  for (const auto& gauge : gauge_lines) {
    AppendFamily(gauge.name, "gauge", gauge.help, &out);
    AppendSample(gauge.name, "", std::to_string(gauge.value), &out);
  }
  return out;
}

}  // namespace tavik
