#include "host/serve/service_pages.h"

#include <ctime>
#include <vector>

#include "host/serve/response_head.h"

namespace tavik {
namespace {

// Sends `body` as the answer to `request`, with `status` and `type`. The
// connection stays open when the request allows it and carries no body.
RouteOutcome SendText(const HttpRequestFacts& request, std::string_view status,
                      std::string_view type, std::string_view body,
                      HttpConnection* connection) {
  if (request.method != "GET" && request.method != "HEAD") {
    return AnswerWithOwnPage(request, connection, "405 Method Not Allowed",
                             "The server's own pages take GET and HEAD.",
                             "Allow: GET, HEAD");
  }
  const bool keep_alive = request.KeepsAlive() && !request.HasBody();
  if (!keep_alive) connection->CloseAfterResponse();
  const std::string type_field = "Content-Type: " + std::string(type);
  const std::string length = "Content-Length: " + std::to_string(body.size());
  std::string response;
  AppendResponseHead(status, {type_field, length, "Cache-Control: no-store"},
                     BodyFraming::kContentLength, keep_alive,
                     std::time(nullptr), &response);
  const bool head_only = request.method == "HEAD";
  if (!head_only) response.append(body);
  RouteOutcome outcome{.answered = true,
                       .status_code = ParseStatusCode(status),
                       .body_bytes = head_only ? 0 : body.size()};
  if (!connection->Write(response.data(), response.size())) {
    connection->CloseAfterResponse();
    outcome.body_bytes = 0;
  }
  return outcome;
}

}  // namespace

RouteOutcome AnswerHealth(const HttpRequestFacts& request,
                          std::string_view problem,
                          HttpConnection* connection) {
  if (problem.empty()) {
    return SendText(request, "200 OK", "text/plain; charset=utf-8", "ok\n",
                    connection);
  }
  return SendText(request, "503 Service Unavailable",
                  "text/plain; charset=utf-8",
                  "unavailable: " + std::string(problem) + "\n", connection);
}

RouteOutcome AnswerMetrics(const HttpRequestFacts& request,
                           std::string_view exposition,
                           HttpConnection* connection) {
  return SendText(request, "200 OK", kMetricsContentType, exposition,
                  connection);
}

}  // namespace tavik
