#include "corpus/folder_listing.h"

#include <cstdlib>
#include <cstring>
#include <new>


namespace tavik {
namespace {

// What a listing keeps of an entry besides its name.
struct Facts {
  uint64_t number;
  EntryKind kind;
};

}  // namespace

FolderListingBuilder::~FolderListingBuilder() { std::free(bytes_); }

bool FolderListingBuilder::Open(const char* path) {
  return listing_.Open(path, kEveryEntryPattern);
}

bool FolderListingBuilder::Next(DirectoryEntry* entry) {
  if (!listing_.Next(entry)) return false;
  // Past a failed allocation the walk goes on; only the listing will not be
  // made.
  if (out_of_memory_) return true;
  const Facts facts = {entry->number, entry->kind};
  const size_t length = std::strlen(entry->name) + 1;
  const size_t needed = used_ + sizeof facts + length;
  if (needed > size_) {
    size_t size = size_ == 0 ? 4096 : size_;
    while (size < needed) size *= 2;
    char* grown = static_cast<char*>(std::realloc(bytes_, size));
    if (grown == nullptr) {
      out_of_memory_ = true;
      return true;
    }
    bytes_ = grown;
    size_ = size;
  }
  std::memcpy(bytes_ + used_, &facts, sizeof facts);
  std::memcpy(bytes_ + used_ + sizeof facts, entry->name, length);
  used_ = needed;
  ++count_;
  return true;
}

FolderListing* FolderListingBuilder::Finish(uint64_t device, uint64_t id) {
  if (out_of_memory_ || listing_.failed()) return nullptr;
  // One allocation: the listing, its items, then the names.
  using Item = FolderListing::Item;
  const size_t items_at = (sizeof(FolderListing) + alignof(Item) - 1) /
                          alignof(Item) * alignof(Item);
  const size_t names_at = items_at + count_ * sizeof(Item);
  const size_t bytes = names_at + used_;
  void* memory = ::operator new(bytes, std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* made = new (memory) FolderListing;
  made->id_ = id;
  made->device_ = device;
  made->count_ = count_;
  made->bytes_ = bytes;
  made->items_ = reinterpret_cast<Item*>(static_cast<char*>(memory) + items_at);
  char* names = static_cast<char*>(memory) + names_at;
  if (used_ > 0) std::memcpy(names, bytes_, used_);
  for (size_t index = 0, at = 0; index < count_; ++index) {
    Facts facts;
    std::memcpy(&facts, names + at, sizeof facts);
    const char* name = names + at + sizeof facts;
    made->items_[index] = {name, facts.kind, facts.number};
    at += sizeof facts + std::strlen(name) + 1;
  }
  return made;
}

void FolderListing::Release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  this->~FolderListing();
  ::operator delete(static_cast<void*>(this));
}

}  // namespace tavik
