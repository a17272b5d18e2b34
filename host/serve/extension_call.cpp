#include "host/serve/extension_call.h"

#include <atomic>
#include <vector>

#include "host/control_block.h"
#include "host/serve/request_body.h"
#include "host/serve/response_head.h"
#include "host/serve/response_writer.h"
#include "host/serve/server_variables.h"
#include "host/serve/simple_page.h"

namespace tavik {
namespace {

constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

// What the callbacks of the running request work on.
struct CallState {
  ResponseWriter* writer;
  RequestBody* body;
  const ServerVariableSource* variables;
};

// The request whose HttpExtensionProc runs on this thread, and its ConnID.
// ConnIDs count up from 1 and are never reused, so a handle kept from an
// earlier request is refused too.
struct RunningCall {
  uintptr_t id = 0;
  CallState* state = nullptr;
};
thread_local RunningCall running_call;
std::atomic<uintptr_t> next_connection_id{1};

// The state of the call that `handle` names, or nullptr when it is not the
// call running on this thread.
CallState* RunningCallFor(HCONN handle) {
  if (running_call.state == nullptr ||
      handle != reinterpret_cast<HCONN>(running_call.id)) {
    return nullptr;
  }
  return running_call.state;
}

BOOL TAVIK_CALLBACK ServeGetServerVariable(HCONN handle, LPSTR name,
                                           LPVOID buffer, LPDWORD size) {
  CallState* call = RunningCallFor(handle);
  if (call == nullptr || name == nullptr || size == nullptr) return kFalse;
  const std::optional<std::string> value =
      LookUpServerVariable(*call->variables, name);
  if (!value.has_value()) return kFalse;
  return CopyVariableValue(*value, buffer, size) ? kTrue : kFalse;
}

BOOL TAVIK_CALLBACK ServeWriteClient(HCONN handle, LPVOID buffer, LPDWORD bytes,
                                     DWORD flags) {
  CallState* call = RunningCallFor(handle);
  if (call == nullptr || bytes == nullptr) return kFalse;
  if ((flags & HSE_IO_ASYNC) != 0) return kFalse;
  if (*bytes > 0 && buffer == nullptr) return kFalse;
  return call->writer->WriteBody(buffer, *bytes) ? kTrue : kFalse;
}

BOOL TAVIK_CALLBACK ServeReadClient(HCONN handle, LPVOID buffer, LPDWORD size) {
  CallState* call = RunningCallFor(handle);
  if (call == nullptr || size == nullptr) return kFalse;
  if (*size > 0 && buffer == nullptr) return kFalse;
  const int64_t count = call->body->Read(buffer, *size);
  if (count < 0) {
    *size = 0;
    call->writer->CloseAfterResponse();
    return kFalse;
  }
  *size = static_cast<DWORD>(count);
  return kTrue;
}

BOOL TAVIK_CALLBACK ServeServerSupportFunction(HCONN handle, DWORD request,
                                               LPVOID buffer, LPDWORD /*size*/,
                                               LPDWORD data_type) {
  CallState* call = RunningCallFor(handle);
  if (call == nullptr) return kFalse;
  switch (request) {
    case HSE_REQ_SEND_RESPONSE_HEADER: {
      // Both texts are NUL-terminated; either may be missing.
      const char* status = static_cast<const char*>(buffer);
      const char* header = reinterpret_cast<const char*>(data_type);
      return call->writer->SendHead(status != nullptr ? status : "",
                                    header != nullptr ? header : "")
                 ? kTrue
                 : kFalse;
    }
    case HSE_REQ_DONE_WITH_SESSION:
      // Every call is synchronous: the request ends when the call returns.
      return kTrue;
    default:
      return kFalse;
  }
}

// How many body bytes to read ahead: kReadAheadBytes, fewer for a shorter
// body, and at least 1, so that lpbData is never null.
size_t ReadAheadRoom(const HttpRequestFacts& request) {
  size_t room = request.HasBody() ? kReadAheadBytes : 1;
  if (request.content_length >= 0 &&
      static_cast<uint64_t>(request.content_length) < room) {
    room = static_cast<size_t>(request.content_length) + 1;
  }
  return room;
}

// Reads up to `size` bytes of `body` into `data`. Returns the count, or -1
// when the body could not be read.
int64_t ReadAhead(RequestBody* body, unsigned char* data, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const int64_t count = body->Read(data + filled, size - filled);
    if (count < 0) return -1;
    if (count == 0) break;
    filled += static_cast<size_t>(count);
  }
  return static_cast<int64_t>(filled);
}

DWORD TotalBytes(const HttpRequestFacts& request) {
  if (request.content_length >= 0) {
    return static_cast<DWORD>(request.content_length);
  }
  return request.HasBody() ? kUnknownTotalBytes : 0;
}

// Calls the extension once with a control block for `request` whose
// callbacks work on `state`, on this thread and under a ConnID of its own,
// with `total` in cbTotalBytes, and returns what the extension returned.
DWORD CallExtension(const ExtensionCallSetup& setup,
                    const HttpRequestFacts& request, CallState* state,
                    unsigned char* read_ahead, DWORD available, DWORD total) {
  const uintptr_t id = next_connection_id.fetch_add(1);
  const std::string_view* type = request.FindHeader("Content-Type");
  ControlBlock block(
      {.connection = reinterpret_cast<HCONN>(id),
       .method = request.method,
       .query_string = request.query_string,
       .path_info = setup.path_info,
       .path_translated = setup.path_translated,
       .content_type = type != nullptr ? *type : std::string_view(),
       .total_bytes = total,
       .data = read_ahead,
       .available = available},
      {ServeGetServerVariable, ServeWriteClient, ServeReadClient,
       ServeServerSupportFunction});

  const RunningCall outer = running_call;
  running_call = {id, state};
  const DWORD return_value = setup.extension(block.get());
  running_call = outer;
  return return_value;
}

}  // namespace

