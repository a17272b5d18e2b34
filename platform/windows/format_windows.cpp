#include <windows.h>

#include <cstdarg>

#include "platform/format.h"

namespace tavik {

// wvsprintfA writes at most 1,024 bytes, its NUL included: that is the cut.
int FormatPiece(char* out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = wvsprintfA(out, format, arguments);
  va_end(arguments);
  return written < 0 ? 0 : written;
}

}  // namespace tavik
