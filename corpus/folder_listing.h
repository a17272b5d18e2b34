// FolderListing: the entries of one folder, listed once and kept, in the
// order the system listed them. Immutable once made, and shared: each
// holder keeps one reference, and the last one frees it.
#ifndef TAVIK_CORPUS_FOLDER_LISTING_H_
#define TAVIK_CORPUS_FOLDER_LISTING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/directory_listing.h"

namespace tavik {

class FolderListing {
 public:
  struct Item {
    const char* name;  // NUL-terminated, in the listing's own memory
    EntryKind kind;
    uint64_t number;   // as DirectoryEntry::number
  };

  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  void Acquire() { references_.fetch_add(1, std::memory_order_relaxed); }
  // Gives back one reference; the last frees the listing.
  void Release();

  uint64_t id() const { return id_; }
  // The device of the folder listed: its entries' numbers are on it.
  uint64_t device() const { return device_; }
  size_t count() const { return count_; }
  // REQUIRES: index < count().
  const Item& item(size_t index) const { return items_[index]; }
  // The bytes the listing takes.
  size_t bytes() const { return bytes_; }

 private:
  friend class FolderListingBuilder;
  FolderListing() = default;
  ~FolderListing() = default;

  std::atomic<int> references_{1};
  uint64_t id_ = 0;
  uint64_t device_ = 0;
  size_t count_ = 0;
  size_t bytes_ = 0;
  // count_ items, then their names, in one allocation with the listing.
  Item* items_ = nullptr;
};

// Lists a folder entry by entry, keeping every entry as it comes (so that a
// walk can go through them at once), and makes the FolderListing of them
// once the last has been read.
class FolderListingBuilder {
 public:
  FolderListingBuilder() = default;
  ~FolderListingBuilder();
  FolderListingBuilder(const FolderListingBuilder&) = delete;
  FolderListingBuilder& operator=(const FolderListingBuilder&) = delete;

  // Starts listing every entry of the folder at full path `path`. Returns
  // false when it cannot be listed.
  bool Open(const char* path);
  // Stores the next entry in `entry` (valid until the next call) and keeps
  // it; returns false after the last.
  bool Next(DirectoryEntry* entry);
  // The listing of every entry Next gave ("." and ".." included, in the
  // system's order), of a folder on device `device`, named `id` (no two
  // listings share one), with one reference for the caller. nullptr when
  // the listing failed midway or memory ran out.
  // REQUIRES: Next returned false.
  FolderListing* Finish(uint64_t device, uint64_t id);

 private:
  DirectoryListing listing_;
  // The entries so far: each one's number and kind, then its name and NUL.
  char* bytes_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;
  size_t count_ = 0;
  bool out_of_memory_ = false;
};

// Holds one reference to a listing for a scope.
class HeldListing {
 public:
  explicit HeldListing(FolderListing* listing) : listing_(listing) {}
  ~HeldListing() {
    if (listing_ != nullptr) listing_->Release();
  }
  HeldListing(const HeldListing&) = delete;
  HeldListing& operator=(const HeldListing&) = delete;
  explicit operator bool() const { return listing_ != nullptr; }
  const FolderListing& operator*() const { return *listing_; }
  const FolderListing* operator->() const { return listing_; }

 private:
  FolderListing* listing_;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_FOLDER_LISTING_H_
