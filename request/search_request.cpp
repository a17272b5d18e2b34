// The record's creation and destruction.
#include "request/search_request.h"

#include <cstring>
#include <new>

#include "platform/ascii.h"
#include "platform/work_buffer.h"

namespace tavik {

std::unique_ptr<SearchRequest> SearchRequest::Create(char* lpszFormValue,
                                                     PageSink* sink) {
  // Reset: the counters and flags start from their member initialisers;
  // the arrays and rows keep what the heap gave until they are written.
  std::unique_ptr<SearchRequest> request(new (std::nothrow) SearchRequest);
  if (!request) return nullptr;

  WorkBuffer joined(kJoinSize);
  if (!joined) return nullptr;
  JoinFormValue(lpszFormValue, joined.data());
  request->sink_ = sink;

  DecodeQuery(joined.data());
  std::strcpy(request->szTerm, joined.data());
  request->SendHead(request->szTerm);

  // From here on szTerm is the match term.
  AsciiUpperInPlace(request->szTerm);
  return request;
}

SearchRequest::~SearchRequest() { ReleaseLinks(); }

void SearchRequest::ReleaseLinks() {
  for (int16_t row = 0; row <= nLastHit; ++row) {
    ReleaseWorkBuffer(rgHits[row].lpszUrl, kLinkSize);
    rgHits[row].lpszUrl = nullptr;
  }
}

}  // namespace tavik
