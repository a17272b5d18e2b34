// The word search's answer, as a page for a visitor (HTML) or as data for a
// site's own page (JSON). Both are UTF-8, and everything from the query or
// the documents is escaped, so any query and any document give a valid
// answer.
#ifndef TAVIK_WORD_SEARCH_ANSWER_H_
#define TAVIK_WORD_SEARCH_ANSWER_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"
#include "word_search/excerpts.h"
#include "word_search/search_query.h"

namespace tavik {

// Results a page.
inline constexpr size_t kResultsPerPage = 10;

// The header lines and the empty line that ends them.
inline constexpr char kHtmlAnswerHead[] =
    "Content-Type: text/html; charset=utf-8\r\n\r\n";
inline constexpr char kJsonAnswerHead[] =
    "Content-Type: application/json; charset=utf-8\r\n\r\n";
// The stylesheet the page links, at the top of the site, for a site to
// replace with its own.
inline constexpr char kStylesheetPath[] = "/tavik-search.css";

struct AnswerResult {
  std::string_view url;    // the link, not yet escaped
  std::string_view title;  // UTF-8, white space not yet run together
  double score = 0;
  const Excerpts* excerpts = nullptr;
};

struct Answer {
  const SearchQuery* query = nullptr;
  // False for an empty query, or one without a word: nothing was searched.
  bool searched = false;
  size_t total = 0;  // matching documents
  long page = 1;
  const AnswerResult* results = nullptr;  // the page's results
  size_t count = 0;
};

// The number of pages `total` results take (at least 1).
size_t PageCount(size_t total);

// Appends the HTML page of `answer` to `out`.
void WriteHtmlAnswer(const Answer& answer, ByteString& out);

// Appends the JSON of `answer` to `out`: {"query", "total", "page",
// "per_page", "dropped_words", "results": [{"url", "title", "score",
// "excerpts": [...]}]}, the excerpts as HTML with <mark>.
void WriteJsonAnswer(const Answer& answer, ByteString& out);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_ANSWER_H_
