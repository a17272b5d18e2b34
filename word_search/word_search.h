// The word search: a visitor's query (see search_query.h) against the text
// of every document below a search root, answered with the matching
// documents ranked (see ranking.h), ten a page, each with its title, its
// link and excerpts, as an HTML page or as JSON (see answer.h).
//
// It walks the same documents as the line search, with the same walk and
// the same confinement (corpus/tree_walk.h), and uses the same summary
// cache with summaries of its own kind, made of each document's word
// stream: a document whose summary proves a word or phrase of the query
// absent is not read, and the answer is the same as without the cache.
#ifndef TAVIK_WORD_SEARCH_WORD_SEARCH_H_
#define TAVIK_WORD_SEARCH_WORD_SEARCH_H_

#include <string_view>

#include "corpus/summary_cache.h"
#include "platform/page_sink.h"

namespace tavik {

struct WordSearchRequest {
  // The query as the request gave it (the form-decoded "q").
  std::string_view query;
  // The page asked for, from 1.
  long page = 1;
  // JSON instead of an HTML page.
  bool json = false;
  // The search root, as for the line search: a folder path resolved
  // against the current directory; nullptr searches nothing.
  const char* root = nullptr;
  // What goes before a document's path below the root to make its link:
  // the URL path of the searched folder ("" for the top of the site).
  std::string_view link_prefix;
};

// Runs the search `request` and sends its answer to `sink`: the status
// "200 OK", the header (HTML or JSON, UTF-8) and the answer. `cache` may be
// nullptr. Any request gets an answer; a search that runs out of memory
// answers as far as it got.
void RunWordSearch(const WordSearchRequest& request, SummaryCache* cache,
                   PageSink* sink);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_WORD_SEARCH_H_
