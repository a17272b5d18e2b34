#include <windows.h>

#include "platform/work_buffer.h"

namespace tavik {

// Committed pages come zero-filled.
char* ObtainWorkBuffer(size_t size) {
  return static_cast<char*>(
      VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void ReleaseWorkBuffer(char* buffer, size_t /*size*/) {
  if (buffer != nullptr) VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace tavik
