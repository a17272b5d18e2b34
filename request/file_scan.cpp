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
  ScanDocument(szDocPath, nullptr);
}

void SearchRequest::ScanDocument(const char* doc_path,
                                 const ListedDocument* listed) {
  // The count stops at the hit that reaches the cap.
  const size_t hits =
      CountDocumentHits(doc_path, MAX_HITS - nTotalHits, listed);
  if (hits == 0) return;
  HitFile* row = AddRow(doc_path);
  // Without a link buffer the document gets no row and no hits.
  if (row == nullptr) return;
  row->nHits = static_cast<int16_t>(hits);
  fAnyHit = 1;
  nTotalHits = static_cast<int16_t>(nTotalHits + hits);
  if (nTotalHits >= MAX_HITS) fTooMany = 1;
}

const TermFinder& SearchRequest::Finder() {
  // szTerm is final once the walk starts: the finder is built once, at its
  // first use, for the whole walk.
  if (!finder_) finder_.emplace(szTerm);
  return *finder_;
}

CacheVisit* SearchRequest::StartCacheVisit() {
  // A term that no piece can contain is never looked for.
  if (cache_ != nullptr && !visit_ && Finder().CanMatch()) {
    visit_.emplace(*cache_, SummaryKind::kLines,
                   TermSequences(szTerm, Finder().length()));
  }
  return visit_ ? &*visit_ : nullptr;
}

size_t SearchRequest::CountDocumentHits(const char* doc_path, size_t limit,
                                        const ListedDocument* listed) {
  // A term that no piece can contain needs no document read.
  if (!Finder().CanMatch()) return 0;
  // Without its block buffer the scanner reads nothing: the document is
  // skipped, and the next one tries again.
  if (!scanner_ || !*scanner_) scanner_.emplace();
  if (!*scanner_) return 0;

  // A regular file may have a summary that rules the term out; a link is
  // read as it always is (see ReadDocument).
  if (visit_ && (listed == nullptr || listed->kind == EntryKind::kFile)) {
    switch (visit_->Consult(doc_path, listed)) {
      case CacheVisit::Verdict::kAbsent:
        return 0;
      case CacheVisit::Verdict::kRead:
        return ReadDocument(doc_path, limit, false, listed);
      case CacheVisit::Verdict::kReadAndSummarize:
        return ReadDocument(doc_path, limit, true, listed);
    }
  }
  return ReadDocument(doc_path, limit, false, listed);
}

size_t SearchRequest::ReadDocument(const char* doc_path, size_t limit,
                                   bool summarize,
                                   const ListedDocument* listed) {
  ReadableFile document;
  const char* real_root = walk_ != nullptr ? walk_->real_root() : nullptr;
  switch (OpenWalkedDocument(doc_path, real_root, document)) {
    case WalkedFile::kNothing:
      return 0;
    case WalkedFile::kLink:
      return scanner_->CountHits(document, *finder_, limit);
    case WalkedFile::kFile:
      break;
  }
  SummaryBuilder* summary =
      summarize ? visit_->BeginSummary(doc_path, document, listed) : nullptr;
  const size_t hits = scanner_->CountHits(document, *finder_, limit, summary);
  if (summary != nullptr) visit_->EndSummary(doc_path, document);
  if (visit_) visit_->Read(document);
  return hits;
}

}  // namespace tavik
