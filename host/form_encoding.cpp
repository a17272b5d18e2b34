#include "host/form_encoding.h"

#include "platform/hex_digits.h"

namespace tavik {

std::string FormEncode(std::string_view value) {
  std::string encoded;
  for (const char c : value) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9')) {
      encoded += c;
    } else if (c == ' ') {
      encoded += '+';
    } else {
      encoded += PercentEscaped(c).view();
    }
  }
  return encoded;
}

}  // namespace tavik
