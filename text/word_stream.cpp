#include "text/word_stream.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/text_encoding.h"
#include "text/unicode_folding.h"

namespace tavik {
namespace {

// The most bytes one character's folding takes in the stream.
constexpr size_t kMostPerCharacter = kMaxFoldedLength * kMaxUtf8Length;

// The code points one character folds to: `count` at `points`.
struct FoldedPoints {
  const char32_t* points;
  size_t count;
  char32_t itself;
};

FoldedPoints FoldedFrom(char32_t point, const CodePointFolding& folding,
                        FoldedPoints& storage) {
  storage.itself = point;
  if (folding.is_itself()) {
    storage.points = &storage.itself;
    storage.count = 1;
  } else {
    storage.points = folding.points();
    storage.count = folding.count();
  }
  return storage;
}

// The number of bits set in the 16-bit `bits`, without the processor's
// own instruction, which the portable build may not assume.
size_t CountBits16(uint32_t bits) {
  bits = bits - ((bits >> 1) & 0x5555u);
  bits = (bits & 0x3333u) + ((bits >> 2) & 0x3333u);
  bits = (bits + (bits >> 4)) & 0x0F0Fu;
  return (bits + (bits >> 8)) & 0x1Fu;
}

#if defined(__SSE2__)
// The stream of 16 ASCII bytes at `in` into `out`: letters lower-cased,
// digits as they are, every other byte a space. Returns the mask of the
// bytes that belong to words.
uint32_t FoldAsciiBlock(const char* in, char* out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i lower = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
  const __m128i letter =
      _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                    _mm_cmplt_epi8(lower, _mm_set1_epi8('z' + 1)));
  const __m128i digit =
      _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                    _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1)));
  const __m128i word = _mm_or_si128(letter, digit);
  const __m128i folded = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(letter, lower), _mm_and_si128(digit, bytes)),
      _mm_andnot_si128(word, _mm_set1_epi8(' ')));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), folded);
  return static_cast<uint32_t>(_mm_movemask_epi8(word));
}

// True when none of the 16 bytes at `in` is above 0x7F.
bool IsAsciiBlock(const char* in) {
  return _mm_movemask_epi8(
             _mm_loadu_si128(reinterpret_cast<const __m128i*>(in))) == 0;
}
#endif

// Appends the folding of `point`, which the text holds at bytes
// [text_begin, text_end), to `stream`: a space for each folded point that is
// no word's, the point in UTF-8 for each that is. A word begun counts in
// `count` and, with `words`, is listed with where it lies in the stream and
// the text. False when `words` cannot grow.
bool AppendFoldedPoint(char32_t point, size_t text_begin, size_t text_end,
                       ByteString& stream, bool& in_word, size_t& count,
                       GrowingArray<StreamWord>* words) {
  FoldedPoints storage;
  const FoldedPoints folded =
      FoldedFrom(point, CodePointFolding::Of(point), storage);
  // A mark that is removed belongs to the word it follows.
  if (folded.count == 0 && in_word && words != nullptr) {
    (*words)[words->size() - 1].text_end = text_end;
  }
  for (size_t k = 0; k < folded.count; ++k) {
    if (!IsWordPoint(folded.points[k])) {
      stream.Append(' ');
      in_word = false;
      continue;
    }
    if (!in_word) {
      in_word = true;
      ++count;
      if (words != nullptr) {
        words->Append({stream.size(), text_begin, text_end});
        if (words->failed()) return false;
      }
    }
    AppendUtf8(folded.points[k], stream);
    if (words != nullptr) (*words)[words->size() - 1].text_end = text_end;
  }
  return true;
}

}  // namespace

bool WordStream::BuildPlainly(std::string_view text,
                              GrowingArray<StreamWord>* words) {
  stream_.Clear();
  stream_.Reserve(text.size() + 16);
  stream_.Append(' ');
  size_t count = 0;
  bool in_word = false;
  const char* const start = text.data();
  const char* const end = start + text.size();
  for (const char* at = start; at < end;) {
    const size_t text_begin = static_cast<size_t>(at - start);
    char32_t point;
    if (static_cast<unsigned char>(*at) < 0x80) {
      point = static_cast<unsigned char>(*at++);
    } else {
      point = DecodeUtf8(&at, end);
    }
    const size_t text_end = static_cast<size_t>(at - start);
    if (!AppendFoldedPoint(point, text_begin, text_end, stream_, in_word, count,
                           words)) {
      return false;
    }
  }
  word_count_ = count;
  return !stream_.failed() && (words == nullptr || !words->failed());
}

StreamWriter::StreamWriter(ByteString& stream) : stream_(stream) {
  stream_.Clear();
  if (Room(1)) *out_++ = ' ';
}

bool StreamWriter::Grow(size_t bytes) {
  if (failed_) return false;
  const size_t used = out_ != nullptr ? static_cast<size_t>(out_ - stream_.data()) : 0;
  stream_.Truncate(used);
  // Room for more than asked, so that small pieces do not grow it often.
  const size_t claim = bytes < 4096 ? 4096 : bytes;
  if (stream_.Extend(claim) == nullptr) {
    failed_ = true;
    out_ = room_end_ = nullptr;
    stream_.Truncate(used);
    return false;
  }
  out_ = stream_.data() + used;
  room_end_ = stream_.data() + stream_.size();
  return true;
}

size_t StreamWriter::size() const {
  return out_ != nullptr ? static_cast<size_t>(out_ - stream_.data())
                         : stream_.size();
}

