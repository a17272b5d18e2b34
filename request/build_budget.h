// BuildBudget: how much summary building one request may do. Building costs
// about twice what reading and searching the same bytes costs, so a request
// that summarised every document it read would take about three times as
// long as without the cache. Instead each request earns credit as it goes,
// in units of what reading one byte costs:
//   - every document it reads earns kShare of what reading it cost;
//   - every document its summary rules out earns the whole read it saved;
// and a summary may be built when the credit covers its cost. So no request
// costs more than about (1 + kShare) times what it would without the cache,
// the first included, and the time summaries save is spent on building
// more, until every document has one. Deterministic: the same tree and
// requests build the same summaries.
#ifndef TAVIK_REQUEST_BUILD_BUDGET_H_
#define TAVIK_REQUEST_BUILD_BUDGET_H_

#include <cstdint>

namespace tavik {

class BuildBudget {
 public:
  // Measured with the search benchmark's trees on its machine (see the
  // README): reading and searching costs about 0.4 ns a byte plus about
  // 1.2 us a document (open, status, close, the walk's share); building a
  // summary about 0.8 ns a byte plus about 4 us (finishing it, two status
  // reads, a watch, keeping it).
  static constexpr int64_t kReadPerDocument = 3000;
  static constexpr int64_t kBuildPerByte = 2;
  static constexpr int64_t kBuildPerDocument = 10000;
  // The share of a read that building may add: 1/25, 4 %.
  static constexpr int64_t kShareDivisor = 25;

  // `unlimited`: every summary may be built (for tests).
  explicit BuildBudget(bool unlimited) : unlimited_(unlimited) {}

  // A document of `bytes` bytes was read.
  void Read(uint64_t bytes) {
    credit_ += (static_cast<int64_t>(bytes) + kReadPerDocument) / kShareDivisor;
  }
  // A document of `bytes` bytes was ruled out without a read.
  void Skipped(uint64_t bytes) {
    credit_ += static_cast<int64_t>(bytes) + kReadPerDocument;
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
  int64_t credit_ = 0;
  bool unlimited_;
};

}  // namespace tavik

#endif  // TAVIK_REQUEST_BUILD_BUDGET_H_
