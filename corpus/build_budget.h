// BuildBudget: how much summary building one request may do. Building costs
// two to four times what reading and searching the same bytes costs, so a
// request that summarised every document it read would take three to five
// times as long as without the cache. Instead each request earns
// credit as it goes, in units of what reading one byte costs:
//   - every document it reads earns 1/kShareDivisor of what reading it cost;
//   - every document its summary rules out earns the whole read it saved;
// where a document read for the word search (its text made, folded and
// matched) counts kWordReadFactor times what a read for the line search
// does;
// and a summary may be built when the credit covers its cost. Credit left
// at a request's end passes to the next request, up to kMaxCarried (about
// 1 ms of work), so that the documents a walk reaches first, before it has
// earned anything, get their summaries too. So the first request costs at
// most about 1 + 1/kShareDivisor times what it would without the cache, no
// later one more than that and 1 ms, and the time summaries save is spent
// on building more, until every document has one. Deterministic for one
// request after another: the same tree and requests build the same
// summaries.
#ifndef TAVIK_CORPUS_BUILD_BUDGET_H_
#define TAVIK_CORPUS_BUILD_BUDGET_H_

#include <cstdint>

namespace tavik {

class BuildBudget {
 public:
  // Measured on the search benchmark's trees on its machine (see
  // docs/benchmarks.md), in processor time: reading and searching cost about 0.17 ns a
  // byte plus about 3 us a document (open, status, reads, close, the walk's
  // share); building a summary about 0.7 ns a byte plus about 4 to 5 us
  // (finishing it, two status reads, a watch, keeping it). In units of
  // reading a byte:
  static constexpr int64_t kReadPerDocument = 16000;
  static constexpr int64_t kBuildPerByte = 4;
  static constexpr int64_t kBuildPerDocument = 30000;
  // The share of a read that building may add: 1/20, 5 % by the
  // model, which measures low (the scattered stores also evict what reading
  // keeps in the processor's caches; about three times as much in fact),
  // so that the first request stays within about 1.1 times its time
  // without the cache, and the cache fills within about ten requests even
  // on a tree of 60,000 documents.
  static constexpr int64_t kShareDivisor = 20;
  // A word search's request costs about 2.3 times a line search's on the
  // benchmark's trees (the reading of the files included); two is counted.
  static constexpr int64_t kWordReadFactor = 2;
  // The most credit one request passes to the next.
  static constexpr int64_t kMaxCarried = 5000000;

  // Starts with `carried`, what earlier requests left; `unlimited`: every
  // summary may be built (for tests); `read_factor`: what a byte read costs
  // this search, in units of what it costs the line search.
  BuildBudget(bool unlimited, int64_t carried, int64_t read_factor = 1)
      : credit_(carried), read_factor_(read_factor), unlimited_(unlimited) {}

  // What this request passes on.
  int64_t Leftover() const {
    return credit_ < kMaxCarried ? credit_ : kMaxCarried;
  }

  // A document of `bytes` bytes was read.
  void Read(uint64_t bytes) {
    credit_ += (static_cast<int64_t>(bytes) + kReadPerDocument) *
               read_factor_ / kShareDivisor;
  }
  // A document of `bytes` bytes was ruled out without a read.
  void Skipped(uint64_t bytes) {
    credit_ += (static_cast<int64_t>(bytes) + kReadPerDocument) * read_factor_;
  }
  // `documents` documents of `bytes` in all were ruled out without a read.
  void SkippedMany(uint64_t documents, uint64_t bytes) {
    credit_ += (static_cast<int64_t>(bytes) +
                static_cast<int64_t>(documents) * kReadPerDocument) *
               read_factor_;
  }
  // Whether the credit might cover a summary: worth reading the stamp that
  // says how large the document is.
  bool MayAfford() const { return unlimited_ || credit_ >= kBuildPerDocument; }
  // Takes the cost of summarising a document of `bytes` bytes and returns
  // true, or returns false when the credit does not cover it.
  bool Spend(uint64_t bytes) {
    const int64_t cost =
        static_cast<int64_t>(bytes) * kBuildPerByte + kBuildPerDocument;
    if (unlimited_) return true;
    if (credit_ < cost) return false;
    credit_ -= cost;
    return true;
  }

 private:
  int64_t credit_;
  int64_t read_factor_;
  bool unlimited_;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_BUILD_BUDGET_H_
