#include "host/captured_request.h"

#include <cstring>
#include <memory>

#include "host/control_block.h"

namespace tavik {
namespace {

// The connection a control block's ConnID points at.
struct Connection {
  CapturedResponse* response;
};

// The request running on this thread; callbacks come on the thread that
// called HttpExtensionProc.
thread_local Connection* current_connection = nullptr;

// Returns the connection behind `handle`, or records the mismatch and
// returns nullptr when it is not the running request's.
Connection* ConnectionFor(HCONN handle) {
  if (handle == current_connection) return current_connection;
  if (current_connection != nullptr) {
    current_connection->response->events.push_back(
        {CallbackEvent::Kind::kWrongConnection, "", "", 0});
  }
  return nullptr;
}

BOOL TAVIK_CALLBACK CaptureWriteClient(HCONN handle, LPVOID buffer,
                                       LPDWORD bytes, DWORD /*reserved*/) {
  Connection* connection = ConnectionFor(handle);
  if (connection == nullptr) return 0;
  CallbackEvent event{CallbackEvent::Kind::kWriteClient, "", "", 0};
  if (buffer != nullptr && bytes != nullptr) {
    event.data.assign(static_cast<const char*>(buffer), *bytes);
  }
  connection->response->events.push_back(std::move(event));
  return 1;
}

BOOL TAVIK_CALLBACK CaptureServerSupportFunction(HCONN handle, DWORD request,
                                                 LPVOID buffer,
                                                 LPDWORD /*size*/,
                                                 LPDWORD data_type) {
  Connection* connection = ConnectionFor(handle);
  if (connection == nullptr) return 0;
  CallbackEvent event{CallbackEvent::Kind::kOtherSupportRequest, "", "",
                      request};
  if (request == HSE_REQ_SEND_RESPONSE_HEADER) {
    event.kind = CallbackEvent::Kind::kSendResponseHeader;
    if (buffer != nullptr) event.status = static_cast<const char*>(buffer);
    if (data_type != nullptr) {
      event.data = reinterpret_cast<const char*>(data_type);
    }
  } else if (request == HSE_REQ_DONE_WITH_SESSION) {
    event.kind = CallbackEvent::Kind::kDoneWithSession;
  }
  connection->response->events.push_back(std::move(event));
  return request == HSE_REQ_SEND_RESPONSE_HEADER ||
         request == HSE_REQ_DONE_WITH_SESSION;
}

BOOL TAVIK_CALLBACK CaptureReadClient(HCONN handle, LPVOID /*buffer*/,
                                      LPDWORD size) {
  Connection* connection = ConnectionFor(handle);
  if (connection == nullptr) return 0;
  connection->response->events.push_back(
      {CallbackEvent::Kind::kReadClient, "", "", 0});
  if (size != nullptr) *size = 0;
  return 0;
}

BOOL TAVIK_CALLBACK CaptureGetServerVariable(HCONN handle, LPSTR name,
                                             LPVOID /*buffer*/,
                                             LPDWORD /*size*/) {
  Connection* connection = ConnectionFor(handle);
  if (connection == nullptr) return 0;
  connection->response->events.push_back(
      {CallbackEvent::Kind::kGetServerVariable, "", name ? name : "", 0});
  return 0;
}

}  // namespace

std::string CapturedResponse::AsHttp() const {
  std::string http;
  for (const CallbackEvent& event : events) {
    if (event.kind == CallbackEvent::Kind::kSendResponseHeader) {
      http += "HTTP/1.1 " + event.status + "\r\n" + event.data;
    } else if (event.kind == CallbackEvent::Kind::kWriteClient) {
      http += event.data;
    }
  }
  return http;
}

std::string CapturedResponse::Body() const {
  std::string body;
  for (const CallbackEvent& event : events) {
    if (event.kind == CallbackEvent::Kind::kWriteClient) body += event.data;
  }
  return body;
}

namespace {

// Runs `library` once with the block `request`, whose connection is
// `connection`, capturing into `*connection.response`.
void RunCaptured(const ExtensionLibrary& library, ControlBlockRequest request,
                 Connection& connection) {
  request.connection = &connection;
  ControlBlock block(request,
                     {CaptureGetServerVariable, CaptureWriteClient,
                      CaptureReadClient, CaptureServerSupportFunction});
  Connection* outer = current_connection;
  current_connection = &connection;
  connection.response->return_value = library.HttpExtensionProc()(block.get());
  current_connection = outer;
}

}  // namespace

CapturedResponse RunCapturedRequest(const ExtensionLibrary& library,
                                    const std::string& posted,
                                    const std::string& path_info) {
  CapturedResponse response;
  Connection connection{&response};
  // Exactly the posted bytes, no terminator after them: a read past
  // cbAvailable is a fault the memory checkers can see.
  std::unique_ptr<unsigned char[]> data(new unsigned char[posted.size()]);
  std::memcpy(data.get(), posted.data(), posted.size());
  RunCaptured(library,
              {.method = "POST",
               .path_info = path_info,
               .path_translated = path_info,
               .content_type = "application/x-www-form-urlencoded",
               .total_bytes = static_cast<DWORD>(posted.size()),
               .data = data.get(),
               .available = static_cast<DWORD>(posted.size())},
              connection);
  return response;
}

CapturedResponse RunCapturedGet(const ExtensionLibrary& library,
                                const std::string& query_string,
                                const std::string& path_info) {
  CapturedResponse response;
  Connection connection{&response};
  unsigned char no_data[1] = {0};
  RunCaptured(library,
              {.method = "GET",
               .query_string = query_string,
               .path_info = path_info,
               .path_translated = path_info,
               .data = no_data},
              connection);
  return response;
}

}  // namespace tavik
