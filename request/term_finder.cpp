#include "request/term_finder.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik {
namespace {

// How common each byte is in HTML documentation: 255 + 10 * log2 of its
// share of all bytes, 0 for bytes too rare to count (measured over the HTML
// of two large documentation sets). Only the order matters.
// clang-format off
constexpr uint8_t kByteFrequency[256] = {
      0,  0,  0,  0,  0,  0,  0,  0,  0, 84,189,  0,  0,  0,  0,  0,  // 00
      0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 10
    220,126,210,153,103,139,167,137,159,159,130,139,164,171,196,204,  // 20
    167,173,164,162,158,152,149,146,148,143,170,172,209,200,209,112,  // 30
    102,156,152,164,155,164,152,138,146,159,109,125,159,145,158,155,  // 40
    156,136,156,164,168,149,137,135,135,134,101,124,106,123, 85,187,  // 50
     76,216,183,207,201,215,189,187,193,209,132,177,209,194,211,205,  // 60
    209,152,206,218,212,189,180,179,170,184,143,128,120,128,128,  0,  // 70
    119, 45,  1,  3, 28,  9,103,  0, 39,  3,  0, 71,  0,  0,  0,  0,  // 80
      0, 56,103, 66,108,  0,  0,  0,  9, 30,  0,  0, 98, 98, 34,  1,  // 90
    145, 35, 52,  0, 40, 13, 50, 99,  0,116,  0,  0,  0, 38,  1,  0,  // A0
      3, 37, 13, 35, 21,  0, 13,  9,  3,  0,  0,  0, 29,  0,  0,  0,  // B0
      0,  0,147, 69,  0,  3,  0,  0,  0,  0,  0,  0,  0,  0, 25,  3,  // C0
      0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // D0
      0,  0,  0,  0,124,  0,  0,  3, 13,  0,  0,  0,  0,  0,  0,  0,  // E0
      0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // F0
};
// clang-format on

constexpr bool IsUpperLetter(unsigned char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsLowerLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

// How common the text bytes are that match term byte `c`: for a letter,
// the more common of its two cases.
int MatchFrequency(unsigned char c) {
  int frequency = kByteFrequency[c];
  if (IsUpperLetter(c) && kByteFrequency[c | 0x20] > frequency) {
    frequency = kByteFrequency[c | 0x20];
  }
  return frequency;
}

}  // namespace

TermFinder::TermFinder(const char* term, bool use_simd) : use_simd_(use_simd) {
  const size_t length = std::strlen(term);
  if (length > kMaxPieceLength) return;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(term[i]);
    if (IsLowerLetter(c)) return;
    if (c == '\n' && i + 1 < length) return;
    fold_[i] = IsUpperLetter(c) ? 0x20 : 0;
    lower_[i] = c | fold_[i];
  }
  length_ = length;
  can_match_ = true;

  const auto frequency_at = [&](size_t i) {
    return MatchFrequency(static_cast<unsigned char>(term[i]));
  };
  for (size_t i = 1; i < length; ++i) {
    if (frequency_at(i) < frequency_at(rare_)) rare_ = i;
  }
  second_rare_ = rare_;
  for (size_t i = 0; i < length; ++i) {
    if (i == rare_) continue;
    if (second_rare_ == rare_ || frequency_at(i) < frequency_at(second_rare_)) {
      second_rare_ = i;
    }
  }
}

bool TermFinder::MatchesAt(const unsigned char* at) const {
  size_t i = 0;
#if defined(__SSE2__)
  if (use_simd_) {
    for (; i + 16 <= length_; i += 16) {
      const auto load = [](const unsigned char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      };
      const __m128i folded = _mm_or_si128(load(at + i), load(fold_ + i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(folded, load(lower_ + i))) !=
          0xFFFF) {
        return false;
      }
    }
  }
#endif
  for (; i < length_; ++i) {
    if ((at[i] | fold_[i]) != lower_[i]) return false;
  }
  return true;
}

const char* TermFinder::Find(const char* from, const char* end) const {
  if (end - from < static_cast<ptrdiff_t>(length_)) return nullptr;
#if defined(__SSE2__)
  if (use_simd_) return FindSse2(from, end);
#endif
  return FindPortable(from, end);
}

const char* TermFinder::FindPortable(const char* from, const char* end) const {
  const auto* at = reinterpret_cast<const unsigned char*>(from);
  const auto* last = reinterpret_cast<const unsigned char*>(end) - length_;
  for (; at <= last; ++at) {
    if ((at[rare_] | fold_[rare_]) != lower_[rare_]) continue;
    if ((at[second_rare_] | fold_[second_rare_]) != lower_[second_rare_]) {
      continue;
    }
    if (MatchesAt(at)) return reinterpret_cast<const char*>(at);
  }
  return nullptr;
}

#if defined(__SSE2__)
// Tests 64 start positions per round while they last, then 16; the last
// few go to the portable loop. A load at a start position p reads
// [p + offset, p + offset + 16), which stays below `end` because the round
// only runs while all its positions leave room for the whole term.
const char* TermFinder::FindSse2(const char* from, const char* end) const {
  const __m128i fold_a = _mm_set1_epi8(static_cast<char>(fold_[rare_]));
  const __m128i lower_a = _mm_set1_epi8(static_cast<char>(lower_[rare_]));
  const __m128i fold_b = _mm_set1_epi8(static_cast<char>(fold_[second_rare_]));
  const __m128i lower_b =
      _mm_set1_epi8(static_cast<char>(lower_[second_rare_]));
  // Lane k is all ones when start position at + k passes the prefilter.
  const auto candidates = [&](const char* at) {
    const __m128i a =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + rare_));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + second_rare_));
    return _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, fold_a), lower_a),
                         _mm_cmpeq_epi8(_mm_or_si128(b, fold_b), lower_b));
  };
  // Verifies the candidates of `mask`, lowest position first.
  const auto verify = [&](const char* at, unsigned mask) -> const char* {
    for (; mask != 0; mask &= mask - 1) {
      const char* start = at + std::countr_zero(mask);
      if (MatchesAt(reinterpret_cast<const unsigned char*>(start))) {
        return start;
      }
    }
    return nullptr;
  };

  // Start positions [at, at + n) all leave room for the term when
  // at + n - 1 + length_ <= end.
  const char* at = from;
  const ptrdiff_t room = static_cast<ptrdiff_t>(length_) - 1;
  while (end - at - room >= 64) {
    const __m128i c0 = candidates(at);
    const __m128i c1 = candidates(at + 16);
    const __m128i c2 = candidates(at + 32);
    const __m128i c3 = candidates(at + 48);
    const __m128i any =
        _mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3));
    if (_mm_movemask_epi8(any) != 0) {
      const __m128i lanes[4] = {c0, c1, c2, c3};
      for (int k = 0; k < 4; ++k) {
        const unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(lanes[k]));
        if (const char* found = verify(at + 16 * k, mask)) return found;
      }
    }
    at += 64;
  }
  while (end - at - room >= 16) {
    const unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(candidates(at)));
    if (const char* found = verify(at, mask)) return found;
    at += 16;
  }
  return FindPortable(at, end);
}
#endif

}  // namespace tavik
