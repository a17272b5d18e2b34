// One call of HttpExtensionProc as a Windows web server makes it, for every
// host alike: the control block filled from the request (see posted_data.h)
// under a ConnID of the call's own, and the extension's callbacks checked
// and passed to the host's answers.
#ifndef TAVIK_HOST_EXTENSION_INVOCATION_H_
#define TAVIK_HOST_EXTENSION_INVOCATION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/posted_data.h"
#include "host/url_mapping.h"
#include "interface/server_interface.h"

namespace tavik {

// What a host does for the extension's callbacks during one call. Each is
// reached only on the calling thread, during the call, with the call's
// ConnID and sound arguments.
class ExtensionHostCalls {
 public:
  virtual ~ExtensionHostCalls() = default;

  // The value of the server variable `name`, or nullopt for a name the
  // host does not answer (GetServerVariable then fails).
  virtual std::optional<std::string> ServerVariable(std::string_view name) = 0;

  // Sends `size` bytes of the body (WriteClient; 0 bytes send nothing).
  // Returns false when they could not all go.
  virtual bool WriteClient(const void* data, size_t size) = 0;

  // Reads at most `size` more bytes of the body into `buffer`
  // (ReadClient): the count, 0 at its end, negative when it fails.
  virtual int64_t ReadClient(void* buffer, size_t size) = 0;

  // Sends the head: the status text ("" when the extension gave none) and
  // the extension's header text, which may carry the start of the body
  // after its empty line (HSE_REQ_SEND_RESPONSE_HEADER). Returns false when
  // the head is refused or cannot go.
  virtual bool SendResponseHeader(std::string_view status,
                                  std::string_view header_text) = 0;
};

// Calls `extension` once, on this thread, with a control block for
// `request`: cbSize, dwVersion, a ConnID of this call alone (never reused),
// lpszMethod, lpszQueryString and lpszContentType as the request gives
// them, lpszPathInfo and lpszPathTranslated from `folder`, and lpbData,
// cbAvailable and cbTotalBytes from `posted`. Its callbacks:
// - GetServerVariable answers ServerVariable's values, copied with their
//   NUL; it fails for an unknown name, and for a short buffer, whose needed
//   size it stores.
// - WriteClient passes the bytes to WriteClient; asynchronous writes fail.
// - ReadClient passes to ReadClient; a failure reads 0 bytes and fails.
// - ServerSupportFunction passes HSE_REQ_SEND_RESPONSE_HEADER (the status
//   in the buffer, the header text as the data type, either may be null)
//   to SendResponseHeader, accepts HSE_REQ_DONE_WITH_SESSION (every call is
//   synchronous), and returns FALSE for anything else.
// Every callback fails unless it comes on this thread, during the call,
// with this call's ConnID. Returns what the extension returned.
DWORD InvokeExtension(HttpExtensionProcFn extension,
                      const RequestSummary& request, PostedData* posted,
                      const MountedFolder& folder, ExtensionHostCalls* host);

}  // namespace tavik

#endif  // TAVIK_HOST_EXTENSION_INVOCATION_H_
