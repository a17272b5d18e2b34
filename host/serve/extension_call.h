// One request run through a loaded extension, as a Windows web server runs
// it: a control block filled from the request, HttpExtensionProc called
// once on the calling thread, and its callbacks answered on the request's
// connection.
#ifndef TAVIK_HOST_SERVE_EXTENSION_CALL_H_
#define TAVIK_HOST_SERVE_EXTENSION_CALL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/posted_data.h"
#include "host/serve/http_exchange.h"
#include "host/url_mapping.h"
#include "host/whole_answer.h"
#include "interface/server_interface.h"

namespace tavik {

struct ExtensionCallSetup {
  HttpExtensionProcFn extension = nullptr;
  std::string_view script_name;  // the mount, for SCRIPT_NAME
  MountedFolder folder;          // lpszPathInfo, lpszPathTranslated
  std::string_view default_server_name;
  // The most body bytes read; a longer body fails ReadClient and closes
  // the connection. REQUIRES: at least kReadAheadBytes.
  uint64_t max_body_bytes = 0;
  // The most body bytes of the answer held to send it whole (0: none; see
  // ResponseWriter).
  size_t whole_answer_bytes = kWholeAnswerBytes;
};

struct ExtensionCallOutcome {
  int status_code = 0;      // as sent to the client
  uint64_t body_bytes = 0;  // body bytes sent, framing excluded
  bool extension_called = false;
  DWORD return_value = 0;  // HttpExtensionProc's, when it was called
  // The answer grew past whole_answer_bytes and went as it was written.
  bool streamed_past_bound = false;
};

// Fills the posted data by the hosts' rules (PostedData::Fill: up to
// kReadAheadBytes of the body) and calls `setup.extension` once with a
// control block for the request (InvokeExtension); a search by URL ("GET
// /search?q=quokka") reaches the extension as a GET with its query string,
// which the extension answers as a word search. Its callbacks:
// - WriteClient takes exactly the bytes given before it returns
//   (ResponseWriter::WriteBody); asynchronous writes fail.
// - ReadClient reads the next bytes of the body; 0 bytes at its end.
// - GetServerVariable answers LookUpServerVariable's names; it fails for
//   an unknown name, and for a short buffer, whose needed size it stores.
// - ServerSupportFunction takes the head for HSE_REQ_SEND_RESPONSE_HEADER
//   (the status in the buffer, the header text as the data type; see
//   ResponseWriter::SendHead), accepts HSE_REQ_DONE_WITH_SESSION, and
//   returns FALSE for anything else.
// Every callback fails unless it comes on this thread, during the call,
// with this request's ConnID. A body whose read-ahead fails is not
// searched: 408 when the client sent it too slowly, 400 otherwise, and the
// connection closes. The answer is held while the extension runs (up to
// `setup.whole_answer_bytes`), so WriteClient and the head succeed without
// reaching the client; after the call the response is ended (the held
// answer sent whole, or a 500 page when no head was sent) and the rest of
// the body is read and dropped; a return other than success, or a body
// that cannot be read, closes the connection after the response.
ExtensionCallOutcome RunExtensionCall(const ExtensionCallSetup& setup,
                                      const HttpRequestFacts& request,
                                      HttpConnection* connection);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_EXTENSION_CALL_H_
