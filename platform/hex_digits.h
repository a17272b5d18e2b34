// Hexadecimal digits as percent-encoding writes and reads them, for the
// extension and every host.
#ifndef TAVIK_PLATFORM_HEX_DIGITS_H_
#define TAVIK_PLATFORM_HEX_DIGITS_H_

#include <string_view>

namespace tavik {

// The value 0 to 15 of the hexadecimal digit `c` (0-9, a-f, A-F), or -1 for
// any other byte, those from 0x80 up included.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%" and the two upper-case hexadecimal digits of one byte ("%2F"), as a
// value that lives as long as the caller keeps it.
class PercentEscaped {
 public:
  explicit constexpr PercentEscaped(char c)
      : text_{'%', kDigits[static_cast<unsigned char>(c) >> 4],
              kDigits[static_cast<unsigned char>(c) & 0xF]} {}
  constexpr std::string_view view() const { return {text_, sizeof text_}; }

 private:
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char text_[3];
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_HEX_DIGITS_H_
