#include <windows.h>

#include "platform/readable_file.h"

namespace tavik {

ReadableFile::~ReadableFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ReadableFile::Open(const char* path) {
  if (handle_ != -1) return false;
  // Other readers and writers, and deletion, stay allowed while we read.
  HANDLE file = CreateFileA(
      path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Device names ("con.htm", "nul.htm") open a character device, not a file.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
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
