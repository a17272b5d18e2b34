// The server's own answers about itself, at paths off the search mount:
// the health check, for a load balancer or a monitor (200 while the server
// can serve its site, 503 otherwise), and the metrics, for Prometheus.
// Both are plain text framed by their Content-Length.
#ifndef TAVIK_HOST_SERVE_SERVICE_PAGES_H_
#define TAVIK_HOST_SERVE_SERVICE_PAGES_H_

#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"
#include "host/serve/request_router.h"

namespace tavik {

// The URL paths the server answers itself (see ServeOptions).
struct ServicePaths {
  std::string health;
  std::string metrics;
};

// The Content-Type of the metrics: Prometheus' text exposition format.
inline constexpr std::string_view kMetricsContentType =
    "text/plain; version=0.0.4; charset=utf-8";

// Answers a GET or HEAD of the health path: "200 OK" with "ok" when
// `problem` is empty, else "503 Service Unavailable" with `problem`; any
// other method gets 405.
RouteOutcome AnswerHealth(const HttpRequestFacts& request,
                          std::string_view problem, HttpConnection* connection);

// Answers a GET or HEAD of the metrics path with `exposition`; any other
// method gets 405.
RouteOutcome AnswerMetrics(const HttpRequestFacts& request,
                           std::string_view exposition,
                           HttpConnection* connection);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SERVICE_PAGES_H_
