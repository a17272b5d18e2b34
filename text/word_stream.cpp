#include "text/word_stream.h"

#include <cstdint>

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
    FoldedPoints storage;
    const FoldedPoints folded =
        FoldedFrom(point, CodePointFolding::Of(point), storage);
    // A mark that is removed belongs to the word it follows.
    if (folded.count == 0 && in_word && words != nullptr) {
      (*words)[words->size() - 1].text_end = text_end;
    }
    for (size_t k = 0; k < folded.count; ++k) {
      if (!IsWordPoint(folded.points[k])) {
        stream_.Append(' ');
        in_word = false;
        continue;
      }
      if (!in_word) {
        in_word = true;
        ++count;
        if (words != nullptr) {
          words->Append({stream_.size(), text_begin, text_end});
        }
      }
      AppendUtf8(folded.points[k], stream_);
      if (words != nullptr) (*words)[words->size() - 1].text_end = text_end;
    }
  }
  word_count_ = count;
  return !stream_.failed() && (words == nullptr || !words->failed());
}

bool WordStream::Build(std::string_view text, GrowingArray<StreamWord>* words) {
  if (words != nullptr) return BuildPlainly(text, words);
  stream_.Clear();
  // ASCII maps to the stream byte for byte; before any other character the
  // room is checked again.
  if (stream_.Extend(1 + text.size() + kMostPerCharacter) == nullptr) {
    return false;
  }
  char* out = stream_.data();
  char* room_end = out + stream_.size();
  *out++ = ' ';
  size_t count = 0;
  bool in_word = false;
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
#if defined(__SSE2__)
    if (end - at >= 16 && IsAsciiBlock(at)) {
      const uint32_t word = FoldAsciiBlock(at, out);
      // Words start where a word byte follows a space.
      const uint32_t before = (word << 1) | (in_word ? 1u : 0u);
      count += CountBits16(word & ~before & 0xFFFFu);
      in_word = (word & 0x8000u) != 0;
      at += 16;
      out += 16;
      continue;
    }
#endif
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 0x80) {
      const unsigned char folded = FoldAsciiByte(byte);
      const bool is_word = folded != 0;
      count += is_word && !in_word;
      in_word = is_word;
      *out++ = is_word ? static_cast<char>(folded) : ' ';
      ++at;
      continue;
    }
    const size_t needed = static_cast<size_t>(end - at) + kMostPerCharacter;
    if (static_cast<size_t>(room_end - out) < needed) {
      // Folding widened the text: more room.
      const size_t used = static_cast<size_t>(out - stream_.data());
      stream_.Truncate(used);
      if (stream_.Extend(needed) == nullptr) return false;
      out = stream_.data() + used;
      room_end = stream_.data() + stream_.size();
    }
    const char* next = at;
    const char32_t point = DecodeUtf8(&next, end);
    at = next;
    FoldedPoints storage;
    const FoldedPoints folded =
        FoldedFrom(point, CodePointFolding::Of(point), storage);
    for (size_t k = 0; k < folded.count; ++k) {
      if (!IsWordPoint(folded.points[k])) {
        *out++ = ' ';
        in_word = false;
        continue;
      }
      count += !in_word;
      in_word = true;
      out += EncodeUtf8(folded.points[k], out);
    }
  }
  stream_.Truncate(static_cast<size_t>(out - stream_.data()));
  word_count_ = count;
  return true;
}

}  // namespace tavik
