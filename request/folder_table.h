// FolderTable: folder listings kept in memory while a change watch vouches
// for them, so that a walk lists each watched folder once and afterwards
// from memory. A folder's record holds its watch, made before the folder is
// listed so that no change between the two is missed; the watch's
// generation and the registry's epoch at that moment; the folder's device
// and number, as the walk expected them; and the listing. A record is used while its watch is
// quiet (generation and epoch unmoved) and while the path still leads to
// the same folder: the walk says which folder it expects there, from the
// entry numbers of the parent's listing, or, for the search root, from the
// folder's stamp read at the request's start.
//
// Folders whose changes the system may not all see (network, FUSE and
// overlay file systems) get a record that says so and are listed the
// ordinary way; so are folders that cannot be watched.
//
// Thread-safe: one lock guards the records, shared by lookups. It is never
// held while the registry's is taken.
#ifndef TAVIK_REQUEST_FOLDER_TABLE_H_
#define TAVIK_REQUEST_FOLDER_TABLE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "request/folder_listing.h"
#include "request/record_table.h"
#include "request/watch_registry.h"

namespace tavik {

// Which folder a path is expected to lead to: its device and its number on
// that device.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t number = 0;
};

class FolderTable {
 public:
  // `registry` must outlive the table; the records take at most
  // `max_bytes`, listings included.
  FolderTable(WatchRegistry& registry, size_t max_bytes);
  ~FolderTable();
  FolderTable(const FolderTable&) = delete;
  FolderTable& operator=(const FolderTable&) = delete;

  // Whether a listing came from memory or was made now.
  enum class Source { kMemory, kListed };

  // The listing of the folder at full path `path`, which is expected to be
  // the folder `expected`, with one reference for the caller; `source` says
  // where it came from. Returns nullptr when the folder is to be listed the
  // ordinary way: it cannot be watched, its file system may change unseen,
  // or it cannot be listed.
  FolderListing* Listing(const char* path, const FolderIdentity& expected,
                         Source* source);

  size_t bytes() const;

 private:
  struct Record;
  static void Free(Record* record);
  bool Trusted(const Record& record) const;
  // Lists the folder at `path`, expected to be `expected`, anew and keeps
  // the record; returns the listing with a reference for the caller, or
  // nullptr.
  FolderListing* Establish(const char* path, size_t length, uint64_t hash,
                           const FolderIdentity& expected);
  void Keep(Record* record);
  void Dispose(Record* doomed);

  WatchRegistry& registry_;
  mutable std::shared_mutex mutex_;
  RecordTable table_;
  std::atomic<uint64_t> next_listing_id_{1};
};

}  // namespace tavik

#endif  // TAVIK_REQUEST_FOLDER_TABLE_H_
