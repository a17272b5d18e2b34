// Scanning one document for the term and recording it in the hit table.
#include <cstring>

#include "platform/paths.h"
#include "platform/readable_file.h"
#include "platform/work_buffer.h"
#include "request/search_request.h"

namespace tavik {

char* SearchRequest::ToUrlPath(char* lpszPath) {
  for (char* at = lpszPath; *at != '\0'; ++at) {
    if (*at == '\\') *at = '/';
  }
  return lpszPath;
}

HitFile* SearchRequest::AddRow(const char* doc_path) {
  WorkBuffer link(kLinkSize);
  if (!link) return nullptr;
  // The link is the document path without the drive and without as many
  // characters as the root's text has. A root whose text is longer than the
  // path (one with "." components, say) gives an empty link rather than one
  // taken from outside the path.
  const size_t path_length = std::strlen(doc_path);
  const size_t skipped = kDrivePrefixLength + std::strlen(lpszRoot);
  if (skipped < path_length) {
    std::memcpy(link.data(), doc_path + skipped, path_length - skipped);
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
  // The count stops at the hit that reaches the cap.
  const size_t hits = CountDocumentHits(szDocPath, MAX_HITS - nTotalHits);
  if (hits == 0) return;
  HitFile* row = AddRow(szDocPath);
  // Without a link buffer the document gets no row and no hits.
  if (row == nullptr) return;
  row->nHits = static_cast<int16_t>(hits);
  fAnyHit = 1;
  nTotalHits = static_cast<int16_t>(nTotalHits + hits);
  if (nTotalHits >= MAX_HITS) fTooMany = 1;
}

size_t SearchRequest::CountDocumentHits(const char* doc_path, size_t limit) {
  // szTerm is final by now: the finder is built once, for the first
  // document. A term that no piece can contain needs no document read.
  if (!finder_) finder_.emplace(szTerm);
  if (!finder_->CanMatch()) return 0;
  // Without its block buffer the scanner reads nothing: the document is
  // skipped, and the next one tries again.
  if (!scanner_ || !*scanner_) scanner_.emplace();
  if (!*scanner_) return 0;

  ReadableFile document;
  switch (document.OpenUnlessLink(doc_path)) {
    case ReadableFile::Found::kFile:
      break;
    case ReadableFile::Found::kNothing:
      return 0;
    case ReadableFile::Found::kLink: {
      // The walk enters no linked folder, so every other document lies
      // below the root; a linked one is read only where its link leads
      // there too. Otherwise its hits would tell what a file outside the
      // site holds.
      char real_path[kRealPathBufferSize];
      if (!real_root_known_ || !ResolveRealPath(doc_path, real_path) ||
          !IsSameOrBelow(real_root_, real_path) || !document.Open(real_path)) {
        return 0;
      }
      break;
    }
  }
  return scanner_->CountHits(document, *finder_, limit);
}

}  // namespace tavik
