// One HTTP request as the extension host sees it: what the client asked
// (HttpRequestFacts) and the byte stream between the host and the client
// (HttpConnection). The civetweb adapter provides both for the server; the
// tests provide them in memory.
#ifndef TAVIK_HOST_SERVE_HTTP_EXCHANGE_H_
#define TAVIK_HOST_SERVE_HTTP_EXCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "host/http_text.h"

namespace tavik {

// What the client asked. Every view stays valid while the request is being
// answered, and no longer.
struct HttpRequestFacts {
  std::string_view method;        // "GET", "POST", ...
  std::string_view path;          // percent-decoded, dot segments kept
  std::string_view query_string;  // as sent, without the "?"; may be empty
  std::string_view http_version;  // "1.0", "1.1"
  std::string_view remote_address;
  int remote_port = 0;
  int server_port = 0;
  // The request's header fields in the order they came.
  std::vector<std::pair<std::string_view, std::string_view>> headers;
  // The Content-Length the client gave, or -1 without one (no body, or a
  // chunked one).
  int64_t content_length = -1;
  // False when the server closes the connection after this response
  // whatever the client asks: every worker thread holds a connection, and
  // others wait for one.
  bool server_keeps_alive = true;

  // The value of the first header field named `name` (letters compared
  // without case), or nullptr when there is none.
  const std::string_view* FindHeader(std::string_view name) const;
  // True when the request carries a body: a Content-Length above zero or a
  // chunked transfer coding.
  bool HasBody() const;
  // True when the client lets the connection stay open after the response,
  // decided as civetweb decides it: by the Connection field when there is
  // one ("keep-alive" keeps it), otherwise by the version (1.1 keeps it).
  bool ClientKeepsAlive() const;
  // True when the connection stays open after the response: the client
  // lets it and the server keeps it.
  bool KeepsAlive() const { return server_keeps_alive && ClientKeepsAlive(); }
};

// What ReadBody returns when the client sent the body too slowly and the
// server stopped waiting for it.
inline constexpr int64_t kBodyTooSlow = -2;

// The connection a request came on.
class HttpConnection {
 public:
  virtual ~HttpConnection() = default;

  // Reads at most `size` bytes of the request body (after any transfer
  // coding is removed) into `buffer`. Returns the count read, 0 at the end
  // of the body, kBodyTooSlow when the client fell behind the server's
  // deadline, or another negative value when the connection failed.
  virtual int64_t ReadBody(void* buffer, size_t size) = 0;

  // Sends all `size` bytes to the client before returning. Returns false
  // when the client can no longer be reached; some bytes may have gone.
  virtual bool Write(const void* data, size_t size) = 0;

  // The connection is closed once this response is complete, whatever the
  // client asked for.
  virtual void CloseAfterResponse() = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_HTTP_EXCHANGE_H_
