#include "corpus/summary_table.h"

#include <atomic>
#include <cstring>
#include <new>

#include "corpus/path_hash.h"

namespace tavik {
namespace {

// What the allocator adds to each block, counted against the bound.
constexpr size_t kAllocatorShare = 16;

}  // namespace

// One allocation: the record, its path (padded to a word), then its
// summary's words; a lookup reads the first two together.
struct SummaryTable::Record : TableRecord {
  uint64_t serial = 0;
  FileStamp stamp;
  // The file's watch (one reference), or nullptr.
  WatchState* watch = nullptr;
  // Under which listing, watch generation and epoch it was last checked;
  // listing 0: never while watched.
  uint64_t verified_listing = 0;
  uint64_t verified_generation = 0;
  uint32_t verified_epoch = 0;
  uint32_t summary_bits = 0;
  // The table's holding and each pin's; the last gives the memory back.
  std::atomic<int> holders{1};

  uint64_t* words() {
    return reinterpret_cast<uint64_t*>(reinterpret_cast<char*>(this + 1) +
                                       PaddedPath(path_length));
  }
  // The bytes the path takes with its NUL, up to a whole word.
  static size_t PaddedPath(size_t length) { return (length + 8) / 8 * 8; }
};

SummaryTable::SummaryTable(WatchRegistry& registry, size_t max_bytes)
    : registry_(registry) {
  for (Shard& shard : shards_) shard.table.set_max_bytes(max_bytes / kShards);
}

SummaryTable::~SummaryTable() {
  for (Shard& shard : shards_) {
    Record* doomed = nullptr;
    while (TableRecord* oldest = shard.table.Oldest()) {
      shard.table.Remove(oldest);
      oldest->next = doomed;
      doomed = static_cast<Record*>(oldest);
    }
    Dispose(doomed);
  }
}

SummaryPin SummaryTable::PinOf(Record* record) {
  record->holders.fetch_add(1, std::memory_order_relaxed);
  return {record->words(), record->summary_bits, record->stamp.size, record};
}

void SummaryTable::Unpin(const SummaryPin& pin) {
  if (pin.record != nullptr) {
    Drop(static_cast<Record*>(const_cast<void*>(pin.record)));
  }
}

void SummaryTable::Drop(Record* record) {
  if (record->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  record->~Record();
  ::operator delete(static_cast<void*>(record));
}

SummaryLookup SummaryTable::Find(const char* path, SummaryKind kind,
                                 const TermSequences& term, uint64_t listing,
                                 uint32_t epoch, bool pin) {
  const size_t length = std::strlen(path);
  const uint64_t hash = PathHash(path, length);
  Shard& shard = ShardOf(hash);
  SummaryLookup found;
  std::shared_lock<std::shared_mutex> lock(shard.mutex);
  auto* record = static_cast<Record*>(
      shard.table.Find(path, length, hash, static_cast<uint8_t>(kind)));
  if (record == nullptr) return found;
  RecordTable::Touch(record);
  found.found = true;
  found.serial = record->serial;
  found.stamp = record->stamp;
  found.may_occur = term.MayOccurIn(record->words(), record->summary_bits);
  if (record->watch != nullptr) {
    found.watched = true;
    found.generation =
        record->watch->generation.load(std::memory_order_acquire);
    // A watch that ended saw its file go (or its file system).
    found.changed = record->verified_generation != found.generation ||
                    record->watch->ended.load(std::memory_order_acquire);
    found.trusted = !found.changed && listing != 0 &&
                    record->verified_listing == listing &&
                    record->verified_epoch == epoch;
    if (found.trusted && pin) found.pin = PinOf(record);
  }
  return found;
}

SummaryPin SummaryTable::Confirm(const char* path, SummaryKind kind,
                                 uint64_t serial, uint64_t generation,
                                 uint64_t listing, uint32_t epoch, bool pin) {
  if (listing == 0) return {};
  const size_t length = std::strlen(path);
  const uint64_t hash = PathHash(path, length);
  Shard& shard = ShardOf(hash);
  std::lock_guard<std::shared_mutex> lock(shard.mutex);
  auto* record = static_cast<Record*>(
      shard.table.Find(path, length, hash, static_cast<uint8_t>(kind)));
  if (record == nullptr || record->serial != serial ||
      record->watch == nullptr ||
      record->watch->ended.load(std::memory_order_acquire) ||
      record->watch->generation.load(std::memory_order_acquire) !=
          generation) {
    return {};
  }
  record->verified_listing = listing;
  record->verified_generation = generation;
  record->verified_epoch = epoch;
  return pin ? PinOf(record) : SummaryPin{};
}

SummaryPin SummaryTable::Store(const char* path, SummaryKind kind,
                               const FileStamp& stamp,
                               const SummaryBuilder& summary,
                               WatchState* watch, uint64_t generation,
                               uint64_t listing, uint32_t epoch, bool pin) {
  const size_t length = std::strlen(path);
  const size_t bits = summary.summary_bits();
  const size_t words_size = bits / 64 * sizeof(uint64_t);
  const size_t size = sizeof(Record) + Record::PaddedPath(length) + words_size;
  void* memory = ::operator new(size, std::nothrow);
  if (memory == nullptr) {
    registry_.Release(watch);
    return {};
  }
  auto* record = new (memory) Record;
  char* own_path = reinterpret_cast<char*>(record + 1);
  std::memcpy(own_path, path, length + 1);
  record->path = own_path;
  record->path_length = length;
  record->tag = static_cast<uint8_t>(kind);
  summary.Write(record->words());
  record->hash = PathHash(path, length);
  record->charge =
      size + kAllocatorShare + (watch != nullptr ? kWatchStateBytes : 0);
  record->stamp = stamp;
  record->watch = watch;
  record->summary_bits = static_cast<uint32_t>(bits);
  if (watch != nullptr) {
    record->verified_listing = listing;
    record->verified_generation = generation;
    record->verified_epoch = epoch;
  }

  Shard& shard = ShardOf(record->hash);
  Record* doomed = nullptr;
  SummaryPin held;
  {
    std::lock_guard<std::shared_mutex> lock(shard.mutex);
    record->serial = shard.next_serial++;
    if (pin && watch != nullptr && listing != 0) held = PinOf(record);
    if (TableRecord* replaced = shard.table.Insert(record)) {
      replaced->next = doomed;
      doomed = static_cast<Record*>(replaced);
    }
    while (TableRecord* excess = shard.table.TakeExcess()) {
      excess->next = doomed;
      doomed = static_cast<Record*>(excess);
    }
  }
  Dispose(doomed);
  return held;
}

void SummaryTable::Forget(const char* path, SummaryKind kind) {
  const size_t length = std::strlen(path);
  const uint64_t hash = PathHash(path, length);
  Shard& shard = ShardOf(hash);
  Record* doomed = nullptr;
  {
    std::lock_guard<std::shared_mutex> lock(shard.mutex);
    doomed = static_cast<Record*>(
        shard.table.Find(path, length, hash, static_cast<uint8_t>(kind)));
    if (doomed == nullptr) return;
    shard.table.Remove(doomed);
  }
  Dispose(doomed);
}

void SummaryTable::Dispose(Record* doomed) {
  // Outside the shard's lock: giving a watch back takes the registry's.
  if (doomed != nullptr) registry_.NoteChange();
  while (doomed != nullptr) {
    auto* next = static_cast<Record*>(doomed->next);
    registry_.Release(doomed->watch);
    doomed->watch = nullptr;
    Drop(doomed);
    doomed = next;
  }
}

size_t SummaryTable::bytes() {
  size_t total = 0;
  for (Shard& shard : shards_) {
    std::shared_lock<std::shared_mutex> lock(shard.mutex);
    total += shard.table.bytes();
  }
  return total;
}

size_t SummaryTable::count() {
  size_t total = 0;
  for (Shard& shard : shards_) {
    std::shared_lock<std::shared_mutex> lock(shard.mutex);
    total += shard.table.count();
  }
  return total;
}

}  // namespace tavik
