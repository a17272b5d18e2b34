#include "platform/paths.h"

#include <cstring>

namespace tavik {

bool JoinPath(const char* directory, const char* name, char* out,
              size_t out_size) {
  const size_t directory_length = std::strlen(directory);
  const size_t name_length = std::strlen(name);
  // The top of the file system (or of a drive) already ends in a separator.
  const bool needs_separator =
      directory_length == 0 || directory[directory_length - 1] != kPathSeparator;
  const size_t length =
      directory_length + (needs_separator ? 1 : 0) + name_length;
  if (length >= out_size) return false;
  std::memcpy(out, directory, directory_length);
  size_t at = directory_length;
  if (needs_separator) out[at++] = kPathSeparator;
  std::memcpy(out + at, name, name_length);
  out[length] = '\0';
  return true;
}

bool IsSameOrBelow(const char* ancestor, const char* path) {
  const size_t length = std::strlen(ancestor);
  if (length == 0 || std::strncmp(ancestor, path, length) != 0) return false;
  // The top of the file system (or of a drive) ends in its separator.
  return path[length] == '\0' || path[length] == kPathSeparator ||
         ancestor[length - 1] == kPathSeparator;
}

}  // namespace tavik
