#include "host/serve/search_server.h"

#include <civetweb.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include "host/serve/civetweb_connection.h"
#include "host/serve/client_deadlines.h"
#include "host/serve/http_exchange.h"
#include "host/serve/listen_probe.h"
#include "host/serve/response_head.h"
#include "host/serve/server_metrics.h"
#include "host/serve/simple_page.h"
#include "host/serve/site_access.h"
#include "host/serve/static_file.h"
#include "host/url_mapping.h"

namespace tavik {

struct SearchServerState {
  ClientRules clients;
  std::chrono::milliseconds keep_alive{0};
  std::unique_ptr<ClientDeadlines> deadlines;
  RouterConfig router;
  ServicePaths service;
  ServerMetrics metrics;
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

namespace {

// civetweb gives each accepted connection to one worker thread, which keeps
// it until it closes: it waits for each request, answers it, and waits for
// the next while the connection is kept alive. Connections accepted while
// every worker is busy wait in a queue (then in the kernel's backlog) in the
// order they came. So a connection that sends nothing, or sends slowly,
// holds a worker until a deadline ends it, and whoever comes after waits:
// - a request head must have come within ClientRules::head_timeout of the
//   moment a worker takes the connection, however slowly its bytes come;
// - a kept-alive connection's next request head, within kKeepAlive;
// - a body is read under its own deadline (CivetwebConnection::ReadBody).
// ClientDeadlines interrupts the worker's wait when a deadline passes;
// civetweb's own limits are the same or longer and stay as a second guard.
// A head cut short gets 408 (HttpError), a silent connection is closed.
// Enough workers (ListenSettings::threads) make idle connections cheap to
// hold, and a kept-alive connection gives its worker up when every worker
// is busy (see BeginRequest).
constexpr std::chrono::milliseconds kKeepAlive{2000};

// What begin_request learnt, for the access-log line end_request writes;
// both run on the worker thread that answers the request.
struct RequestNote {
  bool seen = false;
  std::time_t time = 0;
  std::chrono::steady_clock::time_point start = {};  // for the latency
  std::string path = {};                             // decoded
  std::string client_address = {};                   // see ClientAddress
  std::optional<uint64_t> body_bytes = {};
};
thread_local RequestNote request_note;

// Set when HttpError has counted the answer it sent: civetweb calls
// end_request for some of the errors it finds itself and not for others
// (a malformed head, one past its deadline), so HttpError counts them and
// EndRequest leaves the one it counted. A request begun, or the connection
// closed (which follows every such error), clears it.
thread_local bool answer_counted_by_error = false;

// Messages civetweb logs while the server starts are kept for the one-line
// error; afterwards they go to standard error.
std::atomic<bool> starting{false};

// The facts of the request `info` describes, with `path` its decoded path.
HttpRequestFacts FactsOf(const mg_request_info& info, std::string_view path) {
  HttpRequestFacts facts;
  facts.method = info.request_method;
  facts.path = path;
  facts.query_string = info.query_string != nullptr ? info.query_string : "";
  facts.http_version = info.http_version != nullptr ? info.http_version : "";
  facts.remote_address = info.remote_addr;
  facts.remote_port = info.remote_port;
  facts.server_port = info.server_port;
  facts.headers.reserve(static_cast<size_t>(info.num_headers));
  for (int i = 0; i < info.num_headers; ++i) {
    facts.headers.emplace_back(info.http_headers[i].name,
                               info.http_headers[i].value);
  }
  facts.content_length = info.content_length;
  return facts;
}

// The connection of the request civetweb is answering on this thread.
CivetwebConnection ConnectionOf(mg_connection* connection,
                                const SearchServerState& state) {
  return CivetwebConnection(connection,
                            {.deadlines = state.deadlines.get(),
                             .allowance = state.clients.body_timeout,
                             .bytes_per_second = state.clients.body_min_rate,
                             .civetweb_pause = state.clients.head_timeout});
}

// The server's state, from any of its connections. (The request info's
// copy of the pointer is not yet set when a connection starts.)
SearchServerState* StateOf(const mg_connection* connection) {
  return static_cast<SearchServerState*>(
      mg_get_user_data(mg_get_context(connection)));
}

// Each worker thread holds one connection between these two calls; the
// first request head is awaited from the first.
int InitConnection(const mg_connection* connection, void** /*data*/) {
  SearchServerState* state = StateOf(connection);
  answer_counted_by_error = false;
  state->connections_held++;
  state->deadlines->Arm(ClientDeadlines::Clock::now() +
                        state->clients.head_timeout);
  return 0;
}

void ConnectionClose(const mg_connection* connection) {
  SearchServerState* state = StateOf(connection);
  answer_counted_by_error = false;
  state->deadlines->Disarm();
  state->connections_held--;
}

// Answers a request the router never sees with the server's own page and
// closes its connection; returns the status code for end_request.
int AnswerBeforeRouting(mg_connection* connection, int status_code,
                        const SimplePage& page) {
  mg_disable_connection_keep_alive(connection);
  CivetwebConnection adapter = ConnectionOf(connection, *StateOf(connection));
  request_note.body_bytes = SendSimplePage(page, &adapter);
  return status_code;
}

// Why the server cannot serve its site now, or "".
std::string ServiceProblem(const SearchServerState& state, bool stopping) {
  if (stopping) return "the server is stopping";
  if (state.router.extension == nullptr) return "the extension is not loaded";
  return SiteReadProblem(state.router.document_root);
}

// True when the request whose raw path is `raw_path` asks for the health
// check or the metrics, which are answered while the server stops too.
bool IsServicePath(const SearchServerState& state, const char* raw_path) {
  if (raw_path == nullptr) return false;
  const std::string path = DecodeUrlPath(raw_path);
  return path == state.service.health || path == state.service.metrics;
}

// Answers the health check and the metrics; leaves every other request
// unanswered. While the server stops, the health check fails.
RouteOutcome AnswerServicePage(SearchServerState& state,
                               const HttpRequestFacts& request, bool stopping,
                               HttpConnection* connection) {
  if (request.path == state.service.health) {
    return AnswerHealth(request, ServiceProblem(state, stopping), connection);
  }
  if (request.path == state.service.metrics) {
    ServerGauges gauges;
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      gauges.requests_in_flight = state.requests_running;
    }
    gauges.workers_busy = state.connections_held.load();
    gauges.workers = state.worker_threads;
    gauges.site_readable = ServiceProblem(state, false).empty();
    return AnswerMetrics(request, state.metrics.Exposition(gauges), connection);
  }
  return {};
}

int BeginRequest(mg_connection* connection) {
  const mg_request_info* info = mg_get_request_info(connection);
  auto* state = static_cast<SearchServerState*>(info->user_data);
  // The head has come.
  state->deadlines->Disarm();
  answer_counted_by_error = false;
  request_note = RequestNote{.seen = true,
                             .time = std::time(nullptr),
                             .start = std::chrono::steady_clock::now(),
                             .client_address = info->remote_addr};
  bool draining;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    ++state->requests_running;
    draining = state->draining;
  }
  if (draining && !IsServicePath(*state, info->local_uri_raw)) {
    // The server is stopping: a request that comes now is not begun.
    state->metrics.CountRefused();
    return AnswerBeforeRouting(
        connection, 503,
        {.status = "503 Service Unavailable",
         .message = "The server is stopping.",
         .head_only = std::strcmp(info->request_method, "HEAD") == 0});
  }
  if (info->local_uri_raw == nullptr) {
    // A request for another host, or for "*": nothing here answers it.
    return AnswerBeforeRouting(
        connection, 400,
        {.status = "400 Bad Request",
         .message = "The request names no path on this server."});
  }
  CivetwebConnection adapter = ConnectionOf(connection, *state);
  // civetweb is told not to decode the path, so that a NUL in it is seen
  // rather than cutting it short.
  request_note.path = DecodeUrlPath(info->local_uri_raw);
  HttpRequestFacts facts = FactsOf(*info, request_note.path);
  request_note.client_address =
      ClientAddress(state->clients.trusted_proxies, info->remote_addr, facts);
  facts.remote_address = request_note.client_address;
  if (draining || state->connections_held.load() >= state->worker_threads) {
    // Every worker holds a connection: this one is closed after its answer,
    // so that a connection waiting in the queue gets its worker rather than
    // wait for as long as this client keeps sending. (A server that stops
    // closes every connection after its answer.)
    facts.server_keeps_alive = false;
    adapter.CloseAfterResponse();
  }
  RouteOutcome outcome = AnswerServicePage(*state, facts, draining, &adapter);
  if (!outcome.answered) outcome = RouteRequest(state->router, facts, &adapter);
  if (!outcome.answered) {
    outcome = SendStaticFile(state->router.document_root, facts,
                             outcome.static_file, &adapter);
  }
  state->metrics.CountUnreadable(outcome.unreadable);
  request_note.body_bytes = outcome.body_bytes;
  if (outcome.streamed_past_bound) {
    // A front server cannot pass such an answer to another backend once
    // it has begun, should this one die before it ends.
    std::fprintf(stderr,
                 "tavik-serve: an answer grew past %zu bytes and went as the "
                 "extension wrote it, not whole\n",
                 state->router.whole_answer_bytes);
  }
  return outcome.status_code;
}

void EndRequest(const mg_connection* connection, int status_code) {
  const mg_request_info* info = mg_get_request_info(connection);
  auto* state = static_cast<SearchServerState*>(info->user_data);
  RequestNote note = std::move(request_note);
  request_note = RequestNote();
  // The next request on a kept-alive connection; a connection that closes
  // instead disarms in ConnectionClose.
  state->deadlines->Arm(ClientDeadlines::Clock::now() + state->keep_alive);
  if (note.seen) {
    std::lock_guard<std::mutex> lock(state->mutex);
    --state->requests_running;
    state->request_ended.notify_all();
  }
  if (!answer_counted_by_error) {
    state->metrics.CountAnswer(status_code, note.body_bytes.value_or(0));
  }
  answer_counted_by_error = false;
  if (note.seen) {
    state->metrics.CountLatency(std::chrono::steady_clock::now() - note.start);
  }
  if (state->access_log == nullptr) return;

  if (!note.seen) {
    // civetweb answered the request itself: a malformed one, say.
    note.time = std::time(nullptr);
    const char* raw = info->local_uri_raw != nullptr ? info->local_uri_raw
                                                     : info->request_uri;
    if (raw != nullptr) note.path = DecodeUrlPath(raw);
  }
  AccessRecord record;
  record.remote_address =
      note.seen ? std::string_view(note.client_address) : info->remote_addr;
  record.time = note.time;
  record.method = info->request_method != nullptr ? info->request_method : "-";
  record.path = note.path;
  record.query_string = info->query_string != nullptr ? info->query_string : "";
  record.http_version = info->http_version != nullptr ? info->http_version : "";
  record.status_code = status_code;
  record.body_bytes = note.body_bytes;
  state->access_log->Write(record);
}

// Answers the errors civetweb finds itself (a malformed request, a head
// past its size limit, a missing file) with the server's own page: civetweb's
// status line repeats whatever the client sent as its version, line ends
// included. The connection closes after it, as civetweb's would.
int HttpError(mg_connection* connection, int status, const char* message) {
  SearchServerState* state = StateOf(connection);
  // A head that was still coming when its deadline passed: civetweb saw
  // the read fail and calls the part it had malformed.
  if (state->deadlines->Disarm() && status == 400) {
    status = 408;
    message = "The request head came too slowly.";
  }
  if (!StatusAllowsBody(status)) {
    state->metrics.CountAnswer(status, 0);
    answer_counted_by_error = true;
    return 1;  // civetweb's own answer is right
  }
  mg_disable_connection_keep_alive(connection);
  const mg_request_info* info = mg_get_request_info(connection);
  const bool head_only = info->request_method != nullptr &&
                         std::strcmp(info->request_method, "HEAD") == 0;
  // civetweb's own reason for 408 is an old spelling, "Request Time-out".
  const std::string status_text =
      status == 408 ? std::string("408 Request Timeout")
                    : std::to_string(status) + " " +
                          mg_get_response_code_text(connection, status);
  CivetwebConnection adapter = ConnectionOf(connection, *state);
  const uint64_t body_bytes = SendSimplePage(
      {.status = status_text, .message = message, .head_only = head_only},
      &adapter);
  state->metrics.CountAnswer(status, body_bytes);
  answer_counted_by_error = true;
  return 0;
}

int LogMessage(const mg_connection* /*connection*/, const char* message) {
  if (!starting.load()) {
    std::fprintf(stderr, "tavik-serve: civetweb: %s\n", message);
  }
  return 1;
}

}  // namespace

