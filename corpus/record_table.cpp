#include "corpus/record_table.h"

#include <cstring>
#include <new>

namespace tavik {
namespace {

constexpr size_t kFirstBuckets = 64;

}  // namespace

RecordTable::RecordTable(size_t max_bytes) : max_bytes_(max_bytes) {
  buckets_ = new (std::nothrow) TableRecord*[kFirstBuckets]();
  if (buckets_ != nullptr) {
    bucket_count_ = kFirstBuckets;
    bytes_ = kFirstBuckets * sizeof(TableRecord*);
  }
}

RecordTable::~RecordTable() { delete[] buckets_; }

TableRecord* RecordTable::Find(const char* path, size_t length,
                               uint64_t hash, uint8_t tag) const {
  if (buckets_ == nullptr) return nullptr;
  for (TableRecord* record = *BucketOf(hash); record != nullptr;
       record = record->next) {
    if (record->hash == hash && record->path_length == length &&
        record->tag == tag && std::memcmp(record->path, path, length) == 0) {
      return record;
    }
  }
  return nullptr;
}

void RecordTable::GoRound(TableRecord* record) {
  if (record == newest_) return;
  record->newer->older = record->older;
  if (record->older != nullptr) {
    record->older->newer = record->newer;
  } else {
    oldest_ = record->newer;
  }
  record->older = newest_;
  record->newer = nullptr;
  newest_->newer = record;
  newest_ = record;
}

TableRecord* RecordTable::Insert(TableRecord* record) {
  if (buckets_ == nullptr) return record;  // no table: nothing is kept
  TableRecord* replaced =
      Find(record->path, record->path_length, record->hash, record->tag);
  if (replaced != nullptr) Remove(replaced);
  if (count_ >= bucket_count_) Grow();
  TableRecord** bucket = BucketOf(record->hash);
  record->next = *bucket;
  *bucket = record;
  record->older = newest_;
  record->newer = nullptr;
  if (newest_ != nullptr) {
    newest_->newer = record;
  } else {
    oldest_ = record;
  }
  newest_ = record;
  ++count_;
  bytes_ += record->charge;
  return replaced;
}

void RecordTable::Remove(TableRecord* record) {
  TableRecord** link = BucketOf(record->hash);
  while (*link != record) link = &(*link)->next;
  *link = record->next;
  if (record->newer != nullptr) {
    record->newer->older = record->older;
  } else {
    newest_ = record->older;
  }
  if (record->older != nullptr) {
    record->older->newer = record->newer;
  } else {
    oldest_ = record->newer;
  }
  record->next = record->newer = record->older = nullptr;
  --count_;
  bytes_ -= record->charge;
}

TableRecord* RecordTable::TakeExcess() {
  // A record used since it last went round goes round again, once per pass,
  // so after one pass over them all the oldest goes whatever its use.
  for (size_t spared = 0; bytes_ > max_bytes_ && oldest_ != nullptr;) {
    TableRecord* oldest = oldest_;
    if (spared < count_ &&
        oldest->used.exchange(false, std::memory_order_relaxed)) {
      ++spared;
      GoRound(oldest);
      continue;
    }
    Remove(oldest);
    return oldest;
  }
  return nullptr;
}

void RecordTable::Grow() {
  // Without memory for more buckets, the chains grow longer instead.
  const size_t count = bucket_count_ * 2;
  TableRecord** grown = new (std::nothrow) TableRecord*[count]();
  if (grown == nullptr) return;
  for (size_t index = 0; index < bucket_count_; ++index) {
    while (TableRecord* record = buckets_[index]) {
      buckets_[index] = record->next;
      TableRecord** bucket = &grown[record->hash & (count - 1)];
      record->next = *bucket;
      *bucket = record;
    }
  }
  delete[] buckets_;
  bytes_ += (count - bucket_count_) * sizeof(TableRecord*);
  buckets_ = grown;
  bucket_count_ = count;
}

}  // namespace tavik
