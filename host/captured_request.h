// Runs one request through a loaded extension with a control block whose
// callbacks record, in order, everything the extension does.
#ifndef TAVIK_HOST_CAPTURED_REQUEST_H_
#define TAVIK_HOST_CAPTURED_REQUEST_H_

#include <string>
#include <vector>

#include "interface/server_interface.h"
#include "host/extension_library.h"

namespace tavik {

struct CallbackEvent {
  enum class Kind {
    kSendResponseHeader,  // status = the buffer, data = the head text
    kWriteClient,         // data = the bytes written
    kDoneWithSession,
    kOtherSupportRequest,  // code = the request code
    kReadClient,
    kGetServerVariable,  // data = the variable's name
    kWrongConnection,    // a callback got a ConnID that is not this one
  };
  Kind kind;
  std::string status;
  std::string data;
  DWORD code = 0;
};

struct CapturedResponse {
  DWORD return_value = 0;
  std::vector<CallbackEvent> events;

  // The response as a client would receive it: "HTTP/1.1 " and the status
  // and CR LF, then the head text, then every byte written. Empty when the
  // extension sent no header.
  std::string AsHttp() const;
  // Only the bytes written with WriteClient.
  std::string Body() const;
};

// Calls `library`'s HttpExtensionProc once with `posted` as the posted data
// of a POST (all of it available, cbTotalBytes the same) and `path_info` as
// the extra path, and returns what it did.
CapturedResponse RunCapturedRequest(const ExtensionLibrary& library,
                                    const std::string& posted,
                                    const std::string& path_info);

// The same for a GET without a body, with `query_string` as its query
// string (without the "?").
CapturedResponse RunCapturedGet(const ExtensionLibrary& library,
                                const std::string& query_string,
                                const std::string& path_info);

}  // namespace tavik

#endif  // TAVIK_HOST_CAPTURED_REQUEST_H_
