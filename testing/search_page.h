// One whole search run through the request layer, as the extension runs
// it, with or without a summary cache, for the tests and the fuzzer that
// compare the two.
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

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_SEARCH_PAGE_H_
