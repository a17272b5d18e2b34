// DocumentMatcher: one document after another as the word search reads
// them: all of its bytes, its text (text/html_text.h) and its word stream
// (text/word_stream.h), in buffers kept for the whole request. Then the
// places where a query's words and phrases occur in the stream.
#ifndef TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_
#define TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_

#include <cstddef>
#include <string_view>

#include "corpus/document_summary.h"
#include "platform/growing_array.h"
#include "platform/readable_file.h"
#include "text/html_text.h"
#include "text/word_stream.h"

namespace tavik {

// The most bytes of one document that are read; the rest is not searched.
inline constexpr size_t kMaxDocumentBytes = size_t{64} << 20;

class DocumentMatcher {
 public:
  DocumentMatcher() = default;
  DocumentMatcher(const DocumentMatcher&) = delete;
  DocumentMatcher& operator=(const DocumentMatcher&) = delete;

  // Reads `file` from its start, up to kMaxDocumentBytes, and makes its
  // text and stream. With `words`, also records where each word of the
  // stream came from. With `summary` (started by the caller), adds the
  // stream to it and finishes it when the whole document was read. Returns
  // false when memory ran out; what was read stays searchable either way.
  bool Read(ReadableFile& file, SummaryBuilder* summary = nullptr,
            GrowingArray<StreamWord>* words = nullptr);

  const DocumentText& document() const { return document_; }
  std::string_view stream() const { return stream_.stream(); }
  size_t word_count() const { return stream_.word_count(); }

 private:
  ByteString bytes_;
  DocumentText document_;
  WordStream stream_;
};

// Calls `found` with the place in `stream` of each occurrence of the unit
// `unit` (a word or phrase in stream form, starting with its space), in
// order; stops early when `found` returns false.
template <typename Found>
void ForEachOccurrence(std::string_view stream, std::string_view unit,
                       Found&& found) {
  if (unit.size() < 2) return;
  // Looked for from its first letter on, which is rarer than its space.
  const std::string_view word = unit.substr(1);
  for (size_t at = stream.find(word, 1); at != std::string_view::npos;
       at = stream.find(word, at + 1)) {
    if (stream[at - 1] == ' ' && !found(at - 1)) return;
  }
}

// The number of occurrences of `unit` in `stream`.
size_t CountOccurrences(std::string_view stream, std::string_view unit);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_
