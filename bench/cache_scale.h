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

#include "bench/bench_tools.h"
#include "bench/cache_bench.h"

namespace tavik::bench {

void PrintCacheScaleHeader();
// Measures and prints the row of `tree`; steady times are the least over
// `rounds` fresh loads.
void MeasureCacheScale(const LibraryLoader& loader, const MeasuredTree& tree,
                       int rounds);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_CACHE_SCALE_H_
