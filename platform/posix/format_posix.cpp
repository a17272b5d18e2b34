#include <cstdarg>
#include <cstdio>

#include "platform/format.h"

namespace tavik {

int FormatPiece(char* out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int wanted = std::vsnprintf(out, kFormatLimit, format, arguments);
  va_end(arguments);
  if (wanted < 0) {
    out[0] = '\0';
    return 0;
  }
  // vsnprintf reports the length it wanted; what it stored stops at the cut.
  const int limit = static_cast<int>(kFormatLimit) - 1;
  return wanted < limit ? wanted : limit;
}

}  // namespace tavik
