// tavik-serve's HTTP server: civetweb listening on one address, its worker
// threads answering requests through RouteRequest, civetweb itself serving
// the static files the router leaves to it.
#ifndef TAVIK_HOST_SERVE_SEARCH_SERVER_H_
#define TAVIK_HOST_SERVE_SEARCH_SERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "host/serve/access_log.h"
#include "host/serve/request_router.h"

struct mg_context;

namespace tavik {

struct ListenSettings {
  std::string bind_address;  // an IPv4 address
  int port = 0;              // 0: any free port
  // Worker threads: connections served at once. Each holds one
  // connection, busy or idle, until it closes.
  int threads = 1;
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
  // Stops the server: open connections are closed, and a request still
  // running is cut off (Drain first to let it finish).
  ~SearchServer();
  SearchServer(const SearchServer&) = delete;
  SearchServer& operator=(const SearchServer&) = delete;

  // The port the server listens on (the one chosen for port 0).
  int port() const { return port_; }

  // Waits until no request is running, at most `limit`, while every request
  // that comes meanwhile is answered "503 Service Unavailable" and closes
  // its connection. Returns false when requests were still running at the
  // limit. Call it once, before destruction.
  bool Drain(std::chrono::milliseconds limit);

  // What civetweb's callbacks reach; public for them alone.
  struct Shared {
    RouterConfig router;
    AccessLog* access_log = nullptr;
    int worker_threads = 0;
    // Connections that worker threads hold now.
    std::atomic<int> connections_held{0};
    // Requests between begin_request and end_request, and whether new ones
    // are refused; the condition tells Drain of each one that ends.
    std::mutex mutex;
    std::condition_variable request_ended;
    int requests_running = 0;
    bool draining = false;
  };

 private:
  SearchServer() = default;

  std::unique_ptr<Shared> shared_;
  mg_context* context_ = nullptr;
  int port_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SEARCH_SERVER_H_
