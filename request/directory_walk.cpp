// The depth-first walk of the tree below the search root.
#include <cstring>

#include "platform/directory_listing.h"
#include "platform/paths.h"
#include "request/search_request.h"

namespace tavik {
namespace {

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

void SearchRequest::SearchDirectory(const char* lpszParentPath,
                                    const char* lpszName,
                                    const char* lpszPattern) {
  if (fTooMany) return;
  if (IsDotOrDotDot(lpszName)) return;

  char szDirPath[kPathBufferSize];
  if (lpszParentPath == nullptr) {
    // The root is resolved against the current directory and must name an
    // existing directory (a link to one included).
    if (!ResolveFullPath(lpszName, szDirPath)) return;
    if (!IsExistingDirectory(szDirPath)) return;
    real_root_known_ = ResolveRealPath(szDirPath, real_root_);
  } else if (!JoinPath(lpszParentPath, lpszName, szDirPath,
                       sizeof szDirPath)) {
    return;
  }
  // Any document inside a directory this long would not fit its path
  // buffer. A sub-directory needs no further check: the listing said what it
  // is, and one that has gone since cannot be listed.
  if (std::strlen(szDirPath) >= kMaxPathLength) return;

  {
    DirectoryListing documents;
    DirectoryEntry entry;
    if (documents.Open(szDirPath, lpszPattern)) {
      while (documents.Next(&entry)) {
        ScanFile(szDirPath, entry.name);
        if (fTooMany) return;
      }
    }
  }

  DirectoryListing everything;
  DirectoryEntry entry;
  if (!everything.Open(szDirPath, kEveryEntryPattern)) return;
  while (everything.Next(&entry)) {
    if (!entry.is_directory) continue;
    SearchDirectory(szDirPath, entry.name, lpszPattern);
    if (fTooMany) return;
  }
}

}  // namespace tavik
