#include "corpus/snapshot_table.h"

#include <cstring>

namespace tavik {

SnapshotTable::~SnapshotTable() {
  for (size_t index = 0; index < count_; ++index) kept_[index]->Release();
}

RootSnapshot* SnapshotTable::Find(const char* root_path, SummaryKind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t index = 0; index < count_; ++index) {
    RootSnapshot* snapshot = kept_[index];
    if (snapshot->kind() == kind &&
        std::strcmp(snapshot->root_path(), root_path) == 0) {
      snapshot->Acquire();
      return snapshot;
    }
  }
  return nullptr;
}

void SnapshotTable::Keep(RootSnapshot* snapshot) {
  RootSnapshot* doomed[kMaxSnapshots + 1];
  size_t doomed_count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The one it replaces, then the oldest while there is no room.
    size_t kept = 0;
    size_t bytes = snapshot->bytes();
    for (size_t index = 0; index < count_; ++index) {
      RootSnapshot* other = kept_[index];
      if (other->kind() == snapshot->kind() &&
          std::strcmp(other->root_path(), snapshot->root_path()) == 0) {
        doomed[doomed_count++] = other;
      } else {
        kept_[kept++] = other;
        bytes += other->bytes();
      }
    }
    count_ = kept;
    size_t first = 0;
    while (first < count_ && (count_ - first >= kMaxSnapshots || bytes > max_bytes_)) {
      bytes -= kept_[first]->bytes();
      doomed[doomed_count++] = kept_[first++];
    }
    std::memmove(kept_, kept_ + first, (count_ - first) * sizeof *kept_);
    count_ -= first;
    if (snapshot->bytes() <= max_bytes_) {
      kept_[count_++] = snapshot;
    } else {
      doomed[doomed_count++] = snapshot;
    }
  }
  // Outside the lock: the last reference unpins what the snapshot held.
  for (size_t index = 0; index < doomed_count; ++index) doomed[index]->Release();
}

void SnapshotTable::Drop(const RootSnapshot* snapshot) {
  RootSnapshot* doomed = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t index = 0; index < count_; ++index) {
      if (kept_[index] != snapshot) continue;
      doomed = kept_[index];
      std::memmove(kept_ + index, kept_ + index + 1,
                   (count_ - index - 1) * sizeof *kept_);
      --count_;
      break;
    }
  }
  if (doomed != nullptr) doomed->Release();
}

size_t SnapshotTable::bytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t total = 0;
  for (size_t index = 0; index < count_; ++index) total += kept_[index]->bytes();
  return total;
}

}  // namespace tavik
