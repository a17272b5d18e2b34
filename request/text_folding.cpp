#include "request/text_folding.h"

#include <cstring>

#include "request/byte_search.h"
#include "request/reading_rules.h"

namespace tavik {

FoldedBlock FoldBlock(char* begin, char* end, bool use_simd) {
  // Text is written at `out`, never ahead of `in`, so the fold works in
  // place; runs without CR and 0x1A move whole.
  char* in = begin + (FindCrOrEndOfText(begin, end, use_simd) - begin);
  char* out = in;
  while (in < end) {
    if (*in == kEndOfText) return {out, true, false};
    // *in is a CR.
    if (in + 1 == end) return {out, false, true};
    if (in[1] == '\n') {
      *out++ = '\n';
      in += 2;
    } else {
      *out++ = '\r';
      ++in;
    }
    const size_t run =
        static_cast<size_t>(FindCrOrEndOfText(in, end, use_simd) - in);
    if (out != in) std::memmove(out, in, run);
    out += run;
    in += run;
  }
  return {out, false, false};
}

}  // namespace tavik
