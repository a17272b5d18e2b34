// One whole search, of either kind, run through its layer as the extension
// runs it, with or without a summary cache, for the tests, the fuzzer and
// the benchmark that compare the two.
#ifndef TAVIK_TESTING_SEARCH_PAGE_H_
#define TAVIK_TESTING_SEARCH_PAGE_H_

#include <string>

#include "corpus/summary_cache.h"

namespace tavik::testing {

// Searches `root` (an extra path) for the search string `term` (any bytes
// but NUL) using `cache` (nullptr: none) and returns everything the request
// sent: the status, the head text and the body.
std::string SearchPage(const std::string& root, const std::string& term,
                       SummaryCache* cache);

// Searches `root` by URL for the query `query` (the decoded "q", any
// bytes) using `cache` (nullptr: none) and returns everything the word
// search sent: the status, the header and the answer, JSON when `json`.
std::string WordSearchPage(const std::string& root, const std::string& query,
                           bool json, SummaryCache* cache);

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_SEARCH_PAGE_H_
