// tavik-serve's HTTP server: civetweb listening on one address, its worker
// threads answering requests through RouteRequest, and the static files the
// router leaves through SendStaticFile.
#ifndef TAVIK_HOST_SERVE_SEARCH_SERVER_H_
#define TAVIK_HOST_SERVE_SEARCH_SERVER_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/serve/access_log.h"
#include "host/serve/client_address.h"
#include "host/serve/request_router.h"
#include "host/serve/service_pages.h"

struct mg_context;

namespace tavik {

// What the server's civetweb callbacks share: the routing, the log, and
// the count of requests running that Drain waits on. Defined with them.
struct SearchServerState;

struct ListenSettings {
  std::string bind_address;  // an IPv4 address
  int port = 0;              // 0: any free port
  // Worker threads: connections served at once. Each holds one
  // connection, busy or idle, until it closes.
  int threads = 1;
};

// How the server treats its clients.
struct ClientRules {
  // Peers whose X-Forwarded-For names the client (see ClientAddress).
  std::vector<Ipv4Network> trusted_proxies;
  // A request head must have come this long after a worker takes the
  // connection, or the client gets 408 (nothing when it sent nothing) and
  // the connection closes. A kept-alive connection's next head gets 2 s,
  // or this when it is shorter.
  std::chrono::milliseconds head_timeout{10000};
  // A body may keep the worker waiting this long, and one second more for
  // every body_min_rate bytes it sends (BodyPace); a client that falls
  // behind gets 408 and the connection closes.
  std::chrono::milliseconds body_timeout{20000};
  uint32_t body_min_rate = 500;
};

class SearchServer {
 public:
  // Starts serving `router` (its document root also for static files) on
  // `listen` under `clients`, with its health check and metrics at
  // `service`, logging each request to `access_log` when it is not null.
  // Returns nullptr and a one-line reason in `error` when the server cannot
  // start (the port is taken, say: the reason says why). REQUIRES:
  // `access_log` outlives the server.
  static std::unique_ptr<SearchServer> Start(const ListenSettings& listen,
                                             const ClientRules& clients,
                                             const RouterConfig& router,
                                             const ServicePaths& service,
                                             AccessLog* access_log,
                                             std::string* error);
  // Stops the server: open connections are closed, and a request still
  // running is cut off (Drain first to let it finish).
  ~SearchServer();
  SearchServer(const SearchServer&) = delete;
  SearchServer& operator=(const SearchServer&) = delete;

  // The port the server listens on (the one chosen for port 0).
  int port() const { return port_; }

  // Waits until no request is running, at most `limit`, while every request
  // that comes meanwhile is answered "503 Service Unavailable" and closes
  // its connection: the health check too, while the metrics are still
  // given. Returns false when requests were still running at the limit.
  // Call it once, before destruction.
  bool Drain(std::chrono::milliseconds limit);

 private:
  SearchServer() = default;

  std::unique_ptr<SearchServerState> state_;
  mg_context* context_ = nullptr;
  int port_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SEARCH_SERVER_H_
