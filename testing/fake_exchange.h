// An HTTP exchange in memory, for testing the host without sockets: a
// request whose strings the object owns, and a connection that records
// what is written and serves a body from a string.
#ifndef TAVIK_TESTING_FAKE_EXCHANGE_H_
#define TAVIK_TESTING_FAKE_EXCHANGE_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/serve/http_exchange.h"

namespace tavik::testing {

// The facts of a request from a client on the loopback address
// (127.0.0.1, port 40000) to port 8080, with the given strings and the
// (name, value) pairs of `headers` in order. The views point into the
// arguments, which must outlive the facts.
template <typename Headers>
HttpRequestFacts LoopbackFacts(std::string_view method, std::string_view path,
                               std::string_view query, std::string_view version,
                               const Headers& headers, int64_t content_length) {
  HttpRequestFacts facts;
  facts.method = method;
  facts.path = path;
  facts.query_string = query;
  facts.http_version = version;
  facts.remote_address = "127.0.0.1";
  facts.remote_port = 40000;
  facts.server_port = 8080;
  for (const auto& [name, value] : headers) {
    facts.headers.emplace_back(name, value);
  }
  facts.content_length = content_length;
  return facts;
}

// A request whose views point into its own strings.
class FakeRequest {
 public:
  FakeRequest(std::string method, std::string path,
              std::string version = "1.1");
  FakeRequest(const FakeRequest&) = delete;
  FakeRequest& operator=(const FakeRequest&) = delete;

  FakeRequest& Header(std::string name, std::string value);
  // Adds the Content-Length field and sets content_length.
  FakeRequest& WithContentLength(int64_t length);
  FakeRequest& Query(std::string query);
  // The server will close the connection after the response (it is full).
  FakeRequest& ServerCloses();

  // The facts; valid while this object lives and is not changed.
  const HttpRequestFacts& facts();

 private:
  std::string method_, path_, version_, query_;
  std::deque<std::pair<std::string, std::string>> headers_;
  int64_t content_length_ = -1;
  bool server_closes_ = false;
  HttpRequestFacts facts_;
};

class FakeConnection : public HttpConnection {
 public:
  // The body bytes ReadBody hands out, in pieces of at most `piece` bytes.
  explicit FakeConnection(std::string body = {}, size_t piece = 1 << 20)
      : body_(std::move(body)), piece_(piece) {}

  int64_t ReadBody(void* buffer, size_t size) override;
  bool Write(const void* data, size_t size) override;
  void CloseAfterResponse() override { closes_ = true; }

  // Every Write, in order.
  const std::vector<std::string>& writes() const { return writes_; }
  // All bytes written.
  std::string written() const;
  bool closes() const { return closes_; }
  size_t body_bytes_read() const { return read_at_; }
  // Writes fail from now on.
  void Disconnect() { disconnected_ = true; }
  // Once the body given is read, reads return kBodyTooSlow instead of the
  // end: the client fell behind the server's deadline.
  void FallBehind() { too_slow_ = true; }

 private:
  std::string body_;
  size_t piece_;
  size_t read_at_ = 0;
  std::vector<std::string> writes_;
  bool closes_ = false;
  bool disconnected_ = false;
  bool too_slow_ = false;
};

// A response split at the end of its head.
struct ParsedResponse {
  std::string status_line;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string raw_body;  // as sent, framing included
  // The field's value, or "" when missing.
  std::string Field(const std::string& name) const;
  bool HasField(const std::string& name) const;
};

// Splits `bytes` at the first CR LF CR LF. An unterminated head gives an
// empty status line.
ParsedResponse ParseResponse(const std::string& bytes);

// Decodes the chunked body `raw`. Returns false when it is not exactly a
// sequence of chunks ended by the last chunk.
bool Dechunk(const std::string& raw, std::string* body);

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_FAKE_EXCHANGE_H_
