// The word search's part of the search benchmark: a search by URL for a
// rare word and for a word that nearly every document holds, beside
// `rg -j1` for the same word in the same run: without the summary cache, the
// first request of a fresh load (no summary yet) without and with the cache,
// and repeated requests once the cache holds what it will; then the
// memory the cache takes with both kinds of summaries.
#ifndef TAVIK_BENCH_WORD_BENCH_H_
#define TAVIK_BENCH_WORD_BENCH_H_

#include <functional>
#include <string>
#include <vector>

#include "bench/bench_tools.h"
#include "bench/cache_bench.h"

namespace tavik::bench {

// Measures, prints and returns the targets' verdicts for `tree`, `words`
// being the rare word and the common one.
std::vector<CacheVerdict> MeasureWordSearch(const LibraryLoader& loader,
                                            const MeasuredTree& tree,
                                            const std::string& rare,
                                            const std::string& common,
                                            int repetitions);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_WORD_BENCH_H_
