#include "corpus/tree_walk.h"

#include <cstring>

#include "platform/file_stamp.h"
#include "platform/pattern_match.h"
#include "platform/readable_file.h"

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

void TreeWalk::Walk(const char* parent_path, const char* name) {
  if (parent_path == nullptr) {
    WalkRoot(name);
  } else {
    WalkFolder(parent_path, name, nullptr);
  }
}

void TreeWalk::WalkRoot(const char* name) {
  if (visitor_.Stopped() || IsDotOrDotDot(name)) return;
  // The root is resolved against the current directory and must name an
  // existing directory (a link to one included).
  char dir_path[kPathBufferSize];
  if (!ResolveFullPath(name, dir_path)) return;
  visit_ = visitor_.RootFound();
  FolderIdentity identity;
  const FolderIdentity* expected = nullptr;
  if (visit_ != nullptr && visit_->watching()) {
    // The same check, which also says which folder the root is now.
    if (!ReadFolderIdentity(dir_path, &identity)) return;
    expected = &identity;
  } else if (!IsExistingDirectory(dir_path)) {
    return;
  }
  std::memcpy(root_path_, dir_path, sizeof root_path_);
  real_root_known_ = ResolveRealPath(dir_path, real_root_);
  if (expected != nullptr && real_root_known_) {
    visit_->HoldTrustedSummaries();
    if (RootSnapshot* snapshot =
            visit_->FindSnapshot(dir_path, identity, real_root_)) {
      if (snapshot->complete()) {
        complete_snapshot_ = snapshot;
        snapshot->Acquire();
      }
      if (!visitor_.SnapshotFound(*snapshot)) WalkSnapshot(*snapshot);
      snapshot->Release();
      return;
    }
    snapshot_.emplace();
  }
  WalkPath(dir_path, expected);
  if (snapshot_) FinishSnapshot(identity);
}

void TreeWalk::WalkFolder(const char* parent_path, const char* name,
                          const FolderIdentity* expected) {
  if (visitor_.Stopped()) return;
  if (IsDotOrDotDot(name)) return;
  char dir_path[kPathBufferSize];
  if (!JoinPath(parent_path, name, dir_path, sizeof dir_path)) {
    if (snapshot_) snapshot_->Spoil();
    return;
  }
  WalkPath(dir_path, expected);
}

void TreeWalk::WalkPath(const char* dir_path, const FolderIdentity* expected) {
  // Any document inside a directory this long would not fit its path
  // buffer. A sub-directory needs no further check: the listing said what it
  // is, and one that has gone since cannot be listed.
  if (std::strlen(dir_path) >= kMaxPathLength) return;

  FolderIdentity identity;
  if (visit_ != nullptr && visit_->watching()) {
    if (expected == nullptr && ReadFolderIdentity(dir_path, &identity)) {
      expected = &identity;
    }
    if (expected != nullptr && WalkKeptFolder(dir_path, *expected)) return;
  }
  // A folder listed the ordinary way is not vouched for: the walk makes no
  // snapshot.
  if (snapshot_) snapshot_->Spoil();

  {
    DirectoryListing documents;
    DirectoryEntry entry;
    if (documents.Open(dir_path, pattern_)) {
      while (documents.Next(&entry)) {
        visitor_.VisitEntry(dir_path, entry.name);
        if (visitor_.Stopped()) return;
      }
    }
  }
  WalkSubFolders(dir_path);
}

void TreeWalk::WalkSubFolders(const char* dir_path) {
  DirectoryListing everything;
  DirectoryEntry entry;
  if (!everything.Open(dir_path, kEveryEntryPattern)) return;
  while (everything.Next(&entry)) {
    if (entry.kind != EntryKind::kFolder) continue;
    WalkFolder(dir_path, entry.name, nullptr);
    if (visitor_.Stopped()) return;
  }
}

