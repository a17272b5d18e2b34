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

bool ResolveRealPath(const char* full_path,
                     char (&out)[kRealPathBufferSize]) {
  // Opening for attributes only, as a folder may be, follows every reparse
  // point; the handle then knows where it leads.
  HANDLE handle = CreateFileA(
      full_path, FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const DWORD length = GetFinalPathNameByHandleA(
      handle, out, kRealPathBufferSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(handle);
  if (length == 0 || length >= kRealPathBufferSize) return false;
  // The answer carries the long-path prefix: "\\?\C:\..." for a drive,
  // "\\?\UNC\server\share\..." for a share.
  constexpr char kDrivePrefix[] = "\\\\?\\";
  constexpr char kSharePrefix[] = "\\\\?\\UNC\\";
  if (std::strncmp(out, kSharePrefix, sizeof kSharePrefix - 1) == 0) {
    // "\\server\share\...": keep two separators in front.
    std::memmove(out + 2, out + sizeof kSharePrefix - 1,
                 length - (sizeof kSharePrefix - 1) + 1);
  } else if (std::strncmp(out, kDrivePrefix, sizeof kDrivePrefix - 1) == 0) {
    std::memmove(out, out + sizeof kDrivePrefix - 1,
                 length - (sizeof kDrivePrefix - 1) + 1);
  }
  return true;
}

bool IsExistingDirectory(const char* full_path) {
  const DWORD attributes = GetFileAttributesA(full_path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace tavik
