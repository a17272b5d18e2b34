// DocumentMatcher: one document after another as the word search reads
// them: all of its bytes, its text (text/html_text.h) and its word stream
// (text/word_stream.h), in buffers kept for the whole request. Then the
// places where a query's words and phrases occur in the stream.
#ifndef TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_
#define TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_

#include <cstddef>
#include <cstring>
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

  // Reads `file` from its start, up to kMaxDocumentBytes, and makes the
  // word stream of its text. With `summary` (started by the caller), adds
  // the stream to it and finishes it when the whole document was read.
  // Returns false when memory ran out.
  bool Read(ReadableFile& file, SummaryBuilder* summary = nullptr);
  std::string_view stream() const { return stream_.stream.view(); }
  size_t word_count() const { return stream_.words; }
  // The part of the stream that is the document's title: its <title>,
  // else its first <h1>, the first that holds a word, with the space
  // before it; empty when neither does.
  std::string_view title_stream() const;

  // Reads `file` as Read does, but makes its text, and the stream of that
  // text with where each word came from in `words`, for excerpts.
  bool ReadText(ReadableFile& file, GrowingArray<StreamWord>* words);
  const DocumentText& document() const { return text_; }
  std::string_view text_stream() const { return text_stream_.stream(); }

 private:
  // Reads the document's bytes into bytes_; true when all of them were
  // read.
  bool ReadBytes(ReadableFile& file);

  ByteString bytes_;
  DocumentStream stream_;
  DocumentText text_;
  WordStream text_stream_;
};

// The title a document shows, from its text: its <title>'s text, else its
// first <h1>'s, the first that holds a word; empty when neither does.
std::string_view ShownTitle(const DocumentText& document);

// The first place p in [from, last] of a stream where a word starting with
// the first two bytes of `word` starts (p[-1] is a space, then those
// bytes; the first alone for a word of one byte), or nullptr. REQUIRES:
// from[-1] readable, and `word`'s length readable from `last`.
const char* FindWordStart(const char* from, const char* last,
                          std::string_view word);

// True when, at `at` in a stream ending at `end`, the word just matched
// ends and the words `words` ("island", "rottnest island") follow it, each
// after one or more spaces, all whole but the last.
bool PhraseContinuesAt(const char* at, const char* end, std::string_view words);

// Calls `found` with the place in `stream` of each occurrence of the unit
// `unit` (a word or phrase in the query's form, " quokka island"), in
// order: where its first word starts. A phrase's words must each be whole
// but the last, with only spaces (separators) between them. Stops early
// when `found` returns false.
template <typename Found>
void ForEachOccurrence(std::string_view stream, std::string_view unit,
                       Found&& found) {
  if (unit.size() < 2 || stream.size() < unit.size()) return;
  const std::string_view rest = unit.substr(1);
  const size_t first_end = rest.find(' ');
  const std::string_view first = rest.substr(0, first_end);
  // The first word is looked for by its start, then compared whole.
  const char* const begin = stream.data();
  const char* const end = begin + stream.size();
  const char* const last = end - first.size();
  for (const char* at = begin + 1; at <= last;) {
    const char* hit = FindWordStart(at, last, first);
    if (hit == nullptr) return;
    at = hit + 1;
    if (std::memcmp(hit + 1, first.data() + 1, first.size() - 1) != 0) {
      continue;
    }
    if (first_end != std::string_view::npos &&
        !PhraseContinuesAt(hit + first.size(), end,
                           rest.substr(first_end + 1))) {
      continue;
    }
    if (!found(static_cast<size_t>(hit - begin))) return;
  }
}

// Calls `take` with each word of the unit `unit` in the stream's form, its
// space in front: " rottnest", " island".
template <typename Take>
void ForEachUnitWord(std::string_view unit, Take&& take) {
  for (size_t at = 0; at < unit.size();) {
    size_t next = unit.find(' ', at + 1);
    if (next == std::string_view::npos) next = unit.size();
    take(unit.substr(at, next - at));
    at = next;
  }
}

// The number of occurrences of `unit` in `stream`.
size_t CountOccurrences(std::string_view stream, std::string_view unit);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_DOCUMENT_MATCHER_H_
