#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"

namespace tavik {
namespace {

// Appends the components of `path` to the full path `out` of `length`
// characters, dropping "." and empty components and letting ".." remove the
// component before it (".." at the top stays at the top). Returns false when
// the result would not fit.
bool AppendComponents(const char* path, char (&out)[kPathBufferSize],
                      size_t& length) {
  const char* at = path;
  while (*at != '\0') {
    const char* end = std::strchr(at, '/');
    if (end == nullptr) end = at + std::strlen(at);
    const size_t component_length = static_cast<size_t>(end - at);
    if (component_length == 0 ||
        (component_length == 1 && at[0] == '.')) {
      // Repeated separators and "." change nothing.
    } else if (component_length == 2 && at[0] == '.' && at[1] == '.') {
      while (length > 1 && out[length - 1] != '/') --length;
      if (length > 1) --length;  // the separator before the removed component
    } else {
      const size_t separator = length > 1 ? 1 : 0;
      if (length + separator + component_length > kMaxPathLength) return false;
      if (separator) out[length++] = '/';
      std::memcpy(out + length, at, component_length);
      length += component_length;
    }
    at = *end == '\0' ? end : end + 1;
  }
  out[length] = '\0';
  return true;
}

}  // namespace

bool ResolveFullPath(const char* path, char (&out)[kPathBufferSize]) {
  if (path == nullptr || *path == '\0') return false;
  size_t length = 1;
  out[0] = '/';
  out[1] = '\0';
  if (path[0] != '/') {
    // A relative path starts from the current directory, itself absolute.
    char current[4096];
    if (getcwd(current, sizeof current) == nullptr) return false;
    if (!AppendComponents(current, out, length)) return false;
  }
  return AppendComponents(path, out, length);
}

bool ResolveRealPath(const char* full_path,
                     char (&out)[kRealPathBufferSize]) {
  static_assert(kRealPathBufferSize >= PATH_MAX,
                "realpath writes up to PATH_MAX bytes");
  return realpath(full_path, out) != nullptr;
}

bool IsExistingDirectory(const char* full_path) {
  struct stat status;
  return stat(full_path, &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace tavik
