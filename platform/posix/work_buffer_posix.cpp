#include <cstdlib>

#include "platform/work_buffer.h"

namespace tavik {

char* ObtainWorkBuffer(size_t size) {
  return static_cast<char*>(std::calloc(1, size));
}

void ReleaseWorkBuffer(char* buffer, size_t /*size*/) { std::free(buffer); }

}  // namespace tavik