std::unique_ptr<SearchServer> SearchServer::Start(const ListenSettings& listen,
                                                  const ClientRules& clients,
                                                  const RouterConfig& router,
                                                  const ServicePaths& service,
                                                  AccessLog* access_log,
                                                  std::string* error) {
  // civetweb's own set-up, once per process, before its first server.
  static const unsigned initialized = mg_init_library(0);
  (void)initialized;

  std::unique_ptr<SearchServer> server(new SearchServer);
  server->state_ = std::make_unique<SearchServerState>();
  server->state_->clients = clients;
  server->state_->keep_alive = std::min(kKeepAlive, clients.head_timeout);
  server->state_->deadlines = ClientDeadlines::Start(error);
  if (!server->state_->deadlines) return nullptr;
  server->state_->router = router;
  server->state_->service = service;
  server->state_->access_log = access_log;
  server->state_->worker_threads = listen.threads;

  const std::string ports =
      listen.bind_address + ":" + std::to_string(listen.port);
  const std::string threads = std::to_string(listen.threads);
  // civetweb's own limits, which the deadlines above keep before them.
  const std::string request_timeout =
      std::to_string(clients.head_timeout.count());
  const std::string keep_alive_timeout =
      std::to_string(server->state_->keep_alive.count());
  // civetweb gets no document root: every request is answered by
  // BeginRequest, static files too, and civetweb's own file server, which
  // would take the path as civetweb reads it, never runs.
  const char* options[] = {
      "listening_ports", ports.c_str(), "num_threads", threads.c_str(),
      "enable_keep_alive", "yes", "keep_alive_timeout_ms",
      keep_alive_timeout.c_str(), "request_timeout_ms", request_timeout.c_str(),
      // The path is decoded by tavik-serve: civetweb's decoding writes a
      // NUL where "%00" was, and the rest of the path would be lost.
      "decode_url", "no",
      // Without it, a response written in several pieces waits for the
      // acknowledgement of the first (Nagle's algorithm) at every request.
      "tcp_nodelay", "1", nullptr};

  mg_callbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.begin_request = BeginRequest;
  callbacks.end_request = EndRequest;
  callbacks.init_connection = InitConnection;
  callbacks.connection_close = ConnectionClose;
  callbacks.log_message = LogMessage;
  callbacks.http_error = HttpError;

  char reason[256] = "";
  unsigned code = 0;
  mg_error_data error_data{&code, reason, sizeof reason};
  mg_init_data init{&callbacks, server->state_.get(), options};
  starting.store(true);
  server->context_ = mg_start2(&init, &error_data);
  starting.store(false);
  if (server->context_ == nullptr) {
    // civetweb says only that its ports failed; the system says why.
    std::string why = ListenRefusal(listen.bind_address, listen.port);
    if (why.empty()) {
      why = reason[0] != '\0' ? reason : "civetweb did not start";
    }
    *error = "cannot listen on " + ports + ": " + why;
    return nullptr;
  }

  mg_server_port port;
  if (mg_get_server_ports(server->context_, 1, &port) != 1) {
    *error = "cannot tell the port civetweb listens on";
    return nullptr;
  }
  server->port_ = port.port;
  return server;
}

bool SearchServer::Drain(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->draining = true;
  return state_->request_ended.wait_for(
      lock, limit, [this] { return state_->requests_running == 0; });
}

SearchServer::~SearchServer() {
  if (context_ != nullptr) mg_stop(context_);
}

}  // namespace tavik
