// CacheVisit: one request's use of the summary cache. Made when the request
// starts to search with a cache, it reads the change events queued by then,
// gives the walk kept listings and snapshots, decides for each document
// whether its summary rules the term out, and builds and keeps summaries of
// documents read, as far as the request's budget allows. Its counts join
// the cache's statistics when it ends. Belongs to one request on one
// thread.
#ifndef TAVIK_CORPUS_CACHE_VISIT_H_
#define TAVIK_CORPUS_CACHE_VISIT_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "corpus/build_budget.h"
#include "corpus/document_summary.h"
#include "corpus/folder_listing.h"
#include "corpus/root_snapshot.h"
#include "corpus/summary_cache.h"
#include "platform/file_stamp.h"
#include "platform/readable_file.h"

namespace tavik {

// A document as a kept folder listing gave it: what the listing says it is,
// the listing's id and the device of its folder.
struct ListedDocument {
  EntryKind kind;
  uint64_t listing;
  uint64_t device;
};

class CacheVisit {
 public:
  // A visit that judges documents by their `kind` summaries and `term`,
  // the sequences a document must hold to match. Applies the events queued
  // by now.
  CacheVisit(SummaryCache& cache, SummaryKind kind, const TermSequences& term);
  // Adds the visit's counts to the cache's statistics.
  ~CacheVisit();
  CacheVisit(const CacheVisit&) = delete;
  CacheVisit& operator=(const CacheVisit&) = delete;

  // True when folders are watched: FindFolder may give listings.
  bool watching() const { return cache_.watching(); }
  SummaryKind kind() const { return kind_; }
  const TermSequences& term() const { return term_; }

  // Looks for the kept listing of the folder at full path `path`, expected
  // to be the folder `expected` (see FolderTable::Find); kOrdinary where no
  // folder is watched.
  FolderTable::Found FindFolder(const char* path, const FolderIdentity& expected,
                                FolderListing** listing, NewWatch* watch);
  // The cache's folders, to make a listing with a FolderTable::Maker; say
  // ListingMade when one was kept.
  FolderTable& folders() { return cache_.folders(); }
  void ListingMade() { ++counts_.listings_made; }

  // The snapshot of the root at full path `root_path`, which is the folder
  // `identity` with the real path `real_root` now, when one is kept and
  // still whole, with a reference for the caller; else nullptr (and a
  // snapshot no longer whole is dropped).
  RootSnapshot* FindSnapshot(const char* root_path,
                             const FolderIdentity& identity,
                             const char* real_root);
  // The files held open now (see WatchRegistry), appended to `files`.
  void OpenFiles(GrowingArray<WatchRegistry::OpenFile>& files) {
    if (cache_.registry().AnyOpen()) cache_.registry().OpenFiles(files);
  }
  // True when nothing a watch vouches for has changed since `snapshot` was
  // made, and each of its documents whose file is held open now (by anyone,
  // this process's own reads among them) still has the stamp its summary
  // was made from: what a search made of the whole snapshot then still
  // stands. An open file is checked by its stamp, as its record would be.
  bool Unchanged(RootSnapshot& snapshot);
  // The cache's kept answers.
  KeptAnswers& answers() { return cache_.answers(); }
  // What changes() was when the visit began: a snapshot a walk makes is of
  // the tree as of then.
  uint64_t changes_at_start() const { return changes_at_start_; }
  // Keeps `snapshot` (taking the caller's reference) if nothing has changed
  // since it was begun; else drops it.
  void KeepSnapshot(RootSnapshot* snapshot);
  // From now on Consult and EndSummary hold the summary of each document
  // the cache trusts, for TakePin, while a walk makes a snapshot.
  void HoldTrustedSummaries() { holding_ = true; }
  // The summary held for the last document decided, if any, for the
  // caller to keep or give back (SummaryTable::Unpin).
  SummaryPin TakePin() {
    const SummaryPin pin = pin_;
    pin_ = {};
    return pin;
  }

  enum class Verdict {
    kAbsent,            // its summary rules the term out: 0 hits, no read
    kRead,              // read it; its summary stands
    kReadAndSummarize,  // read it, and summarise it if the budget allows
  };
  // Decides for the regular file at full path `path`, from a kept listing
  // as `listed` says (nullptr: listed the ordinary way). Reads its stamp
  // when its record cannot be trusted from memory.
  Verdict Consult(const char* path, const ListedDocument* listed);

  // For the file at `path`, open as `file` and not yet read, after
  // kReadAndSummarize: returns a started builder for the scanner to fill
  // when the budget allows and the file is old enough to trust, else
  // nullptr. With a kept listing, it first watches the file, unless the
  // file is on another device than its folder (a mount of its own, which
  // no watch of the folder's file system vouches for).
  SummaryBuilder* BeginSummary(const char* path, ReadableFile& file,
                               const ListedDocument* listed);
  // After the scanner has read `file`: keeps the summary BeginSummary
  // started when the scanner finished it and the file's stamp has not moved
  // during the read. REQUIRES: BeginSummary returned a builder.
  void EndSummary(const char* path, const ReadableFile& file);

  // After any read of a document made with the cache's decision.
  void Read(const ReadableFile& file);
  // A snapshot left out `documents` documents of `bytes` in all, which
  // their summaries ruled out without a read.
  void SkippedBySnapshot(uint64_t documents, uint64_t bytes);

 private:
  Verdict Judge(const SummaryLookup& lookup);
  // Reads the stamp of the document at `path` now: true when it is a
  // regular file's and the one the summary `lookup` found was made from.
  bool StampStands(const char* path, const SummaryLookup& lookup);
  void Hold(const SummaryPin& pin) {
    SummaryTable::Unpin(pin_);
    pin_ = pin;
  }

  SummaryCache& cache_;
  SummaryKind kind_;
  TermSequences term_;
  BuildBudget budget_;
  uint64_t changes_at_start_ = 0;
  bool holding_ = false;
  SummaryPin pin_;
  // Made for the request's first summary.
  std::optional<SummaryBuilder> builder_;
  // The summary being built: the stamp it began with and its file's watch.
  struct Pending {
    FileStamp stamp;
    NewWatch watch;
    uint64_t listing = 0;
  } pending_;
  SummaryCache::Stats counts_;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_CACHE_VISIT_H_
