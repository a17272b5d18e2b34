// SnapshotTable: the snapshots the cache keeps (see root_snapshot.h), one
// a search root and kind of summary, a few roots at most, within a bound
// on their memory. Thread-safe: one lock, held only to find or to swap.
#ifndef TAVIK_CORPUS_SNAPSHOT_TABLE_H_
#define TAVIK_CORPUS_SNAPSHOT_TABLE_H_

#include <cstddef>
#include <mutex>

#include "corpus/root_snapshot.h"

namespace tavik {

class SnapshotTable {
 public:
  // The snapshots take at most `max_bytes` (their slot bitmaps aside).
  explicit SnapshotTable(size_t max_bytes) : max_bytes_(max_bytes) {}
  ~SnapshotTable();
  SnapshotTable(const SnapshotTable&) = delete;
  SnapshotTable& operator=(const SnapshotTable&) = delete;

  // The kept snapshot of `kind` for the root at full path `root_path`, with
  // a reference for the caller; nullptr when there is none.
  RootSnapshot* Find(const char* root_path, SummaryKind kind);
  // Keeps `snapshot`, taking the caller's reference, in place of any of the
  // same root and kind; the oldest others go to make room.
  void Keep(RootSnapshot* snapshot);
  // Drops `snapshot` if it is kept (it is no longer whole).
  void Drop(const RootSnapshot* snapshot);

  size_t bytes();

 private:
  static constexpr size_t kMaxSnapshots = 8;
  std::mutex mutex_;
  size_t max_bytes_;
  // Oldest first.
  RootSnapshot* kept_[kMaxSnapshots] = {};
  size_t count_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_SNAPSHOT_TABLE_H_
