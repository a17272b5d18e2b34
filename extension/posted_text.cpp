#include "extension/posted_text.h"

#include <cstring>

namespace tavik {

void CopyPostedText(const EXTENSION_CONTROL_BLOCK* pECB, char* body) {
  size_t length = 0;
  if (pECB->lpbData != nullptr) {
    const size_t available = pECB->cbAvailable < kMaxPostedLength
                                 ? pECB->cbAvailable
                                 : kMaxPostedLength;
    // The body is text: it ends at its first NUL byte.
    while (length < available && pECB->lpbData[length] != 0) {
      body[length] = static_cast<char>(pECB->lpbData[length]);
      ++length;
    }
  }
  body[length] = '\0';
}

char* FindFormValue(char* body) {
  char* equals = std::strchr(body, '=');
  return equals != nullptr ? equals + 1 : nullptr;
}

}  // namespace tavik
