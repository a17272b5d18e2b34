// The word search as the extension runs it: which requests are word
// searches, and what it takes from the server's control block for one.
#ifndef TAVIK_EXTENSION_WORD_SEARCH_CALL_H_
#define TAVIK_EXTENSION_WORD_SEARCH_CALL_H_

#include "corpus/summary_cache.h"
#include "interface/server_interface.h"

namespace tavik {

// True when `pECB` is a word search: a GET or HEAD with no posted data
// whose query string has a "q" field. Any request with posted data is a
// form post, answered as ever.
bool IsWordSearchRequest(const EXTENSION_CONTROL_BLOCK* pECB);

// Runs the word search `pECB` asks for and sends its answer through the
// control block's callbacks. The search root is the extra path, as for a
// form post (one too long for a path searches nothing); the links start
// with the request's URL path below the extension's own (URL without
// SCRIPT_NAME, where the server gives both). `cache` may be nullptr.
void RunWordSearchRequest(EXTENSION_CONTROL_BLOCK* pECB, SummaryCache* cache);

}  // namespace tavik

#endif  // TAVIK_EXTENSION_WORD_SEARCH_CALL_H_
