// tavik-serve's HTTP server: civetweb listening on one address, its worker
// threads answering requests through RouteRequest, civetweb itself serving
// the static files the router leaves to it.
#ifndef TAVIK_HOST_SERVE_SEARCH_SERVER_H_
#define TAVIK_HOST_SERVE_SEARCH_SERVER_H_

#include <memory>
#include <string>

#include "host/serve/access_log.h"
#include "host/serve/request_router.h"

struct mg_context;

namespace tavik {

struct ListenSettings {
  std::string bind_address;  // an IPv4 address
  int port = 0;              // 0: any free port
  int threads = 1;           // worker threads: requests served at once
};

class SearchServer {
 public:
  // Starts serving `router` (its document root also for static files) on
  // `listen`, logging each request to `access_log` when it is not null.
  // Returns nullptr and a one-line reason in `error` when the server cannot
  // start (the port is taken, say). REQUIRES: `access_log` outlives the
  // server.
  static std::unique_ptr<SearchServer> Start(const ListenSettings& listen,
                                             const RouterConfig& router,
                                             AccessLog* access_log,
                                             std::string* error);
  // Stops accepting, lets the requests in flight finish, then returns.
  ~SearchServer();
  SearchServer(const SearchServer&) = delete;
  SearchServer& operator=(const SearchServer&) = delete;

  // The port the server listens on (the one chosen for port 0).
  int port() const { return port_; }

  // What civetweb's callbacks reach; public for them alone.
  struct Shared {
    RouterConfig router;
    AccessLog* access_log = nullptr;
  };

 private:
  SearchServer() = default;

  std::unique_ptr<Shared> shared_;
  mg_context* context_ = nullptr;
  int port_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SEARCH_SERVER_H_
