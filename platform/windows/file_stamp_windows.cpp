#include <windows.h>

#include "platform/file_stamp.h"
#include "platform/windows/handle_stamp.h"

namespace tavik {
namespace {

// File times count 100-nanosecond ticks from 1601; stamps count
// nanoseconds from 1970.
constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;

int64_t FromTicks(int64_t ticks) { return (ticks - kTicksFrom1601To1970) * 100; }

int64_t FromFileTime(const FILETIME& time) {
  return FromTicks(static_cast<int64_t>(
      (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime));
}

// Opens `path` for its attributes only, which neither reads the file nor
// keeps others from it; `flags` as for CreateFileA.
HANDLE OpenForAttributes(const char* path, DWORD flags) {
  return CreateFileA(path, FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

bool StampFromHandle(HANDLE handle, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION information;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(handle, &information) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic,
                                    sizeof basic)) {
    return false;
  }
  stamp->device = information.dwVolumeSerialNumber;
  stamp->file = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) |
                information.nFileIndexLow;
  stamp->size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                information.nFileSizeLow;
  stamp->modified = FromFileTime(information.ftLastWriteTime);
  stamp->changed = FromTicks(basic.ChangeTime.QuadPart);
  return true;
}

PathKind ReadPathStamp(const char* path, FileStamp* stamp) {
  // Opened as a reparse point, a link is the link itself. Without backup
  // semantics a folder does not open, which makes it "nothing": a folder
  // is never read either way.
  HANDLE handle = OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::kNothing;
  PathKind kind = PathKind::kNothing;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    kind = PathKind::kOther;  // "con.htm" and other device names
  } else if (GetFileInformationByHandle(handle, &information)) {
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      kind = PathKind::kLink;
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      kind = PathKind::kOther;
    } else if (StampFromHandle(handle, stamp)) {
      kind = PathKind::kFile;
    }
  }
  CloseHandle(handle);
  return kind;
}

bool ReadFolderStamp(const char* path, FileStamp* stamp) {
  HANDLE handle = OpenForAttributes(path, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool folder =
      GetFileInformationByHandle(handle, &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      StampFromHandle(handle, stamp);
  CloseHandle(handle);
  return folder;
}

int64_t StampClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

}  // namespace tavik
