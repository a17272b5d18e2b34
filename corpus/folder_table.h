// FolderTable: folder listings kept in memory while a change watch vouches
// for them, so that a walk lists each watched folder once and afterwards
// from memory. A folder's record holds its watch, made before the folder is
// listed so that no change between the two is missed; the watch's
// generation and the registry's epoch at that moment; the folder's device
// and number, as the walk expected them; and the listing. A record is used
// while its watch is quiet (generation and epoch unmoved) and while the
// path still leads to the same folder: the walk says which folder it
// expects there, from the entry numbers of the parent's listing, or, for
// the search root, from the folder's stamp read at the request's start.
//
// A listing is made while the walk goes through it (Maker), and kept only
// once the walk has read it to its end: a walk stopped by the hit cap reads
// no more of the folder than it would without the table. Its watch is kept
// all the same, in a record without a listing, for the next walk.
//
// Folders whose changes the system may not all see (network, FUSE and
// overlay file systems) get a record that says so and are listed the
// ordinary way; so are folders that cannot be watched.
//
// Thread-safe: one lock guards the records, shared by lookups. It is never
// held while the registry's is taken.
#ifndef TAVIK_CORPUS_FOLDER_TABLE_H_
#define TAVIK_CORPUS_FOLDER_TABLE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "platform/directory_listing.h"
#include "corpus/folder_listing.h"
#include "corpus/record_table.h"
#include "corpus/watch_registry.h"

namespace tavik {

// Which folder a path is expected to lead to: its device and its number on
// that device.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t number = 0;
};

class FolderTable {
  struct Record;

 public:
  // `registry` must outlive the table; the records take at most
  // `max_bytes`, listings included.
  FolderTable(WatchRegistry& registry, size_t max_bytes);
  ~FolderTable();
  FolderTable(const FolderTable&) = delete;
  FolderTable& operator=(const FolderTable&) = delete;

  enum class Found {
    kMemory,    // a kept listing, in `*listing` with a reference for the caller
    kMake,      // none: make one with a Maker, given `*watch`
    kOrdinary,  // list the folder the ordinary way
  };
  // Looks for the kept listing of the folder at full path `path`, expected
  // to be the folder `expected`. With kMake, `*watch` holds the folder's
  // watch where one is in place already (with a reference for the Maker),
  // else no state.
  Found Find(const char* path, const FolderIdentity& expected,
             FolderListing** listing, NewWatch* watch);

  // Makes the listing of one folder as the walk reads it, and keeps it when
  // the walk has read it all.
  class Maker {
   public:
    // Opens the listing of the folder at full path `path`, expected to be
    // `expected`, after watching it: with `watch`, from Find, when it has a
    // watch in place already, else with a new one. False (operator bool)
    // when the folder is to be listed the ordinary way: it cannot be
    // watched, its file system may change unseen (which a record then
    // remembers), or it cannot be listed.
    Maker(FolderTable& table, const char* path, const FolderIdentity& expected,
          NewWatch watch);
    // Without Keep (a walk stopped at the hit cap), a new watch stays with
    // a record of its own, so that the next walk need not make it again.
    ~Maker();
    Maker(const Maker&) = delete;
    Maker& operator=(const Maker&) = delete;

    explicit operator bool() const { return open_; }
    // The id the listing will have.
    uint64_t id() const { return id_; }
    // The next entry of the folder; false after the last.
    bool Next(DirectoryEntry* entry) { return builder_.Next(entry); }
    // After the last entry: keeps the listing and returns it with one
    // reference for the caller; nullptr when it could not be made (the
    // listing failed midway, or no memory).
    FolderListing* Keep();

   private:
    FolderTable& table_;
    const char* path_;
    FolderIdentity expected_;
    NewWatch watch_;
    FolderListingBuilder builder_;
    uint64_t id_ = 0;
    bool open_ = false;
    // True when the watch came from a record already kept.
    bool shared_ = false;
  };

  size_t bytes() const;

 private:
  static void Free(Record* record);
  bool Trusted(const Record& record) const;
  // A record for `path`, without a watch or a listing yet; nullptr when
  // there is no memory.
  static Record* NewRecord(const char* path, const FolderIdentity& expected);
  void Keep(Record* record);
  void Dispose(Record* doomed);

  WatchRegistry& registry_;
  mutable std::shared_mutex mutex_;
  RecordTable table_;
  std::atomic<uint64_t> next_listing_id_{1};
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_FOLDER_TABLE_H_
