#include <windows.h>

#include <cstring>

#include "platform/paths.h"

namespace tavik {

bool ResolveFullPath(const char* path, char (&out)[kPathBufferSize]) {
  if (path == nullptr || *path == '\0') return false;
  const DWORD length =
      GetFullPathNameA(path, kPathBufferSize, out, nullptr);
  // 0 is a failure; a length of the buffer or more is the size it needed.
  if (length == 0 || length >= kPathBufferSize) return false;
  // A folder given with a trailing separator comes back with it; the full
  // form has none, but for the top of a drive ("C:\").
  size_t end = length;
  while (end > 3 && out[end - 1] == '\\') --end;
  out[end] = '\0';
  return true;
}

bool IsExistingDirectory(const char* full_path) {
  const DWORD attributes = GetFileAttributesA(full_path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace tavik
