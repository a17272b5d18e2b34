// The connection of the request a civetweb worker thread is answering, as
// the host's HttpConnection: writes go out with mg_write, and the body is
// read with mg_read under the body's deadline.
#ifndef TAVIK_HOST_SERVE_CIVETWEB_CONNECTION_H_
#define TAVIK_HOST_SERVE_CIVETWEB_CONNECTION_H_

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "host/serve/body_pace.h"
#include "host/serve/client_deadlines.h"
#include "host/serve/http_exchange.h"

struct mg_connection;

namespace tavik {

// How long the server waits for a request body.
struct BodyWait {
  // Where the calling thread arms its deadline.
  ClientDeadlines* deadlines = nullptr;
  // The body's allowance and the rate that extends it (see BodyPace).
  std::chrono::milliseconds allowance{0};
  uint32_t bytes_per_second = 0;
  // How long civetweb itself waits for the next byte before a read returns
  // what it has (its request_timeout_ms).
  std::chrono::milliseconds civetweb_pause{0};
};

class CivetwebConnection : public HttpConnection {
 public:
  // The connection of the request civetweb is answering on this thread, its
  // body read under `wait`. REQUIRES: `wait.deadlines` outlives the object.
  CivetwebConnection(mg_connection* connection, const BodyWait& wait);

  // Reads the body a piece at a time (BodyPace::PieceSize), each piece
  // under a deadline armed for the time the body has left; a client that
  // falls behind is cut off mid-read and kBodyTooSlow returned, from then
  // on. When civetweb gives up waiting for a body whose length is known
  // before its end, the read goes on as long as the body's time lasts.
  int64_t ReadBody(void* buffer, size_t size) override;
  bool Write(const void* data, size_t size) override;
  void CloseAfterResponse() override;

 private:
  mg_connection* connection_;
  ClientDeadlines* deadlines_;
  std::chrono::milliseconds civetweb_pause_;
  BodyPace pace_;
  // The Content-Length, or -1 without one.
  int64_t declared_length_;
  uint64_t received_ = 0;
  bool too_slow_ = false;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_CIVETWEB_CONNECTION_H_
