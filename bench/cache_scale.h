// The summary cache at scale: for trees from 5,000 to 60,000 documents, a
// repeated search's time against `rg -j1`, per document, for an absent term
// and a rare one; the requests it takes to fill the cache, its memory per
// searched MB, and the first request against the same search without it.
// Prints a Markdown table, a row a tree.
#ifndef TAVIK_BENCH_CACHE_SCALE_H_
#define TAVIK_BENCH_CACHE_SCALE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "bench/cache_bench.h"

namespace tavik::bench {

struct ScaleTree {
  std::string name;
  std::string root;
  size_t documents = 0;
  double megabytes = 0;
  // Milliseconds `rg -j1` takes to search the tree for a term.
  std::function<double(const std::string&)> rg_ms;
};

void PrintCacheScaleHeader();
// Measures and prints the row of `tree`; steady times are the least over
// `rounds` fresh loads.
void MeasureCacheScale(const LibraryLoader& loader, const ScaleTree& tree,
                       int rounds);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_CACHE_SCALE_H_
