#include "request/folder_listing.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "request/search_request.h"

namespace tavik {
namespace {

// What a listing keeps of an entry besides its name.
struct Facts {
  uint64_t number;
  EntryKind kind;
};

// The entries as they come, before the listing's size is known: each
// entry's facts, then its name and NUL, one entry after the other.
class Collected {
 public:
  ~Collected() { std::free(bytes_); }
  bool Add(const char* name, const Facts& facts) {
    const size_t length = std::strlen(name) + 1;
    const size_t needed = used_ + sizeof facts + length;
    if (needed > size_ && !Grow(needed)) return false;
    std::memcpy(bytes_ + used_, &facts, sizeof facts);
    std::memcpy(bytes_ + used_ + sizeof facts, name, length);
    used_ = needed;
    ++count_;
    return true;
  }
  const char* bytes() const { return bytes_; }
  size_t used() const { return used_; }
  size_t count() const { return count_; }

 private:
  bool Grow(size_t needed) {
    size_t size = size_ == 0 ? 4096 : size_;
    while (size < needed) size *= 2;
    char* grown = static_cast<char*>(std::realloc(bytes_, size));
    if (grown == nullptr) return false;
    bytes_ = grown;
    size_ = size;
    return true;
  }
  char* bytes_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;
  size_t count_ = 0;
};

}  // namespace

FolderListing* FolderListing::Make(const char* path, uint64_t device,
                                   uint64_t id) {
  Collected collected;
  {
    DirectoryListing listing;
    if (!listing.Open(path, kEveryEntryPattern)) return nullptr;
    DirectoryEntry entry;
    while (listing.Next(&entry)) {
      if (!collected.Add(entry.name, {entry.number, entry.kind})) {
        return nullptr;
      }
    }
  }
  // One allocation: the listing, its items, then the names.
  const size_t items_at = (sizeof(FolderListing) + alignof(Item) - 1) /
                          alignof(Item) * alignof(Item);
  const size_t names_at = items_at + collected.count() * sizeof(Item);
  const size_t bytes = names_at + collected.used();
  void* memory = ::operator new(bytes, std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* made = new (memory) FolderListing;
  made->id_ = id;
  made->device_ = device;
  made->count_ = collected.count();
  made->bytes_ = bytes;
  made->items_ = reinterpret_cast<Item*>(static_cast<char*>(memory) + items_at);
  char* names = static_cast<char*>(memory) + names_at;
  std::memcpy(names, collected.bytes(), collected.used());
  for (size_t index = 0, at = 0; index < made->count_; ++index) {
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
