// The control block a host hands HttpExtensionProc for one request, filled
// as a Windows server fills it, for every host here alike.
#ifndef TAVIK_HOST_CONTROL_BLOCK_H_
#define TAVIK_HOST_CONTROL_BLOCK_H_

#include <string>
#include <string_view>

#include "interface/server_interface.h"

namespace tavik {

// dwVersion of the control block: the interface version the hosts offer
// (major in the high 16 bits).
inline constexpr DWORD kInterfaceVersion = 0x00050000;

// What one request puts in its block.
struct ControlBlockRequest {
  HCONN connection = nullptr;             // ConnID
  std::string_view method = {};           // lpszMethod
  std::string_view query_string = {};     // lpszQueryString
  std::string_view path_info = {};        // lpszPathInfo
  std::string_view path_translated = {};  // lpszPathTranslated
  std::string_view content_type = {};     // lpszContentType
  DWORD total_bytes = 0;                  // cbTotalBytes
  // lpbData and cbAvailable: the body bytes read before the call. Owned by
  // the caller; never null, even with no bytes.
  unsigned char* data = nullptr;
  DWORD available = 0;
};

// The host's answers to the extension's calls.
struct ControlBlockCallbacks {
  decltype(EXTENSION_CONTROL_BLOCK::GetServerVariable) get_server_variable;
  decltype(EXTENSION_CONTROL_BLOCK::WriteClient) write_client;
  decltype(EXTENSION_CONTROL_BLOCK::ReadClient) read_client;
  decltype(EXTENSION_CONTROL_BLOCK::ServerSupportFunction)
      server_support_function;
};

// A filled control block and the strings it points at. The strings are
// copies, so whatever the extension writes into them stays here. Every
// member the request does not give is zero, but cbSize, dwVersion
// (kInterfaceVersion) and dwHttpStatusCode (200).
class ControlBlock {
 public:
  ControlBlock(const ControlBlockRequest& request,
               const ControlBlockCallbacks& callbacks);
  ControlBlock(const ControlBlock&) = delete;
  ControlBlock& operator=(const ControlBlock&) = delete;

  // The block to pass to HttpExtensionProc; valid while this object lives.
  EXTENSION_CONTROL_BLOCK* get() { return &block_; }

 private:
  std::string method_;
  std::string query_string_;
  std::string path_info_;
  std::string path_translated_;
  std::string content_type_;
  EXTENSION_CONTROL_BLOCK block_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_CONTROL_BLOCK_H_
