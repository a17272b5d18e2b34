// The formatter every response piece goes through. Like the Windows
// formatter it stands in for, it writes at most kFormatLimit bytes with the
// terminating NUL, so longer output is cut at 1,023 characters.
#ifndef TAVIK_PLATFORM_FORMAT_H_
#define TAVIK_PLATFORM_FORMAT_H_

#include <cstddef>

namespace tavik {

inline constexpr size_t kFormatLimit = 1024;

// Formats `format` (printf-style %s and %d only) into `out`, which must hold
// at least kFormatLimit bytes. Returns the number of characters written
// without the NUL: at most kFormatLimit - 1.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
int FormatPiece(char* out, const char* format, ...);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_FORMAT_H_