bool TreeWalk::WalkKeptFolder(const char* dir_path,
                              const FolderIdentity& expected) {
  FolderListing* kept = nullptr;
  NewWatch watch;
  switch (visit_->FindFolder(dir_path, expected, &kept, &watch)) {
    case FolderTable::Found::kOrdinary:
      return false;
    case FolderTable::Found::kMemory: {
      // The two passes of the ordinary walk, over the one listing.
      HeldListing listing(kept);
      if (snapshot_) snapshot_->Folder(listing->id(), listing->device());
      for (size_t index = 0; index < listing->count(); ++index) {
        const FolderListing::Item& item = listing->item(index);
        if (!NameMatchesPattern(item.name, pattern_)) continue;
        VisitListedEntry(dir_path, item.name, item.kind, listing->id(),
                         listing->device());
        if (visitor_.Stopped()) return true;
      }
      WalkListedSubFolders(dir_path, *listing);
      return true;
    }
    case FolderTable::Found::kMake:
      break;
  }
  // The documents are handed over as the listing is read, as the ordinary
  // walk does; the listing is kept only once it has been read to its end.
  FolderTable::Maker maker(visit_->folders(), dir_path, expected, watch);
  if (!maker) return false;
  if (snapshot_) snapshot_->Folder(maker.id(), expected.device);
  DirectoryEntry entry;
  while (maker.Next(&entry)) {
    if (!NameMatchesPattern(entry.name, pattern_)) continue;
    VisitListedEntry(dir_path, entry.name, entry.kind, maker.id(),
                     expected.device);
    if (visitor_.Stopped()) return true;
  }
  HeldListing listing(maker.Keep());
  if (!listing) {
    // Not kept: nothing vouches for this folder's entries next time.
    if (snapshot_) snapshot_->Spoil();
    WalkSubFolders(dir_path);
    return true;
  }
  visit_->ListingMade();
  WalkListedSubFolders(dir_path, *listing);
  return true;
}

void TreeWalk::VisitListedEntry(const char* dir_path, const char* name,
                                EntryKind kind, uint64_t listing,
                                uint64_t device) {
  // A folder or a device named like a document would be refused when
  // opened: it is no document either way.
  if (kind == EntryKind::kFolder || kind == EntryKind::kOther) return;
  char doc_path[kPathBufferSize];
  if (!JoinPath(dir_path, name, doc_path, sizeof doc_path)) return;
  visitor_.VisitListed(doc_path, {kind, listing, device});
  if (snapshot_) snapshot_->Document(doc_path, kind, visit_->TakePin());
}

void TreeWalk::WalkSnapshot(RootSnapshot& snapshot) {
  GrowingArray<uint32_t> positions;
  uint64_t left_out = 0;
  uint64_t left_out_bytes = 0;
  GrowingArray<WatchRegistry::OpenFile> open;
  visit_->OpenFiles(open);
  snapshot.Candidates(visit_->term(), open, positions, &left_out,
                      &left_out_bytes);
  // Without memory for the positions, every document, as a walk would.
  const bool every = positions.failed();
  if (!every) visit_->SkippedBySnapshot(left_out, left_out_bytes);
  const size_t count = every ? snapshot.size() : positions.size();
  for (size_t k = 0; k < count && !visitor_.Stopped(); ++k) {
    const size_t position = every ? k : positions[k];
    const RootSnapshot::Document document = snapshot.document(position);
    visitor_.VisitListed(document.path,
                         {document.kind, document.listing, document.device});
    // A document summarised just now takes its summary into the snapshot.
    if (const SummaryPin pin = visit_->TakePin()) snapshot.Adopt(position, pin);
  }
}

void TreeWalk::FinishSnapshot(const FolderIdentity& identity) {
  RootSnapshot* made =
      visitor_.Stopped()
          ? nullptr
          : snapshot_->Finish(visit_->kind(), visit_->changes_at_start(),
                              root_path_, real_root_, identity.device,
                              identity.number);
  snapshot_.reset();
  if (made != nullptr) visit_->KeepSnapshot(made);
}

void TreeWalk::WalkListedSubFolders(const char* dir_path,
                                    const FolderListing& listing) {
  for (size_t index = 0; index < listing.count(); ++index) {
    const FolderListing::Item& item = listing.item(index);
    if (item.kind != EntryKind::kFolder) continue;
    const FolderIdentity child = {listing.device(), item.number};
    WalkFolder(dir_path, item.name, &child);
    if (visitor_.Stopped()) return;
  }
}

WalkedFile OpenWalkedDocument(const char* doc_path, const char* real_root,
                              ReadableFile& file) {
  switch (file.OpenUnlessLink(doc_path)) {
    case ReadableFile::Found::kFile:
      return WalkedFile::kFile;
    case ReadableFile::Found::kNothing:
      return WalkedFile::kNothing;
    case ReadableFile::Found::kLink:
      break;
  }
  // The walk enters no linked folder, so every other document lies below
  // the root; a linked one is read only where its link leads there too.
  // Otherwise a search would tell what a file outside the site holds.
  char real_path[kRealPathBufferSize];
  if (real_root == nullptr || !ResolveRealPath(doc_path, real_path) ||
      !IsSameOrBelow(real_root, real_path) || !file.Open(real_path)) {
    return WalkedFile::kNothing;
  }
  return WalkedFile::kLink;
}

}  // namespace tavik
