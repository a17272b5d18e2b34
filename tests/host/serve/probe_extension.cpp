// A stand-in extension for the server's own tests, loaded by tavik-serve in
// place of Tavik. The query string says what it does:
//   sleep=N  send the head and "first", wait N milliseconds, send "last"
//   fill=N   send the head and N bytes "x" in one write, wait 300
//            milliseconds, send "last"
//   nohead   return at once without sending anything
//   vars     send the values of a few server variables, one a line
// Anything else sends the head and "probe". With TAVIK_PROBE_REFUSE_LOAD in
// its environment, its GetExtensionVersion refuses to load.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "interface/server_interface.h"

namespace {

void Send(EXTENSION_CONTROL_BLOCK* block, const std::string& text) {
  DWORD count = static_cast<DWORD>(text.size());
  block->WriteClient(block->ConnID, const_cast<char*>(text.data()), &count, 0);
}

void SendHead(EXTENSION_CONTROL_BLOCK* block) {
  char head[] = "Content-Type: text/plain\r\n\r\n";
  block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
                               const_cast<char*>("200 OK"), nullptr,
                               reinterpret_cast<LPDWORD>(head));
}

std::string Variable(EXTENSION_CONTROL_BLOCK* block, const char* name) {
  char value[1024];
  DWORD size = sizeof value;
  if (!block->GetServerVariable(block->ConnID, const_cast<char*>(name), value,
                                &size)) {
    return "(none)";
  }
  return value;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL GetExtensionVersion(
    HSE_VERSION_INFO* info) {
  if (std::getenv("TAVIK_PROBE_REFUSE_LOAD") != nullptr) return 0;
  info->dwExtensionVersion = 0x00010000;
  std::strcpy(info->lpszExtensionDesc, "tavik-serve test probe");
  return 1;
}

extern "C" __attribute__((visibility("default"))) DWORD HttpExtensionProc(
    EXTENSION_CONTROL_BLOCK* block) {
  const std::string query = block->lpszQueryString;
  if (query == "nohead") return HSE_STATUS_SUCCESS;
  SendHead(block);
  if (query.rfind("sleep=", 0) == 0) {
    Send(block, "first\n");
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::stoi(query.substr(6))));
    Send(block, "last\n");
  } else if (query.rfind("fill=", 0) == 0) {
    Send(block, std::string(std::stoul(query.substr(5)), 'x'));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Send(block, "last\n");
  } else if (query == "vars") {
    for (const char* name :
         {"REQUEST_METHOD", "SCRIPT_NAME", "PATH_INFO", "SERVER_PORT",
          "REMOTE_ADDR", "HTTP_X_PROBE", "CONTENT_LENGTH"}) {
      Send(block, std::string(name) + "=" + Variable(block, name) + "\n");
    }
  } else {
    Send(block, "probe\n");
  }
  return HSE_STATUS_SUCCESS;
}
