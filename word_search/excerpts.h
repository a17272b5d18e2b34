// Excerpts: short stretches of a document's text around the places where a
// query's words and phrases occur, for a visitor to judge a result by. Each
// is about kExcerptLength characters, its white space run together, escaped
// for HTML, with every matched word of the text (the whole word, where the
// query gave only its start) in <mark>, and "…" where it cuts the text.
#ifndef TAVIK_WORD_SEARCH_EXCERPTS_H_
#define TAVIK_WORD_SEARCH_EXCERPTS_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"
#include "text/html_text.h"
#include "text/word_stream.h"
#include "word_search/search_query.h"

namespace tavik {

// The length of an excerpt, in characters, about.
inline constexpr size_t kExcerptLength = 160;
// The most excerpts of one document.
inline constexpr size_t kMaxExcerpts = 3;

struct Excerpts {
  ByteString html[kMaxExcerpts];
  size_t count = 0;
};

// Makes `excerpts` of `document`, whose word stream is `stream` with the
// words `words`, around the occurrences of the units of `query`: the first
// excerpt at the first occurrence, each next one at the first occurrence
// after the excerpt before, those in the title only where there are no
// others. Returns false when memory ran out.
bool MakeExcerpts(const DocumentText& document, std::string_view stream,
                  const GrowingArray<StreamWord>& words,
                  const SearchQuery& query, Excerpts& excerpts);

// Appends `text` (UTF-8) to `out` with its runs of white space made one
// space and its ends trimmed, escaped for HTML.
void AppendCollapsedHtml(std::string_view text, ByteString& out);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_EXCERPTS_H_
