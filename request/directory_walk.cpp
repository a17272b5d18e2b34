// The depth-first walk of the tree below the search root.
#include <cstring>

#include "platform/directory_listing.h"
#include "platform/file_stamp.h"
#include "platform/paths.h"
#include "platform/pattern_match.h"
#include "request/search_request.h"

namespace tavik {
namespace {

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Reads which folder `path` leads to now.
bool ReadFolderIdentity(const char* path, FolderIdentity* identity) {
  FileStamp stamp;
  if (!ReadFolderStamp(path, &stamp)) return false;
  *identity = {stamp.device, stamp.file};
  return true;
}

}  // namespace

void SearchRequest::SearchDirectory(const char* lpszParentPath,
                                    const char* lpszName,
                                    const char* lpszPattern) {
  SearchFolder(lpszParentPath, lpszName, lpszPattern, nullptr);
}

void SearchRequest::SearchFolder(const char* parent_path, const char* name,
                                 const char* pattern,
                                 const FolderIdentity* expected) {
  if (fTooMany) return;
  if (IsDotOrDotDot(name)) return;

  char szDirPath[kPathBufferSize];
  FolderIdentity identity;
  if (parent_path == nullptr) {
    // The root is resolved against the current directory and must name an
    // existing directory (a link to one included).
    if (!ResolveFullPath(name, szDirPath)) return;
    StartCacheVisit();
    if (visit_ && visit_->watching()) {
      // The same check, which also says which folder the root is now.
      if (!ReadFolderIdentity(szDirPath, &identity)) return;
      expected = &identity;
    } else if (!IsExistingDirectory(szDirPath)) {
      return;
    }
    real_root_known_ = ResolveRealPath(szDirPath, real_root_);
  } else if (!JoinPath(parent_path, name, szDirPath, sizeof szDirPath)) {
    return;
  }
  // Any document inside a directory this long would not fit its path
  // buffer. A sub-directory needs no further check: the listing said what it
  // is, and one that has gone since cannot be listed.
  if (std::strlen(szDirPath) >= kMaxPathLength) return;

  if (visit_ && visit_->watching()) {
    if (expected == nullptr && ReadFolderIdentity(szDirPath, &identity)) {
      expected = &identity;
    }
    if (expected != nullptr &&
        SearchKeptFolder(szDirPath, *expected, pattern)) {
      return;
    }
  }

  {
    DirectoryListing documents;
    DirectoryEntry entry;
    if (documents.Open(szDirPath, pattern)) {
      while (documents.Next(&entry)) {
        ScanFile(szDirPath, entry.name);
        if (fTooMany) return;
      }
    }
  }
  SearchSubFolders(szDirPath, pattern);
}

void SearchRequest::SearchSubFolders(const char* dir_path,
                                     const char* pattern) {
  DirectoryListing everything;
  DirectoryEntry entry;
  if (!everything.Open(dir_path, kEveryEntryPattern)) return;
  while (everything.Next(&entry)) {
    if (entry.kind != EntryKind::kFolder) continue;
    SearchFolder(dir_path, entry.name, pattern, nullptr);
    if (fTooMany) return;
  }
}

bool SearchRequest::SearchKeptFolder(const char* dir_path,
                                     const FolderIdentity& expected,
                                     const char* pattern) {
  FolderListing* kept = nullptr;
  NewWatch watch;
  switch (visit_->FindFolder(dir_path, expected, &kept, &watch)) {
    case FolderTable::Found::kOrdinary:
      return false;
    case FolderTable::Found::kMemory: {
      // The two passes of the ordinary walk, over the one listing.
      HeldListing listing(kept);
      for (size_t index = 0; index < listing->count(); ++index) {
        const FolderListing::Item& item = listing->item(index);
        if (!NameMatchesPattern(item.name, pattern)) continue;
        ScanListedEntry(dir_path, item.name, item.kind, listing->id());
        if (fTooMany) return true;
      }
      SearchListedSubFolders(dir_path, *listing, pattern);
      return true;
    }
    case FolderTable::Found::kMake:
      break;
  }
  // The documents are scanned as the listing is read, as the ordinary walk
  // does; the listing is kept only once it has been read to its end.
  FolderTable::Maker maker(visit_->folders(), dir_path, expected, watch);
  if (!maker) return false;
  DirectoryEntry entry;
  while (maker.Next(&entry)) {
    if (!NameMatchesPattern(entry.name, pattern)) continue;
    ScanListedEntry(dir_path, entry.name, entry.kind, maker.id());
    if (fTooMany) return true;
  }
  HeldListing listing(maker.Keep());
  if (!listing) {
    SearchSubFolders(dir_path, pattern);
    return true;
  }
  visit_->ListingMade();
  SearchListedSubFolders(dir_path, *listing, pattern);
  return true;
}

void SearchRequest::ScanListedEntry(const char* dir_path, const char* name,
                                    EntryKind kind, uint64_t listing) {
  // A folder or a device named like a document would be refused when
  // opened: no row either way.
  if (kind == EntryKind::kFolder || kind == EntryKind::kOther) return;
  char szDocPath[kPathBufferSize];
  if (!JoinPath(dir_path, name, szDocPath, sizeof szDocPath)) return;
  const ListedDocument listed = {kind, listing};
  ScanDocument(szDocPath, &listed);
}

void SearchRequest::SearchListedSubFolders(const char* dir_path,
                                           const FolderListing& listing,
                                           const char* pattern) {
  for (size_t index = 0; index < listing.count(); ++index) {
    const FolderListing::Item& item = listing.item(index);
    if (item.kind != EntryKind::kFolder) continue;
    const FolderIdentity child = {listing.device(), item.number};
    SearchFolder(dir_path, item.name, pattern, &child);
    if (fTooMany) return;
  }
}

}  // namespace tavik
