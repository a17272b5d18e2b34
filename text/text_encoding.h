// Reading a document's bytes as characters, and writing characters as
// UTF-8. A document is UTF-8 where all of its bytes are valid UTF-8;
// otherwise each byte is one Windows-1252 character.
#ifndef TAVIK_TEXT_TEXT_ENCODING_H_
#define TAVIK_TEXT_TEXT_ENCODING_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

// The replacement character, for what stands for no character.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;
// The most bytes one character takes in UTF-8.
inline constexpr size_t kMaxUtf8Length = 4;

// True when `bytes` are valid UTF-8: no stray or missing continuation byte,
// no longer form than needed, no surrogate, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// True when every byte of `bytes` is below 0x80.
bool IsAscii(std::string_view bytes);

// The character of the valid UTF-8 at `*at` (before `end`), moving `*at`
// past it. REQUIRES: *at < end, and the bytes valid UTF-8.
char32_t DecodeUtf8(const char** at, const char* end);

// The character the Windows-1252 byte `byte` stands for. The five bytes the
// code page leaves undefined stand for the code point of their own value.
char32_t Windows1252Character(unsigned char byte);

// Writes `point` as UTF-8 at `out` (room for kMaxUtf8Length bytes) and
// returns the bytes written. A surrogate or a value above U+10FFFF is
// written as the replacement character.
size_t EncodeUtf8(char32_t point, char* out);

// Appends `point` as UTF-8 to `text`.
void AppendUtf8(char32_t point, ByteString& text);

// Appends `bytes` to `text` as UTF-8: unchanged when they are valid UTF-8,
// else each byte read as Windows-1252.
void AppendAsUtf8(std::string_view bytes, ByteString& text);

// The length of the longest start of the valid UTF-8 `text` that has at
// most `limit` bytes and ends at a character boundary.
size_t Utf8PrefixLength(std::string_view text, size_t limit);

}  // namespace tavik

#endif  // TAVIK_TEXT_TEXT_ENCODING_H_
