#include "request/byte_search.h"

#include <bit>

#include "request/reading_rules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';

const char* FindCrOrEndOfTextPortable(const char* begin, const char* end) {
  for (; begin < end; ++begin) {
    if (*begin == kCr || *begin == kEndOfText) break;
  }
  return begin;
}

const char* FindLastLineFeedPortable(const char* begin, const char* end) {
  while (end > begin) {
    if (*--end == kLf) return end;
  }
  return nullptr;
}

#if defined(__SSE2__)
__m128i Load(const char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// 64 bytes per round while they last, then 16, then byte by byte; no load
// reaches outside [begin, end).
const char* FindCrOrEndOfTextSse2(const char* begin, const char* end) {
  const __m128i cr = _mm_set1_epi8(kCr);
  const __m128i eot = _mm_set1_epi8(kEndOfText);
  const auto special = [&](const char* at) {
    const __m128i bytes = Load(at);
    return _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, eot));
  };
  const char* at = begin;
  while (end - at >= 64) {
    const __m128i any =
        _mm_or_si128(_mm_or_si128(special(at), special(at + 16)),
                     _mm_or_si128(special(at + 32), special(at + 48)));
    if (_mm_movemask_epi8(any) != 0) break;
    at += 64;
  }
  while (end - at >= 16) {
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special(at)));
    if (mask != 0) return at + std::countr_zero(mask);
    at += 16;
  }
  return FindCrOrEndOfTextPortable(at, end);
}

// From the end backwards, 16 bytes at a time.
const char* FindLastLineFeedSse2(const char* begin, const char* end) {
  const __m128i lf = _mm_set1_epi8(kLf);
  while (end - begin >= 16) {
    const auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(Load(end - 16), lf)));
    if (mask != 0) return end - 16 + (31 - std::countl_zero(mask));
    end -= 16;
  }
  return FindLastLineFeedPortable(begin, end);
}
#endif

}  // namespace

const char* FindCrOrEndOfText(const char* begin, const char* end,
                              bool use_simd) {
#if defined(__SSE2__)
  if (use_simd) return FindCrOrEndOfTextSse2(begin, end);
#else
  (void)use_simd;
#endif
  return FindCrOrEndOfTextPortable(begin, end);
}

const char* FindLastLineFeed(const char* begin, const char* end,
                             bool use_simd) {
#if defined(__SSE2__)
  if (use_simd) return FindLastLineFeedSse2(begin, end);
#else
  (void)use_simd;
#endif
  return FindLastLineFeedPortable(begin, end);
}

}  // namespace tavik
