#include "extension/control_block_sink.h"

namespace tavik {

void ControlBlockSink::SendHead(const char* status, const char* head) {
  // The server reads the head text up to its NUL from the data-type
  // argument, which the interface types as a DWORD pointer.
  pECB->ServerSupportFunction(
      pECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status),
      nullptr, reinterpret_cast<LPDWORD>(const_cast<char*>(head)));
}

void ControlBlockSink::Write(const char* bytes, size_t length) {
  DWORD count = static_cast<DWORD>(length);
  pECB->WriteClient(pECB->ConnID, const_cast<char*>(bytes), &count, 0);
}

}  // namespace tavik