void StreamWriter::Separate() {
  if (!Room(1)) return;
  *out_++ = ' ';
  in_word_ = false;
}

void StreamWriter::WritePoint(char32_t point) {
  // REQUIRES: room for kMostPerCharacter bytes.
  FoldedPoints storage;
  const FoldedPoints folded =
      FoldedFrom(point, CodePointFolding::Of(point), storage);
  for (size_t k = 0; k < folded.count; ++k) {
    if (!IsWordPoint(folded.points[k])) {
      *out_++ = ' ';
      in_word_ = false;
      continue;
    }
    words_ += !in_word_;
    in_word_ = true;
    out_ += EncodeUtf8(folded.points[k], out_);
  }
}

void StreamWriter::Point(char32_t point) {
  if (!Room(kMostPerCharacter)) return;
  WritePoint(point);
}

void StreamWriter::Text(std::string_view text) {
  // ASCII maps to the stream byte for byte; before any other character the
  // room is checked again.
  if (!Room(text.size() + kMostPerCharacter)) return;
  const char* at = text.data();
  const char* const end = at + text.size();
  char* out = out_;
  size_t words = words_;
  bool in_word = in_word_;
  while (at < end) {
#if defined(__SSE2__)
    if (end - at >= 16 && IsAsciiBlock(at)) {
      const uint32_t word = FoldAsciiBlock(at, out);
      // Words start where a word byte follows a space.
      const uint32_t before = (word << 1) | (in_word ? 1u : 0u);
      words += CountBits16(word & ~before & 0xFFFFu);
      in_word = (word & 0x8000u) != 0;
      at += 16;
      out += 16;
      continue;
    }
    if (end - at < 16) {
      // The last bytes, in a block of spaces: one fold for all of them
      // when they are ASCII (the room claimed covers the block).
      const auto left = static_cast<size_t>(end - at);
      char block[16];
      std::memset(block, ' ', sizeof block);
      std::memcpy(block, at, left);
      if (IsAsciiBlock(block)) {
        const uint32_t kept = (1u << left) - 1;
        const uint32_t word = FoldAsciiBlock(block, out) & kept;
        const uint32_t before = (word << 1) | (in_word ? 1u : 0u);
        words += CountBits16(word & ~before & kept);
        in_word = (word >> (left - 1) & 1u) != 0;
        at += left;
        out += left;
        continue;
      }
    }
#endif
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      const unsigned char folded = FoldAsciiByte(byte);
      const bool is_word = folded != 0;
      words += is_word && !in_word;
      in_word = is_word;
      *out++ = is_word ? static_cast<char>(folded) : ' ';
      ++at;
      continue;
    }
    out_ = out;
    words_ = words;
    in_word_ = in_word;
    // Folding may widen the text: room for the rest and this character.
    if (!Room(static_cast<size_t>(end - at) + kMostPerCharacter)) return;
    const char* next = at;
    const char32_t point = DecodeUtf8(&next, end);
    at = next;
    WritePoint(point);
    out = out_;
    words = words_;
    in_word = in_word_;
  }
  out_ = out;
  words_ = words;
  in_word_ = in_word;
}

bool StreamWriter::Finish() {
  stream_.Truncate(size());
  out_ = room_end_ = nullptr;
  return !failed_;
}

bool WordStream::BuildWithWords(std::string_view text,
                                GrowingArray<StreamWord>& words) {
  stream_.Clear();
  stream_.Reserve(text.size() + 16);
  stream_.Append(' ');
  size_t count = 0;
  bool in_word = false;
  const char* const start = text.data();
  const char* const end = start + text.size();
  for (const char* at = start; at < end;) {
    if (static_cast<unsigned char>(*at) < 0x80) {
      // A run of ASCII, byte for byte into the stream: a word's bytes end
      // where a byte that is no word's comes, or where the run ends.
      const char* run_end = at + 1;
      while (run_end < end && static_cast<unsigned char>(*run_end) < 0x80) {
        ++run_end;
      }
      const size_t stream_at = stream_.size();
      char* out = stream_.Extend(static_cast<size_t>(run_end - at));
      if (out == nullptr) return false;
      for (const char* byte = at; byte < run_end; ++byte, ++out) {
        const unsigned char folded =
            FoldAsciiByte(static_cast<unsigned char>(*byte));
        const auto text_at = static_cast<size_t>(byte - start);
        if (folded == 0) {
          if (in_word) words[words.size() - 1].text_end = text_at;
          in_word = false;
          *out = ' ';
          continue;
        }
        if (!in_word) {
          in_word = true;
          ++count;
          words.Append({stream_at + static_cast<size_t>(byte - at), text_at,
                        text_at + 1});
          if (words.failed()) return false;
        }
        *out = static_cast<char>(folded);
      }
      if (in_word) {
        words[words.size() - 1].text_end = static_cast<size_t>(run_end - start);
      }
      at = run_end;
      continue;
    }
    const size_t text_begin = static_cast<size_t>(at - start);
    const char32_t point = DecodeUtf8(&at, end);
    const size_t text_end = static_cast<size_t>(at - start);
    if (!AppendFoldedPoint(point, text_begin, text_end, stream_, in_word, count,
                           &words)) {
      return false;
    }
  }
  word_count_ = count;
  return !stream_.failed() && !words.failed();
}

bool WordStream::Build(std::string_view text, GrowingArray<StreamWord>* words) {
  if (words != nullptr) return BuildWithWords(text, *words);
  StreamWriter writer(stream_);
  writer.Text(text);
  word_count_ = writer.word_count();
  return writer.Finish();
}

}  // namespace tavik
