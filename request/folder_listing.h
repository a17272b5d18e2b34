// FolderListing: the entries of one folder, listed once and kept, in the
// order the system listed them. Immutable once made, and shared: each
// holder keeps one reference, and the last one frees it.
#ifndef TAVIK_REQUEST_FOLDER_LISTING_H_
#define TAVIK_REQUEST_FOLDER_LISTING_H_

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

  // Lists every entry of the folder at full path `path` ("." and ".."
  // included, as the system gives them), a folder on device `device`.
  // Returns the listing with one reference for the caller, or nullptr when
  // the folder cannot be listed or there is no memory. `id` names it: no
  // two listings share one.
  static FolderListing* Make(const char* path, uint64_t device, uint64_t id);

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

#endif  // TAVIK_REQUEST_FOLDER_LISTING_H_
