#include "host/extension_invocation.h"

#include <atomic>

#include "host/control_block.h"
#include "host/server_variables.h"

namespace tavik {
namespace {

constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

// The call whose HttpExtensionProc runs on this thread, and its ConnID.
// ConnIDs count up from 1 and are never reused, so a handle kept from an
// earlier call is refused too.
struct RunningCall {
  uintptr_t id = 0;
  ExtensionHostCalls* host = nullptr;
};
thread_local RunningCall running_call;
std::atomic<uintptr_t> next_connection_id{1};

// The host of the call that `handle` names, or nullptr when it is not the
// call running on this thread.
ExtensionHostCalls* RunningCallFor(HCONN handle) {
  if (running_call.host == nullptr ||
      handle != reinterpret_cast<HCONN>(running_call.id)) {
    return nullptr;
  }
  return running_call.host;
}

BOOL TAVIK_CALLBACK HostGetServerVariable(HCONN handle, LPSTR name,
                                          LPVOID buffer, LPDWORD size) {
  ExtensionHostCalls* host = RunningCallFor(handle);
  if (host == nullptr || name == nullptr || size == nullptr) return kFalse;
  const std::optional<std::string> value = host->ServerVariable(name);
  if (!value.has_value()) return kFalse;
  return CopyVariableValue(*value, buffer, size) ? kTrue : kFalse;
}

BOOL TAVIK_CALLBACK HostWriteClient(HCONN handle, LPVOID buffer, LPDWORD bytes,
                                    DWORD flags) {
  ExtensionHostCalls* host = RunningCallFor(handle);
  if (host == nullptr || bytes == nullptr) return kFalse;
  if ((flags & HSE_IO_ASYNC) != 0) return kFalse;
  if (*bytes > 0 && buffer == nullptr) return kFalse;
  return host->WriteClient(buffer, *bytes) ? kTrue : kFalse;
}

BOOL TAVIK_CALLBACK HostReadClient(HCONN handle, LPVOID buffer, LPDWORD size) {
  ExtensionHostCalls* host = RunningCallFor(handle);
  if (host == nullptr || size == nullptr) return kFalse;
  if (*size > 0 && buffer == nullptr) return kFalse;
  const int64_t count = host->ReadClient(buffer, *size);
  if (count < 0) {
    *size = 0;
    return kFalse;
  }
  *size = static_cast<DWORD>(count);
  return kTrue;
}

BOOL TAVIK_CALLBACK HostServerSupportFunction(HCONN handle, DWORD request,
                                              LPVOID buffer, LPDWORD /*size*/,
                                              LPDWORD data_type) {
  ExtensionHostCalls* host = RunningCallFor(handle);
  if (host == nullptr) return kFalse;
  switch (request) {
    case HSE_REQ_SEND_RESPONSE_HEADER: {
      // Both texts are NUL-terminated; either may be missing.
      const char* status = static_cast<const char*>(buffer);
      const char* header = reinterpret_cast<const char*>(data_type);
      return host->SendResponseHeader(status != nullptr ? status : "",
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

}  // namespace

DWORD InvokeExtension(HttpExtensionProcFn extension,
                      const RequestSummary& request, PostedData* posted,
                      const MountedFolder& folder, ExtensionHostCalls* host) {
  const uintptr_t id = next_connection_id.fetch_add(1);
  ControlBlock block({.connection = reinterpret_cast<HCONN>(id),
                      .method = request.method,
                      .query_string = request.query_string,
                      .path_info = folder.path_info,
                      .path_translated = folder.path_translated,
                      .content_type = request.content_type,
                      .total_bytes = posted->total_bytes(),
                      .data = posted->data(),
                      .available = posted->available()},
                     {HostGetServerVariable, HostWriteClient, HostReadClient,
                      HostServerSupportFunction});

  const RunningCall outer = running_call;
  running_call = {id, host};
  const DWORD return_value = extension(block.get());
  running_call = outer;
  return return_value;
}

}  // namespace tavik
