// RootSnapshot: the documents below one search root, in the walk's order,
// as a walk over kept listings found them, each with its summary where the
// cache trusted one, for one kind of summary. While nothing a watch vouches
// for has changed (WatchRegistry::changes() stands still), a repeated
// search needs no walk: the snapshot says which documents its term may
// occur in, from a bitmap per sequence slot over the documents (made from
// their summaries at a slot's first use and kept), and only those, and the
// documents without a summary, are handed to the search, in order. The
// cost of a repeated search then follows the documents it may match, not
// the size of the tree.
//
// Shared by the requests that use it; thread-safe. A document that gets
// its summary while the snapshot is in use is given it (Adopt), so that
// the snapshot fills as the cache does.
#ifndef TAVIK_CORPUS_ROOT_SNAPSHOT_H_
#define TAVIK_CORPUS_ROOT_SNAPSHOT_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "corpus/document_summary.h"
#include "corpus/summary_table.h"
#include "corpus/watch_registry.h"
#include "platform/directory_listing.h"
#include "platform/growing_array.h"

namespace tavik {

class RootSnapshot {
 public:
  // One document, as the walk handed it over.
  struct Document {
    const char* path;  // full path, in the snapshot's memory
    EntryKind kind;    // kFile or kLink, as the listing said
    uint64_t listing;  // the id of the kept listing it came from
    uint64_t device;   // the device of its folder
  };

  // Holds one reference; the last frees the snapshot and what it pins.
  void Acquire() { references_.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  // What the snapshot is of, and as of when.
  SummaryKind kind() const { return kind_; }
  uint64_t changes() const { return changes_; }
  const char* root_path() const { return root_path_; }
  const char* real_root() const { return real_root_; }
  uint64_t root_device() const { return root_device_; }
  uint64_t root_number() const { return root_number_; }
  size_t size() const { return count_; }
  // REQUIRES: index < size().
  Document document(size_t index) const;
  // The memory the snapshot takes, its slot bitmaps aside.
  size_t bytes() const { return bytes_; }
  // True when every document has a summary held: no document (a link, one
  // not yet summarised) is read whatever its summary, so every change to
  // what a search of the tree reads is one a watch reports.
  bool complete();

  // Appends to `positions`, in increasing order, the position of every
  // document a text must hold `term` to match that may hold it: those
  // whose summaries allow it, those without a summary, and those whose
  // files are among `open` (held open now, so their summaries are not to
  // be trusted without their stamps). Uses at most
  // kMaxSnapshotSlots of the term's slots (the search's own check takes
  // the rest). Stores in `left_out` and `left_out_bytes` how many
  // documents the summaries ruled out, and their bytes. When memory runs
  // out, `positions` fails (the caller then takes every document).
  void Candidates(const TermSequences& term,
                  const GrowingArray<WatchRegistry::OpenFile>& open,
                  GrowingArray<uint32_t>& positions, uint64_t* left_out,
                  uint64_t* left_out_bytes);

  // Appends to `positions`, in no particular order, the position of every
  // document whose file is among `files`. When memory runs out,
  // `positions` fails.
  void PositionsOfFiles(const GrowingArray<WatchRegistry::OpenFile>& files,
                        GrowingArray<uint32_t>& positions);

  // Gives the document at `position` the summary `pin` (held; the snapshot
  // takes it over), where it has none yet.
  void Adopt(size_t position, const SummaryPin& pin);


 private:
  friend class SnapshotBuilder;
  RootSnapshot() = default;
  ~RootSnapshot();

  struct Entry {
    uint32_t path_offset;  // in paths_
    uint32_t folder;       // in folders_
    EntryKind kind;
    SummaryPin summary;  // empty: read every time
  };
  struct Folder {
    uint64_t listing;
    uint64_t device;
  };
  // The documents whose summaries hold `slot`, as a bitmap over
  // positions, made at its first use; nullptr when memory ran out. The
  // bitmap stays until DropSlotBits. REQUIRES: mutex_ held.
  const uint64_t* SlotBits(uint32_t slot);
  void DropSlotBits();
  // Sets in `may` (a bitmap over positions) the documents of the files
  // `open`; false when memory ran out. REQUIRES: mutex_ held.
  bool MarkOpenFiles(const GrowingArray<WatchRegistry::OpenFile>& open,
                     GrowingArray<uint64_t>& may);
  // PositionsOfFiles, with mutex_ held; false when memory ran out.
  bool FindPositionsOfFiles(const GrowingArray<WatchRegistry::OpenFile>& files,
                            GrowingArray<uint32_t>& positions);

  std::atomic<int> references_{1};
  SummaryKind kind_ = SummaryKind::kLines;
  uint64_t changes_ = 0;
  char* root_path_ = nullptr;
  char* real_root_ = nullptr;
  uint64_t root_device_ = 0;
  uint64_t root_number_ = 0;
  size_t bytes_ = 0;

  Entry* entries_ = nullptr;
  size_t count_ = 0;
  Folder* folders_ = nullptr;
  char* paths_ = nullptr;

  std::mutex mutex_;
  // Guarded by mutex_: the documents without a summary, one bit each; how
  // many have one and their bytes; and the slots' bitmaps made so far.
  GrowingArray<uint64_t> unsummarized_;
  uint64_t summarized_ = 0;
  uint64_t summarized_bytes_ = 0;
  struct SlotBitmap {
    uint32_t slot;
    uint64_t* bits;
  };
  GrowingArray<SlotBitmap> slot_bits_;
  // The documents with a summary by file, sorted, made when first needed
  // and made again after an Adopt.
  struct FilePosition {
    uint64_t device;
    uint64_t file;
    uint32_t position;
  };
  GrowingArray<FilePosition> by_file_;
  bool by_file_current_ = false;
};

// The most slots of a term a snapshot filters by.
inline constexpr size_t kMaxSnapshotSlots = 24;

// Makes a snapshot as a walk goes: each folder, then each of its documents,
// in the walk's order.
class SnapshotBuilder {
 public:
  SnapshotBuilder() = default;
  ~SnapshotBuilder();
  SnapshotBuilder(const SnapshotBuilder&) = delete;
  SnapshotBuilder& operator=(const SnapshotBuilder&) = delete;

  // The documents that follow come from the listing `listing` of a folder
  // on `device`.
  void Folder(uint64_t listing, uint64_t device);
  // The document at full path `path` of kind `kind`, with `pin` (held; the
  // builder takes it over) where the cache trusts its summary.
  void Document(const char* path, EntryKind kind, const SummaryPin& pin);
  // The walk could not be made from kept listings alone: no snapshot.
  void Spoil() { spoiled_ = true; }
  bool spoiled() const { return spoiled_; }

  // The snapshot of what was added, for `kind` and the root at `root_path`
  // (real path `real_root`, the folder `device` and `number`) as of
  // `changes`, with one reference for the caller; nullptr when spoiled or
  // out of memory.
  RootSnapshot* Finish(SummaryKind kind, uint64_t changes,
                       const char* root_path, const char* real_root,
                       uint64_t device, uint64_t number);

 private:
  struct PendingEntry {
    size_t path_offset;
    size_t folder;
    EntryKind kind;
    SummaryPin summary;
  };
  ByteString paths_;
  GrowingArray<RootSnapshot::Folder> folders_;
  GrowingArray<PendingEntry> entries_;
  bool spoiled_ = false;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_ROOT_SNAPSHOT_H_
