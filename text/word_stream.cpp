#include "text/word_stream.h"

#include "text/text_encoding.h"
#include "text/unicode_folding.h"

namespace tavik {
namespace {

// Writes the stream: words start with a space, and a word's place in the
// text is tracked when asked.
class StreamWriter {
 public:
  StreamWriter(ByteString& stream, GrowingArray<StreamWord>* words)
      : stream_(stream), words_(words) {}

  size_t word_count() const { return word_count_; }

  // Adds the folded code point `point` of a word, which came from the
  // text's bytes [text_begin, text_end).
  void AddWordPoint(char32_t point, size_t text_begin, size_t text_end) {
    StartWord(text_begin);
    AppendUtf8(point, stream_);
    EndsAt(text_end);
  }
  void AddWordByte(char byte, size_t text_begin) {
    StartWord(text_begin);
    stream_.Append(byte);
    EndsAt(text_begin + 1);
  }
  void Separate() { in_word_ = false; }
  // A removed mark that ends at `text_end` belongs to the word it follows.
  void Extend(size_t text_end) {
    if (in_word_) EndsAt(text_end);
  }

 private:
  void StartWord(size_t text_begin) {
    if (in_word_) return;
    in_word_ = true;
    ++word_count_;
    if (words_ != nullptr) {
      words_->Append({stream_.size(), text_begin, text_begin});
    }
    stream_.Append(' ');
  }
  void EndsAt(size_t text_end) {
    if (words_ != nullptr && !words_->empty()) {
      (*words_)[words_->size() - 1].text_end = text_end;
    }
  }

  ByteString& stream_;
  GrowingArray<StreamWord>* words_;
  size_t word_count_ = 0;
  bool in_word_ = false;
};

}  // namespace

bool WordStream::Build(std::string_view text, GrowingArray<StreamWord>* words) {
  stream_.Clear();
  stream_.Reserve(text.size() + 16);
  StreamWriter writer(stream_, words);
  const char* const start = text.data();
  const char* const end = start + text.size();
  const char* at = start;
  while (at < end) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      const unsigned char folded = FoldAsciiByte(byte);
      if (folded != 0) {
        writer.AddWordByte(static_cast<char>(folded),
                           static_cast<size_t>(at - start));
      } else {
        writer.Separate();
      }
      ++at;
      continue;
    }
    const size_t text_begin = static_cast<size_t>(at - start);
    const char32_t point = DecodeUtf8(&at, end);
    const size_t text_end = static_cast<size_t>(at - start);
    const CodePointFolding folding = CodePointFolding::Of(point);
    if (folding.is_itself()) {
      if (folding.is_word()) {
        writer.AddWordPoint(point, text_begin, text_end);
      } else {
        writer.Separate();
      }
      continue;
    }
    if (folding.count() == 0) writer.Extend(text_end);
    for (size_t k = 0; k < folding.count(); ++k) {
      const char32_t folded = folding.points()[k];
      if (IsWordPoint(folded)) {
        writer.AddWordPoint(folded, text_begin, text_end);
      } else {
        writer.Separate();
      }
    }
  }
  word_count_ = writer.word_count();
  return !stream_.failed() && (words == nullptr || !words->failed());
}

}  // namespace tavik
