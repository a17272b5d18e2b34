// CacheVisit: one request's use of the summary cache. Made when the request
// starts to search with a cache, it reads the change events queued by then,
// gives the walk kept listings, decides for each document whether its
// summary rules the term out, and builds and keeps summaries of documents
// read, as far as the request's budget allows. Its counts join the cache's
// statistics when it ends. Belongs to one request on one thread.
#ifndef TAVIK_CORPUS_CACHE_VISIT_H_
#define TAVIK_CORPUS_CACHE_VISIT_H_

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/file_stamp.h"
#include "platform/readable_file.h"
#include "corpus/build_budget.h"
#include "corpus/document_summary.h"
#include "corpus/folder_listing.h"
#include "corpus/summary_cache.h"

namespace tavik {

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

  // Looks for the kept listing of the folder at full path `path`, expected
  // to be the folder `expected` (see FolderTable::Find); kOrdinary where no
  // folder is watched.
  FolderTable::Found FindFolder(const char* path, const FolderIdentity& expected,
                                FolderListing** listing, NewWatch* watch);
  // The cache's folders, to make a listing with a FolderTable::Maker; say
  // ListingMade when one was kept.
  FolderTable& folders() { return cache_.folders(); }
  void ListingMade() { ++counts_.listings_made; }

  enum class Verdict {
    kAbsent,            // its summary rules the term out: 0 hits, no read
    kRead,              // read it; its summary stands
    kReadAndSummarize,  // read it, and summarise it if the budget allows
  };
  // Decides for the regular file at full path `path`, listed in the listing
  // numbered `listing` (0: listed the ordinary way). Reads its stamp when
  // its record cannot be trusted from memory.
  Verdict Consult(const char* path, uint64_t listing);

  // For the file at `path`, open as `file` and not yet read, after
  // kReadAndSummarize: returns a started builder for the scanner to fill
  // when the budget allows and the file is old enough to trust, else
  // nullptr. With `listing` not 0, it first watches the file.
  SummaryBuilder* BeginSummary(const char* path, ReadableFile& file,
                               uint64_t listing);
  // After the scanner has read `file`: keeps the summary BeginSummary
  // started when the scanner finished it and the file's stamp has not moved
  // during the read. REQUIRES: BeginSummary returned a builder.
  void EndSummary(const char* path, const ReadableFile& file);

  // After any read of a document made with the cache's decision.
  void Read(const ReadableFile& file);

 private:
  Verdict Judge(const SummaryLookup& lookup);

  SummaryCache& cache_;
  SummaryKind kind_;
  TermSequences term_;
  BuildBudget budget_;
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
