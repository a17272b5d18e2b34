// SearchQuery: what a visitor's query asks for. Its words are its runs of
// letters and digits, folded as documents are (see text/word_stream.h);
// text between double quotes (or typographic ones) is a phrase, whose words
// must stand in that order with nothing but non-word characters between
// them. A document matches when it holds every word and every phrase: a
// word at the start of a word of the text ("quokka" finds "Quokkas"), a
// phrase as its words, each but the last a whole word of the text.
#ifndef TAVIK_WORD_SEARCH_SEARCH_QUERY_H_
#define TAVIK_WORD_SEARCH_SEARCH_QUERY_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

// The most words a query searches for; the rest are dropped.
inline constexpr size_t kMaxQueryWords = 16;
// The longest query, in bytes of UTF-8; a longer one is cut at a
// character boundary.
inline constexpr size_t kMaxQueryBytes = 1023;

class SearchQuery {
 public:
  // One word or phrase: what a document must hold.
  struct Unit {
    // Its form in a word stream: " " before each word, "quokka island"
    // as " quokka island".
    std::string_view stream;
    // How many words it has.
    size_t words;
  };

  // Reads the query `raw`: UTF-8 where its bytes are valid UTF-8, else
  // Windows-1252. Returns false when memory ran out.
  bool Parse(std::string_view raw);

  // The query as the visitor typed it, in UTF-8, cut to kMaxQueryBytes.
  std::string_view text() const { return text_.view(); }
  size_t unit_count() const { return units_.size(); }
  const Unit& unit(size_t index) const { return units_[index]; }
  // The words dropped past kMaxQueryWords.
  size_t dropped_words() const { return dropped_words_; }

 private:
  // Adds the words of `segment` as units: one phrase, or one unit a word.
  void AddSegment(std::string_view segment, bool phrase);
  void AddUnit(std::string_view stream, size_t words);

  ByteString text_;
  // The units' streams, one after the other; units_ point into it once it
  // is complete (offsets until then).
  ByteString streams_;
  struct Span {
    size_t offset, length, words;
  };
  GrowingArray<Span> spans_;
  GrowingArray<Unit> units_;
  size_t words_ = 0;
  size_t dropped_words_ = 0;
  bool out_of_memory_ = false;
};

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_SEARCH_QUERY_H_
