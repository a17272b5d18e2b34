// How the word search ranks the documents that match: by a relevance score
// of the BM25 family over the query's words and phrases, with a boost for
// those the title holds; equal scores by path.
//
// For each word or phrase with tf occurrences in a document of dl words:
//   tf * (k1 + 1) / (tf + k1 * (1 - b + b * dl / avgdl))
// summed over the query's words and phrases, plus kTitleBoost for each one
// the document's title holds. avgdl is the mean length of the matching
// documents. Every matching document holds every word, so each counts the
// same (there is no inverse document frequency: it would depend on
// documents that the summaries let the search leave unread).
#ifndef TAVIK_WORD_SEARCH_RANKING_H_
#define TAVIK_WORD_SEARCH_RANKING_H_

#include <cstddef>
#include <cstdint>

namespace tavik {

inline constexpr double kScoreK1 = 1.2;
inline constexpr double kScoreB = 0.75;
inline constexpr double kTitleBoost = 1.5;

// The score of a document of `length` words that holds the query's `units`
// words and phrases `counts[0..units)` times each, `in_title` of them in
// its title, among matching documents of mean length `mean_length`.
inline double ScoreDocument(const uint32_t* counts, size_t units,
                            uint64_t length, double mean_length,
                            size_t in_title) {
  const double norm =
      kScoreK1 * (1 - kScoreB +
                  kScoreB * (mean_length > 0 ? static_cast<double>(length) /
                                                   mean_length
                                             : 1.0));
  double score = 0;
  for (size_t u = 0; u < units; ++u) {
    const double tf = counts[u];
    score += tf * (kScoreK1 + 1) / (tf + norm);
  }
  return score + kTitleBoost * static_cast<double>(in_title);
}

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_RANKING_H_
