// Scanning one document for the term and recording it in the hit table.
#include <cstring>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/readable_file.h"
#include "platform/text_reader.h"
#include "platform/work_buffer.h"
#include "request/search_request.h"

namespace tavik {

char* SearchRequest::ToUrlPath(char* lpszPath) {
  for (char* at = lpszPath; *at != '\0'; ++at) {
    if (*at == '\\') *at = '/';
  }
  return lpszPath;
}

HitFile* SearchRequest::AddRow(const char* lpszDocPath) {
  WorkBuffer link(kLinkSize);
  if (!link) return nullptr;
  // The link is the document path without the drive and without as many
  // characters as the root's text has. A root whose text is longer than the
  // path (one with "." components, say) gives an empty link rather than one
  // taken from outside the path.
  const size_t path_length = std::strlen(lpszDocPath);
  const size_t skipped = kDrivePrefixLength + std::strlen(lpszRoot);
  if (skipped < path_length) {
    std::memcpy(link.data(), lpszDocPath + skipped, path_length - skipped);
  }
  ToUrlPath(link.data());

  HitFile& row = rgHits[++nLastHit];
  row.lpszUrl = link.Release();
  row.nHits = 0;
  return &row;
}

void SearchRequest::ScanFile(const char* lpszDirPath, const char* lpszName) {
  char szDocPath[kPathBufferSize];
  // A document whose full path does not fit is skipped.
  if (!JoinPath(lpszDirPath, lpszName, szDocPath, sizeof szDocPath)) return;

  WorkBuffer line(kLineSize);
  if (!line) return;
  ReadableFile document;
  if (!document.Open(szDocPath)) return;

  TextReader reader(document);
  HitFile* row = nullptr;
  while (reader.ReadLine(line.data()) > 0) {
    // The line is a NUL-terminated string here: whatever follows a NUL byte
    // is neither upper-cased nor searched.
    AsciiUpperInPlace(line.data());
    if (std::strstr(line.data(), szTerm) == nullptr) continue;
    if (row == nullptr) {
      row = AddRow(szDocPath);
      // Without a link buffer the document gets no row and no hits.
      if (row == nullptr) return;
    }
    ++row->nHits;
    fAnyHit = 1;
    ++nTotalHits;
    if (nTotalHits >= MAX_HITS) {
      fTooMany = 1;
      return;
    }
  }
}

}  // namespace tavik
