#include "corpus/folder_table.h"

#include <cstring>
#include <new>

#include "platform/change_watch.h"
#include "corpus/path_hash.h"

namespace tavik {
namespace {

// What the allocator adds to each block, counted against the bound.
constexpr size_t kAllocatorShare = 16;

}  // namespace

struct FolderTable::Record : TableRecord {
  // The folder's watch; nullptr for a folder listed the ordinary way.
  WatchState* watch = nullptr;
  // The watch's generation and the registry's epoch when it was made.
  uint64_t generation = 0;
  uint32_t epoch = 0;
  // The folder's own device and number, as its stamp gave them.
  uint64_t device = 0;
  uint64_t number = 0;
  // One reference, given back with the record; nullptr while the folder
  // has been watched but never listed to its end.
  FolderListing* listing = nullptr;
};

FolderTable::FolderTable(WatchRegistry& registry, size_t max_bytes)
    : registry_(registry), table_(max_bytes) {}

FolderTable::~FolderTable() {
  Record* doomed = nullptr;
  while (TableRecord* oldest = table_.Oldest()) {
    table_.Remove(oldest);
    oldest->next = doomed;
    doomed = static_cast<Record*>(oldest);
  }
  Dispose(doomed);
}

size_t FolderTable::bytes() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return table_.bytes();
}

bool FolderTable::Trusted(const Record& record) const {
  return record.watch != nullptr && record.listing != nullptr &&
         !record.watch->ended.load(std::memory_order_acquire) &&
         record.watch->generation.load(std::memory_order_acquire) ==
             record.generation &&
         record.epoch == registry_.epoch();
}

FolderTable::Found FolderTable::Find(const char* path,
                                     const FolderIdentity& expected,
                                     FolderListing** listing,
                                     NewWatch* watch) {
  *watch = {};
  const size_t length = std::strlen(path);
  const uint64_t hash = PathHash(path, length);
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto* record = static_cast<Record*>(table_.Find(path, length, hash));
  // A record of another folder that stood at this path is made anew.
  if (record == nullptr || record->device != expected.device ||
      record->number != expected.number) {
    return Found::kMake;
  }
  RecordTable::Touch(record);
  if (record->watch == nullptr) return Found::kOrdinary;
  if (!Trusted(*record)) {
    *watch = registry_.Share(record->watch);
    return Found::kMake;
  }
  record->listing->Acquire();
  *listing = record->listing;
  return Found::kMemory;
}

FolderTable::Record* FolderTable::NewRecord(const char* path,
                                            const FolderIdentity& expected) {
  const size_t length = std::strlen(path);
  const size_t size = sizeof(Record) + length + 1;
  void* memory = ::operator new(size, std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* record = new (memory) Record;
  char* own_path = static_cast<char*>(memory) + sizeof(Record);
  std::memcpy(own_path, path, length + 1);
  record->path = own_path;
  record->path_length = length;
  record->hash = PathHash(path, length);
  record->charge = size + kAllocatorShare;
  // The folder the walk expects here: its parent's listing said so, or the
  // root's stamp, read just now. Were the path to lead elsewhere by now, the
  // parent's watch (or the root's stamp) tells at the next visit.
  record->device = expected.device;
  record->number = expected.number;
  return record;
}

FolderTable::Maker::Maker(FolderTable& table, const char* path,
                          const FolderIdentity& expected, NewWatch watch)
    : table_(table), path_(path), expected_(expected), watch_(watch) {
  shared_ = watch_.state != nullptr;
  if (!shared_) {
    // The watch comes first: a change made after it raises an event, and
    // one made before it is in the listing that follows.
    watch_ = table_.registry_.WatchFolder(path);
    if (watch_.state == nullptr) return;
    if (!ChangesAreAllSeenLocally(path)) {
      // Remembered without a watch, so that the next walk lists it the
      // ordinary way without trying again.
      if (Record* record = NewRecord(path, expected)) table_.Keep(record);
      return;
    }
  }
  id_ = table_.next_listing_id_.fetch_add(1, std::memory_order_relaxed);
  open_ = builder_.Open(path);
}

FolderTable::Maker::~Maker() {
  if (open_ && !shared_ && watch_.state != nullptr) {
    if (Record* record = NewRecord(path_, expected_)) {
      record->watch = watch_.state;
      record->charge += kWatchStateBytes;
      table_.Keep(record);
      return;
    }
  }
  table_.registry_.Release(watch_.state);
}

FolderListing* FolderTable::Maker::Keep() {
  if (!open_) return nullptr;
  FolderListing* listing = builder_.Finish(expected_.device, id_);
  if (listing == nullptr) return nullptr;
  Record* record = NewRecord(path_, expected_);
  if (record == nullptr) return listing;  // used once, not kept
  record->watch = watch_.state;
  record->generation = watch_.generation;
  record->epoch = watch_.epoch;
  watch_.state = nullptr;  // the record's now
  record->listing = listing;
  record->charge += listing->bytes() + kAllocatorShare + kWatchStateBytes;
  listing->Acquire();  // the caller's
  table_.Keep(record);
  return listing;
}

void FolderTable::Keep(Record* record) {
  Record* doomed = nullptr;
  {
    std::lock_guard<std::shared_mutex> lock(mutex_);
    if (TableRecord* replaced = table_.Insert(record)) {
      replaced->next = doomed;
      doomed = static_cast<Record*>(replaced);
    }
    while (TableRecord* excess = table_.TakeExcess()) {
      excess->next = doomed;
      doomed = static_cast<Record*>(excess);
    }
  }
  Dispose(doomed);
}

void FolderTable::Dispose(Record* doomed) {
  // Outside the table's lock: giving a watch back takes the registry's.
  if (doomed != nullptr) registry_.NoteChange();
  while (doomed != nullptr) {
    Record* next = static_cast<Record*>(doomed->next);
    registry_.Release(doomed->watch);
    Free(doomed);
    doomed = next;
  }
}

void FolderTable::Free(Record* record) {
  if (record->listing != nullptr) record->listing->Release();
  record->~Record();
  ::operator delete(static_cast<void*>(record));
}

}  // namespace tavik