ExtensionCallOutcome RunExtensionCall(const ExtensionCallSetup& setup,
                                      const HttpRequestFacts& request,
                                      HttpConnection* connection) {
  ExtensionCallOutcome outcome;
  ResponseWriter writer(connection, &request);
  RequestBody body(&request, connection, setup.max_body_bytes);

  std::vector<unsigned char> read_ahead(ReadAheadRoom(request));
  const int64_t available =
      ReadAhead(&body, read_ahead.data(), read_ahead.size());
  const DWORD total = TotalBytes(request);
  if (available < 0) {
    // The client stopped sending, sent too slowly or sent too much:
    // nothing to search.
    connection->CloseAfterResponse();
    const SimplePage page =
        body.too_slow()
            ? SimplePage{.status = "408 Request Timeout",
                         .message = "The request body came too slowly."}
            : SimplePage{.status = "400 Bad Request",
                         .message = "The request body could not be read."};
    outcome.status_code = ParseStatusCode(page.status);
    outcome.body_bytes = AnswerWithPage(request, page, connection, true);
    return outcome;
  }

  const ServerVariableSource variables{&request, setup.script_name,
                                       setup.path_info, setup.path_translated,
                                       setup.default_server_name};
  CallState state{&writer, &body, &variables};
  outcome.return_value =
      CallExtension(setup, request, &state, read_ahead.data(),
                    static_cast<DWORD>(available), total);
  outcome.extension_called = true;

  // Asynchronous completion (HSE_STATUS_PENDING) is not offered: the
  // request ends here whatever the extension returned.
  if (outcome.return_value != HSE_STATUS_SUCCESS &&
      outcome.return_value != HSE_STATUS_SUCCESS_AND_KEEP_CONN) {
    writer.CloseAfterResponse();
  }
  writer.Finish();
  if (!body.Drain()) writer.CloseAfterResponse();
  outcome.status_code = writer.status_code();
  outcome.body_bytes = writer.body_bytes();
  return outcome;
}

}  // namespace tavik
