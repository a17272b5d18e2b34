// TreeWalk: the walk of the folder tree below a search root that every kind
// of search shares. Depth first and pre-order: in each folder, the entries
// whose names match the pattern first, in the listing's order, then each
// sub-folder in turn; a link to a folder is never entered, so the walk
// cannot loop. A folder that cannot be listed is skipped without a word.
//
// With a summary cache whose folders are watched, a folder whose kept
// listing is still vouched for is walked from memory, and one listed anew is
// kept while the walk reads it; the documents the walk hands over are the
// same either way (see FolderTable). A walk made wholly from kept listings
// leaves a snapshot of the root (see RootSnapshot); while it stays whole,
// the next walk of the root hands over, in the same order, only the
// documents the search's term may occur in and those without a summary,
// without listing anything.
//
// One walk serves one request on one thread.
#ifndef TAVIK_CORPUS_TREE_WALK_H_
#define TAVIK_CORPUS_TREE_WALK_H_

#include <cstddef>
#include <cstdint>

#include <optional>

#include "corpus/cache_visit.h"
#include "corpus/folder_listing.h"
#include "corpus/folder_table.h"
#include "corpus/root_snapshot.h"
#include "platform/directory_listing.h"
#include "platform/paths.h"

namespace tavik {

// The pattern of the names of the documents searched.
inline constexpr char kDocumentPattern[] = "*.htm";

// What a walk hands its documents to.
class WalkVisitor {
 public:
  // The root was found: the visitor may start a cache visit now, for the
  // walk to use (nullptr: none).
  virtual CacheVisit* RootFound() = 0;
  // The entry `name` of the folder at full path `dir_path`, listed the
  // ordinary way, whose name matches the pattern: it may be anything (a
  // folder, a link, gone), which opening it tells.
  virtual void VisitEntry(const char* dir_path, const char* name) = 0;
  // The document at full path `doc_path`, from a kept listing that says
  // it is a regular file or a link.
  virtual void VisitListed(const char* doc_path,
                           const ListedDocument& listed) = 0;
  // True once the walk must stop (a search that has all it may take).
  virtual bool Stopped() const = 0;
  // The root has a snapshot that is whole (see RootSnapshot): the visitor
  // may answer from what it kept and return true, and then the walk hands
  // it nothing.
  virtual bool SnapshotFound(RootSnapshot& snapshot) {
    (void)snapshot;
    return false;
  }

 protected:
  ~WalkVisitor() = default;
};

class TreeWalk {
 public:
  // Walks for `visitor`, handing it the entries whose names match
  // `pattern` (which must outlive the walk).
  TreeWalk(WalkVisitor& visitor, const char* pattern)
      : visitor_(visitor), pattern_(pattern) {}
  ~TreeWalk() {
    if (complete_snapshot_ != nullptr) complete_snapshot_->Release();
  }
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  // Walks the folder `name` inside the folder whose full path is
  // `parent_path`; for the root, `parent_path` is nullptr and `name` the
  // root as the request gave it, resolved against the current directory
  // (it must name an existing folder, a link to one included). A name of
  // "." or ".." is walked as nothing.
  void Walk(const char* parent_path, const char* name);

  // The root's full path, once the walk has resolved it; nullptr before,
  // or when it could not be resolved.
  const char* root_path() const {
    return root_path_[0] != '\0' ? root_path_ : nullptr;
  }

  // The snapshot this walk went by, when it went by one: whole when the
  // walk began, and complete (see RootSnapshot::complete); nullptr else.
  // Valid while the walk lives.
  RootSnapshot* complete_snapshot() const { return complete_snapshot_; }

  // The root's real path, every link in it followed, once the walk has
  // found the root; nullptr before, or when it could not be resolved.
  const char* real_root() const {
    return real_root_known_ ? real_root_ : nullptr;
  }

 private:
  // Walks the root named `name`.
  void WalkRoot(const char* name);
  // Walks the folder `name` in the folder at `parent_path`, expected to be
  // `expected` (nullptr: not known from a kept listing).
  void WalkFolder(const char* parent_path, const char* name,
                  const FolderIdentity* expected);
  // Walks the folder at full path `dir_path`, expected as above.
  void WalkPath(const char* dir_path, const FolderIdentity* expected);
  // The second pass over the folder at full path `dir_path`: each
  // sub-folder, from the ordinary listing.
  void WalkSubFolders(const char* dir_path);
  // Walks the folder at `dir_path` from the listing the cache keeps for it,
  // or from one it makes (and keeps) while the walk reads it. Returns
  // false, having done nothing, when the folder is to be listed the
  // ordinary way.
  bool WalkKeptFolder(const char* dir_path, const FolderIdentity& expected);
  // Hands over the entry `name` of kind `kind` from the listing numbered
  // `listing` of the folder at `dir_path` on `device`.
  void VisitListedEntry(const char* dir_path, const char* name,
                        EntryKind kind, uint64_t listing, uint64_t device);
  // The second pass over a kept listing of the folder at `dir_path`.
  void WalkListedSubFolders(const char* dir_path,
                            const FolderListing& listing);
  // The walk of the root from `snapshot`.
  void WalkSnapshot(RootSnapshot& snapshot);
  // After the walk of the root that `identity` names: keeps the snapshot
  // the walk made, when it made one whole.
  void FinishSnapshot(const FolderIdentity& identity);

  WalkVisitor& visitor_;
  const char* pattern_;
  // The cache visit the visitor started, not owned; nullptr: none.
  CacheVisit* visit_ = nullptr;
  char root_path_[kPathBufferSize] = {};
  char real_root_[kRealPathBufferSize];
  bool real_root_known_ = false;
  // The snapshot this walk makes, where it may make one.
  std::optional<SnapshotBuilder> snapshot_;
  // See complete_snapshot(); the walk holds a reference.
  RootSnapshot* complete_snapshot_ = nullptr;
};

// How OpenWalkedDocument found a document.
enum class WalkedFile {
  kNothing,  // no regular file that may be read; nothing open
  kFile,     // a regular file, now open
  kLink,     // a link that leads to a regular file at or below the root,
             // now open: read it, but keep nothing of it, since where it
             // leads is checked anew each time
};

// Opens the document at full path `doc_path` into `file`. A link is read
// only where its real path lies at or below `real_root` (a walk's
// real_root(); nullptr: no link is read), so that no document outside the
// search root is ever read through one.
WalkedFile OpenWalkedDocument(const char* doc_path, const char* real_root,
                              ReadableFile& file);

}  // namespace tavik

#endif  // TAVIK_CORPUS_TREE_WALK_H_
