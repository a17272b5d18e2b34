// Every byte the extension sends: the status and head text, and the body
// that follows the walk, with the ranking of the hit table.
#include <cstring>

#include "platform/format.h"
#include "platform/work_buffer.h"
#include "request/escaping.h"
#include "request/search_request.h"

namespace tavik {
namespace {

constexpr char kStatus[] = "200 OK";
constexpr char kHeadText[] =
    "Content-Type: text/html\r\n\r\n"
    "<head><title>Search Results</title></head>\n\n\r"
    "<body><H1><p align=center>Full Text Search</H1><p>"
    "<p align=center>Search string - %s<p>"
    "<A HREF=http:content.htm>Return to Content.HTM</A><p><hr>";
constexpr char kListLine[] = "<a href=%s>%s</a> - %d hit(s)<p>\n\r";
constexpr char kSummaryLine[] = "<p><p><p><b>%d hit(s) found.</b><p>";
constexpr char kNoHitsMessage[] = "<p><b>No hits found.</b><p></body>";
constexpr char kOverflowMessage[] =
    "<p><b>The search criteria returned > 255 hits. Please narrow your "
    "search value down and retry.</b><p>";

// Escaped texts longer than this could not show in a formatted piece, which
// is cut at kFormatLimit - 1 characters anyway.
constexpr size_t kEscapedSize = kFormatLimit;

}  // namespace

void SearchRequest::SendHead(const char* search_string) {
  char escaped[kEscapedSize];
  HtmlEscape(search_string, escaped, sizeof escaped);
  FormatPiece(szOut, kHeadText, escaped);
  sink_->SendHead(kStatus, szOut);
}

void SearchRequest::WriteText(const char* text, size_t length) {
  sink_->Write(text, length);
}

void SearchRequest::SendResults() {
  // A failed write does not stop the later ones: the server's answers are
  // not examined.
  if (fTooMany) {
    WriteText(kOverflowMessage, sizeof kOverflowMessage - 1);
    ReleaseLinks();
    return;
  }
  if (!fAnyHit) {
    WriteText(kNoHitsMessage, sizeof kNoHitsMessage - 1);
    return;
  }
  SortHits();
  for (int16_t row = 0; row <= nLastHit; ++row) {
    char target[kEscapedSize];
    char text[kEscapedSize];
    PercentEncodeLink(rgHits[row].lpszUrl, target, sizeof target);
    HtmlEscape(rgHits[row].lpszUrl, text, sizeof text);
    const int length = FormatPiece(szOut, kListLine, target, text,
                                   static_cast<int>(rgHits[row].nHits));
    ReleaseWorkBuffer(rgHits[row].lpszUrl, kLinkSize);
    rgHits[row].lpszUrl = nullptr;
    WriteText(szOut, static_cast<size_t>(length));
  }
  const int length =
      FormatPiece(szOut, kSummaryLine, static_cast<int>(nTotalHits));
  WriteText(szOut, static_cast<size_t>(length));
}

void SearchRequest::SortHits() {
  // Selection sort, largest count first. A later row replaces the best only
  // with a strictly greater count, and the exchange moves the row at i, so
  // rows of equal counts do not keep the walk's order.
  for (int16_t i = 0; i <= nLastHit; ++i) {
    int16_t best = i;
    for (int16_t j = static_cast<int16_t>(i + 1); j <= nLastHit; ++j) {
      if (rgHits[best].nHits < rgHits[j].nHits) best = j;
    }
    SwapHits(i, best);
  }
}

void SearchRequest::SwapHits(int16_t first, int16_t second) {
  lpszSwapUrl = rgHits[first].lpszUrl;
  nSwapHits = rgHits[first].nHits;
  rgHits[first] = rgHits[second];
  rgHits[second].lpszUrl = lpszSwapUrl;
  rgHits[second].nHits = nSwapHits;
}

}  // namespace tavik
