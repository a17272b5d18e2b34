// WordStream: a text as search compares it: folded (see unicode_folding.h)
// and cut into words, each word written after one space, so that the
// stream of "Quokkas, on Rottnest-Island!" is " quokkas on rottnest island".
// A word of a query then occurs at the start of a word of the text exactly
// when " " and the query word occur in the stream, and a phrase as its
// words exactly when " " and its words joined by single spaces do.
#ifndef TAVIK_TEXT_WORD_STREAM_H_
#define TAVIK_TEXT_WORD_STREAM_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

// Where one word of the stream came from.
struct StreamWord {
  // Where the word's space is in the stream; the word follows it.
  size_t stream_begin;
  // The bytes of the text it was folded from: [text_begin, text_end).
  size_t text_begin;
  size_t text_end;
};

class WordStream {
 public:
  WordStream() = default;
  WordStream(const WordStream&) = delete;
  WordStream& operator=(const WordStream&) = delete;

  // Makes the stream of `text`, which must be valid UTF-8, in place of the
  // one before (its memory reused). With `words`, also records where each
  // word came from (appended to it). Returns false when memory ran out.
  bool Build(std::string_view text, GrowingArray<StreamWord>* words = nullptr);

  std::string_view stream() const { return stream_.view(); }
  // The number of words in the stream.
  size_t word_count() const { return word_count_; }

 private:
  ByteString stream_;
  size_t word_count_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_TEXT_WORD_STREAM_H_
