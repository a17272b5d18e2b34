// The depth-first walk of the tree below the search root.
#include "request/search_request.h"

namespace tavik {

void SearchRequest::SearchDirectory(const char* lpszParentPath,
                                    const char* lpszName,
                                    const char* lpszPattern) {
  if (fTooMany) return;
  Walker walker(*this);
  TreeWalk walk(walker, lpszPattern);
  walk_ = &walk;
  walk.Walk(lpszParentPath, lpszName);
  walk_ = nullptr;
}

CacheVisit* SearchRequest::Walker::RootFound() {
  return request_.StartCacheVisit();
}

}  // namespace tavik
