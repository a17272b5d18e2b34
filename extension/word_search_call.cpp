#include "extension/word_search_call.h"

#include <cstring>
#include <string_view>

#include "extension/control_block_sink.h"
#include "platform/growing_array.h"
#include "platform/paths.h"
#include "word_search/query_fields.h"
#include "word_search/word_search.h"

namespace tavik {
namespace {

bool IsMethod(const char* method, const char* wanted) {
  return method != nullptr && std::strcmp(method, wanted) == 0;
}

// The server variable `name` into `value`; false when the server has none.
bool ReadServerVariable(EXTENSION_CONTROL_BLOCK* pECB, const char* name,
                        ByteString& value) {
  if (pECB->GetServerVariable == nullptr) return false;
  DWORD size = 1024;
  for (int attempt = 0; attempt < 2; ++attempt) {
    value.Clear();
    char* buffer = value.Extend(size);
    if (buffer == nullptr) return false;
    DWORD given = size;
    if (pECB->GetServerVariable(pECB->ConnID, const_cast<char*>(name), buffer,
                                &given)) {
      value.Truncate(std::strlen(buffer));
      return true;
    }
    // A short buffer: the server said how much it needs.
    if (given <= size) return false;
    size = given;
  }
  return false;
}

// The URL path of the searched folder: the request's URL without the
// extension's own path before it, and without a trailing "/".
void FindLinkPrefix(EXTENSION_CONTROL_BLOCK* pECB, ByteString& prefix) {
  ByteString url;
  ByteString script;
  prefix.Clear();
  if (!ReadServerVariable(pECB, "URL", url) ||
      !ReadServerVariable(pECB, "SCRIPT_NAME", script)) {
    return;
  }
  std::string_view rest = url.view();
  const std::string_view mount = script.view();
  if (rest.substr(0, mount.size()) != mount) return;
  rest.remove_prefix(mount.size());
  if (!rest.empty() && rest[0] != '/') return;
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  prefix.Append(rest);
}

}  // namespace

bool IsWordSearchRequest(const EXTENSION_CONTROL_BLOCK* pECB) {
  if (pECB->cbTotalBytes != 0 || pECB->cbAvailable != 0) return false;
  if (!IsMethod(pECB->lpszMethod, "GET") && !IsMethod(pECB->lpszMethod, "HEAD")) {
    return false;
  }
  return pECB->lpszQueryString != nullptr &&
         HasSearchField(pECB->lpszQueryString);
}

void RunWordSearchRequest(EXTENSION_CONTROL_BLOCK* pECB, SummaryCache* cache) {
  QueryFields fields;
  ReadQueryFields(pECB->lpszQueryString, fields);
  ByteString prefix;
  FindLinkPrefix(pECB, prefix);
  const char* root = pECB->lpszPathInfo != nullptr ? pECB->lpszPathInfo : "";

  WordSearchRequest request;
  request.query = fields.q.view();
  request.page = fields.page;
  request.json = fields.json;
  request.root = std::strlen(root) <= kMaxPathLength ? root : nullptr;
  request.link_prefix = prefix.view();
  ControlBlockSink sink(pECB);
  RunWordSearch(request, cache, &sink);
}

}  // namespace tavik
