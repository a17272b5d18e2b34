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

#include "bench/cache_bench.h"

namespace tavik::bench {

struct WordTree {
  std::string name;
  std::string root;
  double megabytes = 0;
  size_t documents = 0;
  // Milliseconds `rg -j1` takes to search the tree for a word.
  std::function<double(const std::string&)> rg_ms;
};

// Measures, prints and returns the targets' verdicts for `tree`, `words`
// being the rare word and the common one.
std::vector<CacheVerdict> MeasureWordSearch(const LibraryLoader& loader,
                                            const WordTree& tree,
                                            const std::string& rare,
                                            const std::string& common,
                                            int repetitions);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_WORD_BENCH_H_
