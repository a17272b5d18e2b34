// SummaryTable: the documents' summaries, by full path and kind, with the
// stamp each
// was made from and, where a change watch was in place, what vouches for it
// from memory. Shared by every request: sixteen shards by path, each with
// its own lock (shared by lookups, so searches do not wait for each other),
// its own order of records and an equal share of the bound; records not
// used for longest go first when a shard is over its share.
//
// Trusted from memory, with no system call, is a record that was checked
// (made, or its stamp found equal) while its file's watch was in place,
// under the very folder listing the walk now uses, and whose watch has been
// quiet since, with no events lost. A record whose watch has seen its file
// change is stale, whatever the file's stamp says; any other record is
// checked by its stamp.
#ifndef TAVIK_CORPUS_SUMMARY_TABLE_H_
#define TAVIK_CORPUS_SUMMARY_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "platform/file_stamp.h"
#include "corpus/document_summary.h"
#include "corpus/record_table.h"
#include "corpus/watch_registry.h"

namespace tavik {

// Which text a summary is of: each kind of search reads a document its own
// way, and a document may have a summary of each kind.
enum class SummaryKind : uint8_t {
  kLines,  // the bytes as the line search reads them
  kWords,  // the folded word stream of the document's text
};

// A summary held for a snapshot of a tree: its bits stay readable until
// SummaryTable::Unpin, even once its record has left the table.
struct SummaryPin {
  const uint64_t* words = nullptr;
  size_t bits = 0;
  uint64_t document_bytes = 0;  // the size of the document summarised
  const void* record = nullptr;  // nullptr: nothing held
  explicit operator bool() const { return record != nullptr; }
};

// What a lookup found; copied out under the shard's lock.
struct SummaryLookup {
  bool found = false;
  // Which record it was, to confirm it later (see Confirm).
  uint64_t serial = 0;
  // The stamp the summary was made from.
  FileStamp stamp;
  // False when the summary proves the term absent.
  bool may_occur = true;
  // True when the record may be trusted from memory (see the top).
  bool trusted = false;
  // Whether it holds a watch, and the watch's generation as read now.
  bool watched = false;
  uint64_t generation = 0;
  // True when the watch has seen the file change since the record was last
  // checked, or has ended: the summary is taken as stale, whatever the
  // stamp says.
  bool changed = false;
  // With a pin asked for and the record trusted: the summary, held.
  SummaryPin pin;
};

class SummaryTable {
 public:
  // The records take at most `max_bytes`; `registry` outlives the table.
  SummaryTable(WatchRegistry& registry, size_t max_bytes);
  ~SummaryTable();
  SummaryTable(const SummaryTable&) = delete;
  SummaryTable& operator=(const SummaryTable&) = delete;

  // Looks up the `kind` summary of the document at full path `path` and
  // judges `term` by it. `listing` is the id of the folder listing the walk took the
  // document from (0: none) and `epoch` the registry's epoch now.
  // With `pin`, a trusted record's summary is held in the lookup's pin.
  SummaryLookup Find(const char* path, SummaryKind kind,
                     const TermSequences& term, uint64_t listing,
                     uint32_t epoch, bool pin = false);

  // After the record `serial` of `path` was found with `generation` and its
  // stamp has since been read and found equal: makes it trusted under
  // `listing` and `epoch`, if its watch has stayed at that generation.
  // With `pin`, returns its summary held when it did.
  SummaryPin Confirm(const char* path, SummaryKind kind, uint64_t serial,
                     uint64_t generation, uint64_t listing, uint32_t epoch,
                     bool pin = false);

  // Keeps the `kind` summary `summary` (finished) of the document at
  // `path`, made from `stamp`, in place of any record of that path and
  // kind. `watch`, if not
  // nullptr, was in place before the stamp was read, with `generation`
  // then; the table takes over the caller's reference to it. The record is
  // trusted under `listing` and `epoch` while the watch stays there.
  // With `pin` and a watch, returns the new summary held.
  SummaryPin Store(const char* path, SummaryKind kind, const FileStamp& stamp,
                   const SummaryBuilder& summary, WatchState* watch,
                   uint64_t generation, uint64_t listing, uint32_t epoch,
                   bool pin = false);

  // Gives back what `pin` held.
  static void Unpin(const SummaryPin& pin);

  // Drops the `kind` record of `path`, if any. Every record that leaves the
  // table, so or to keep within the bound, tells the registry
  // (WatchRegistry::NoteChange): snapshots that hold it are no longer
  // whole.
  void Forget(const char* path, SummaryKind kind);

  size_t bytes();
  size_t count();

 private:
  struct Record;
  struct Shard {
    // Shared for lookups, exclusive for changes.
    std::shared_mutex mutex;
    RecordTable table;
    uint64_t next_serial = 1;
  };
  static constexpr size_t kShards = 16;
  Shard& ShardOf(uint64_t hash) { return shards_[hash >> 60]; }
  void Dispose(Record* doomed);
  static SummaryPin PinOf(Record* record);
  // Gives up one holding of `record`; the last frees it.
  static void Drop(Record* record);

  WatchRegistry& registry_;
  Shard shards_[kShards];
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_SUMMARY_TABLE_H_
