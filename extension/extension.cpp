// The library's two entry points. Each converts between the server's C
// records and a SearchRequest; the search itself lives in request/.
#include <cstring>

#include "extension/cache_setting.h"
#include "extension/control_block_sink.h"
#include "extension/posted_text.h"
#include "extension/word_search_call.h"
#include "interface/server_interface.h"
#include "platform/paths.h"
#include "platform/work_buffer.h"
#include "request/search_request.h"

#if defined(_WIN32)
// On Windows the module-definition file names the exports.
#define TAVIK_EXPORT
#else
#define TAVIK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr DWORD kExtensionVersion = 0x00010000;  // 1.0
constexpr char kExtensionDescription[] = "Tavik.dll v1.0";

// The summary cache every request shares: made when the library is loaded,
// with the environment's settings then, and given up with everything it
// holds when the library is unloaded (no request runs by then).
const std::unique_ptr<tavik::SummaryCache> process_cache =
    tavik::CacheFromEnvironment();

// Copies the extra path into `root`. Returns false when it does not fit; a
// missing extra path is an empty one.
bool CopyRoot(const char* path_info, char (&root)[tavik::kPathBufferSize]) {
  if (path_info == nullptr) path_info = "";
  const size_t length = std::strlen(path_info);
  if (length > tavik::kMaxPathLength) return false;
  std::memcpy(root, path_info, length + 1);
  return true;
}

}  // namespace

extern "C" TAVIK_EXPORT BOOL TAVIK_CALLBACK
GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  pVer->dwExtensionVersion = kExtensionVersion;
  std::memcpy(pVer->lpszExtensionDesc, kExtensionDescription,
              sizeof kExtensionDescription);
  return 1;
}

extern "C" TAVIK_EXPORT DWORD TAVIK_CALLBACK
HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  using tavik::SearchRequest;
  // A GET or HEAD with "q" in its query string is a word search; every
  // other request, a form post above all, is answered with the line
  // search's page as ever.
  if (tavik::IsWordSearchRequest(pECB)) {
    tavik::RunWordSearchRequest(pECB, process_cache.get());
    return HSE_STATUS_SUCCESS;
  }
  tavik::ControlBlockSink sink(pECB);
  std::unique_ptr<SearchRequest> request;
  bool has_form_value = false;
  {
    tavik::WorkBuffer body(tavik::kBodySize);
    if (!body) return HSE_STATUS_SUCCESS;
    tavik::CopyPostedText(pECB, body.data());
    // A request without "=" (a plain GET) gets the page for an empty search
    // string, without a walk.
    char* value = tavik::FindFormValue(body.data());
    has_form_value = value != nullptr;
    request = SearchRequest::Create(
        has_form_value ? value : body.data() + std::strlen(body.data()),
        &sink);
  }
  if (!request) return HSE_STATUS_SUCCESS;

  char root[tavik::kPathBufferSize];
  // An extra path too long for the root buffer searches nothing.
  if (has_form_value && CopyRoot(pECB->lpszPathInfo, root)) {
    request->SetRoot(root);
    request->SetCache(process_cache.get());
    request->SearchDirectory(nullptr, root, tavik::kDocumentPattern);
  }
  request->SendResults();
  return HSE_STATUS_SUCCESS;
}
