// WordStream: a text as search compares it: folded (see unicode_folding.h),
// every character that separates words made a space, and a space in front.
// So the stream of "Quokkas, on Rottnest-Island!" is
// " quokkas  on rottnest island ": its words are the runs of bytes other
// than spaces, in the text's order, and a word of a query occurs at the
// start of a word of the text exactly when " " and the query word occur in
// the stream. The stream keeps one space for each separating character
// rather than running them together, so that a text of plain ASCII maps
// to its stream byte for byte, which is what makes building it cheap.
#ifndef TAVIK_TEXT_WORD_STREAM_H_
#define TAVIK_TEXT_WORD_STREAM_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

// Where one word of the stream came from.
struct StreamWord {
  // Where the word starts in the stream (after a space).
  size_t stream_begin;
  // The bytes of the text it was folded from: [text_begin, text_end).
  size_t text_begin;
  size_t text_end;
};

// Writes a stream as its text comes, piece by piece: the stream so far is
// the stream of the text so far. Starts the stream (with its space).
class StreamWriter {
 public:
  // Writes into `stream`, whose content it replaces; its memory is reused.
  explicit StreamWriter(ByteString& stream);
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // Adds `text`, valid UTF-8.
  void Text(std::string_view text);
  // Adds the character `point`.
  void Point(char32_t point);
  // Adds a separation between words (a space).
  void Separate();
  // The stream's length so far.
  size_t size() const;
  size_t word_count() const { return words_; }
  // Ends the stream at what was written. Returns false when memory ran out
  // on the way (the stream then holds what fitted).
  bool Finish();

 private:
  // Makes room for `bytes` more; false when there is no memory.
  bool Room(size_t bytes) {
    return static_cast<size_t>(room_end_ - out_) >= bytes || Grow(bytes);
  }
  bool Grow(size_t bytes);
  void WritePoint(char32_t point);

  ByteString& stream_;
  // Where the next byte goes, and the end of the room claimed in stream_.
  char* out_ = nullptr;
  char* room_end_ = nullptr;
  size_t words_ = 0;
  bool in_word_ = false;
  bool failed_ = false;
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

  // Builds the stream the plain way, one character at a time, whether or
  // not `words` are wanted; Build takes faster paths, runs of ASCII at
  // once. For the tests, which hold the two to each other.
  bool BuildPlainly(std::string_view text, GrowingArray<StreamWord>* words);

 private:
  bool BuildWithWords(std::string_view text, GrowingArray<StreamWord>& words);

  ByteString stream_;
  size_t word_count_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_TEXT_WORD_STREAM_H_
