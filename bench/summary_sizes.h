// How selective and how large document summaries are by the size of the
// document, from 10 KB to 10 MB: documents made by joining a real tree's
// HTML, random absent terms of five letters, and the share of them each
// kind of summary fails to rule out. Part of the search benchmark.
#ifndef TAVIK_BENCH_SUMMARY_SIZES_H_
#define TAVIK_BENCH_SUMMARY_SIZES_H_

#include <string>
#include <vector>

namespace tavik::bench {

// Measures and prints the table, from the documents `sources` (a real
// tree's, in walk order).
void MeasureSummarySizes(const std::vector<std::string>& sources);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_SUMMARY_SIZES_H_
