#include <windows.h>

#include "platform/readable_file.h"

namespace tavik {

ReadableFile::~ReadableFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

namespace {

// Opens the disk file at `path` for reading with `flags` added, or returns
// INVALID_HANDLE_VALUE. Other readers and writers, and deletion, stay
// allowed while we read.
HANDLE OpenDiskFile(const char* path, DWORD flags) {
  HANDLE file = CreateFileA(
      path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  // Device names ("con.htm", "nul.htm") open a character device, not a file.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

bool ReadableFile::Open(const char* path) {
  if (handle_ != -1) return false;
  HANDLE file = OpenDiskFile(path, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

ReadableFile::Found ReadableFile::OpenUnlessLink(const char* path) {
  if (handle_ != -1) return Found::kNothing;
  // Opened as a reparse point, a link is the link itself, not its target.
  HANDLE file = OpenDiskFile(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return Found::kNothing;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) {
    CloseHandle(file);
    return Found::kNothing;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(file);
    return Found::kLink;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return Found::kFile;
}

size_t ReadableFile::Read(void* buffer, size_t size) {
  if (handle_ == -1) return 0;
  DWORD read = 0;
  const DWORD wanted = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &read,
                nullptr)) {
    return 0;
  }
  return read;
}

}  // namespace tavik
