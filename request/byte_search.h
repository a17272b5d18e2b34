// Searches for single bytes that the scanner needs across whole blocks.
// Portable code, with SSE2 where the compiler targets it; `use_simd` false
// takes the portable path (the tests compare the two). Ranges are half-open.
#ifndef TAVIK_REQUEST_BYTE_SEARCH_H_
#define TAVIK_REQUEST_BYTE_SEARCH_H_

namespace tavik {

// The first CR or 0x1A in [begin, end), or `end` when there is none.
const char* FindCrOrEndOfText(const char* begin, const char* end,
                              bool use_simd);

// The last line feed in [begin, end), or nullptr when there is none.
const char* FindLastLineFeed(const char* begin, const char* end, bool use_simd);

}  // namespace tavik

#endif  // TAVIK_REQUEST_BYTE_SEARCH_H_
