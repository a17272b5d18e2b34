// RecordTable: the summary cache's records, keyed by full path, in chained
// buckets, in the order they were put in or last went round, and a count of
// the bytes they take against a bound. When they take more, the oldest
// record goes, unless it was used since it last went round: then it goes
// round again to the newest end (a second chance, which keeps the records
// in use without moving a record at every use). Not thread-safe: its owner
// holds a lock around every call, a shared one around Find and Touch only.
#ifndef TAVIK_CORPUS_RECORD_TABLE_H_
#define TAVIK_CORPUS_RECORD_TABLE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tavik {

// What the table needs of a record; the owner's record types derive from
// it and keep the path in their own memory.
struct TableRecord {
  TableRecord* next = nullptr;   // in its bucket
  TableRecord* newer = nullptr;  // in the order records went in or round
  TableRecord* older = nullptr;
  uint64_t hash = 0;
  // The bytes the record takes (its memory, the allocator's share and its
  // bucket's), counted against the bound.
  size_t charge = 0;
  const char* path = nullptr;
  size_t path_length = 0;
  // Told apart from records of the same path with other tags.
  uint8_t tag = 0;
  // Set by every use; cleared when the record goes round.
  std::atomic<bool> used{false};
};

class RecordTable {
 public:
  explicit RecordTable(size_t max_bytes = 0);
  // REQUIRES: empty; the owner takes its records out and frees them.
  ~RecordTable();
  RecordTable(const RecordTable&) = delete;
  RecordTable& operator=(const RecordTable&) = delete;

  // The record for `path` of `length` bytes with hash `hash` and tag `tag`,
  // or nullptr.
  TableRecord* Find(const char* path, size_t length, uint64_t hash,
                    uint8_t tag = 0) const;
  // Notes that `record` was used. Safe under a shared lock.
  static void Touch(TableRecord* record) {
    record->used.store(true, std::memory_order_relaxed);
  }
  // Puts `record` in, at the newest end, and returns the record it
  // replaces (same path and tag), taken out, or nullptr.
  TableRecord* Insert(TableRecord* record);
  void Remove(TableRecord* record);
  // While the records take more than the bound: takes out the oldest record
  // not used since it last went round, and returns it. Otherwise nullptr.
  TableRecord* TakeExcess();
  // The oldest record, or nullptr; then `newer` gives the next.
  TableRecord* Oldest() const { return oldest_; }

  size_t bytes() const { return bytes_; }
  size_t max_bytes() const { return max_bytes_; }
  void set_max_bytes(size_t max_bytes) { max_bytes_ = max_bytes; }
  size_t count() const { return count_; }

 private:
  TableRecord** BucketOf(uint64_t hash) const {
    return &buckets_[hash & (bucket_count_ - 1)];
  }
  void Grow();
  // Unlinks `record` from the order and links it at the newest end.
  void GoRound(TableRecord* record);

  size_t max_bytes_;
  size_t bytes_ = 0;
  size_t count_ = 0;
  TableRecord** buckets_ = nullptr;
  size_t bucket_count_ = 0;
  TableRecord* newest_ = nullptr;
  TableRecord* oldest_ = nullptr;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_RECORD_TABLE_H_
