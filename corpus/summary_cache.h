// SummaryCache: what the library remembers between requests so that a
// request opens only the documents that may hold its term, and its pages
// stay exactly what they would be without it. One per loaded library,
// shared by every request on every thread; each request uses it through a
// CacheVisit. Three parts:
//   - SummaryTable: per document, the summary of its text and the stamp it
//     was made from, checked against the file's stamp before it is used;
//   - FolderTable, where the system offers change notification: folder
//     listings kept while a watch vouches for them, so that a repeated
//     request walks from memory;
//   - WatchRegistry: the watches, and the events read at each request's
//     start, which tell the tables what is no longer true;
//   - SnapshotTable, where folders are watched: for a few search roots,
//     their documents in the walk's order with their summaries, so that a
//     repeated search on a tree that has not changed walks nothing and
//     reads only what may match;
//   - KeptAnswers, where folders are watched: what a search made of a
//     whole tree, for the same search while nothing has changed.
// Memory: the tables together take at most Options::max_bytes, the records
// unused for longest going first; where folders are watched, one
// sixteenth for listings, one for snapshots, a thirty-second for answers
// and the rest for summaries; elsewhere all of it for summaries.
#ifndef TAVIK_CORPUS_SUMMARY_CACHE_H_
#define TAVIK_CORPUS_SUMMARY_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "corpus/build_budget.h"
#include "corpus/folder_table.h"
#include "corpus/kept_answers.h"
#include "corpus/snapshot_table.h"
#include "corpus/summary_table.h"
#include "corpus/watch_registry.h"

namespace tavik {

class SummaryCache {
 public:
  struct Options {
    // The bound on the memory the records take, in bytes.
    size_t max_bytes = size_t{256} << 20;
    // Use change notification where the system offers it (Linux).
    bool watch_changes = true;
    // A document that changed less than this long (in nanoseconds) before
    // its reading began gets no summary: a change within the file system's
    // timestamp granularity after the read could leave its stamp as it was.
    int64_t trust_delay = 2000000000;
    // Build every summary a request can, whatever its budget (for tests).
    bool unbudgeted = false;
  };

  // Counts since the cache was made, and its memory now.
  struct Stats {
    uint64_t requests = 0;
    uint64_t documents_skipped = 0;  // ruled out by a summary, not opened
    uint64_t documents_read = 0;     // read by a request using the cache
    uint64_t records_trusted = 0;    // summaries used with no system call
    uint64_t summaries_stored = 0;
    uint64_t stamps_read = 0;        // stamps read by path to check records
    uint64_t listings_made = 0;      // folders listed and kept
    uint64_t listings_reused = 0;    // folders walked from memory
    uint64_t snapshots_made = 0;     // snapshots of a root kept
    uint64_t snapshots_used = 0;     // searches that walked none
    uint64_t events = 0;             // change events applied
    uint64_t losses = 0;             // times events were lost
    size_t bytes = 0;                // memory the records take
    size_t summaries = 0;            // summaries kept
  };

  // Makes a cache, or returns nullptr when options.max_bytes is 0 or there
  // is no memory for it.
  static std::unique_ptr<SummaryCache> Create(const Options& options);
  // Gives up everything the cache holds. REQUIRES: no request is using it.
  ~SummaryCache() { registry_.Close(); }
  SummaryCache(const SummaryCache&) = delete;
  SummaryCache& operator=(const SummaryCache&) = delete;

  const Options& options() const { return options_; }
  // True when folders are watched: repeated requests walk from memory.
  bool watching() const { return registry_.active(); }
  Stats GetStats();

  // The parts, for CacheVisit.
  WatchRegistry& registry() { return registry_; }
  FolderTable& folders() { return folders_; }
  SummaryTable& summaries() { return summaries_; }
  SnapshotTable& snapshots() { return snapshots_; }
  KeptAnswers& answers() { return answers_; }

  // Adds one request's counts (all but events, losses, bytes and
  // summaries are taken from `counts`).
  void Add(const Stats& counts);

  // The building credit earlier requests left (see BuildBudget), taken by
  // the request that starts; and a request's leftover, given back.
  int64_t TakeCredit() { return credit_.exchange(0, std::memory_order_acq_rel); }
  void GiveCredit(int64_t credit);

 private:
  explicit SummaryCache(const Options& options);

  Options options_;
  // Made first and given up last: the tables hold its watches.
  WatchRegistry registry_;
  FolderTable folders_;
  SummaryTable summaries_;
  // Made last and given up first: its snapshots hold summaries.
  SnapshotTable snapshots_;
  KeptAnswers answers_;
  std::atomic<int64_t> credit_{0};
  struct Counters {
    std::atomic<uint64_t> requests{0}, skipped{0}, read{0}, trusted{0},
        stored{0}, stamps{0}, listings_made{0}, listings_reused{0},
        snapshots_made{0}, snapshots_used{0};
  } counters_;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_SUMMARY_CACHE_H_
