// ASCII letter case: only the bytes "a" to "z" change, every other byte
// (0x80 to 0xFF included) stays as it is, whatever the locale.
#ifndef TAVIK_PLATFORM_ASCII_H_
#define TAVIK_PLATFORM_ASCII_H_

namespace tavik {

constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// Upper-cases the NUL-terminated string `text` in place, up to its NUL.
inline void AsciiUpperInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = AsciiUpper(*text);
}

}  // namespace tavik

#endif  // TAVIK_PLATFORM_ASCII_H_
