#include "text/text_encoding.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik {
namespace {

#include "windows_1252_table.inc"

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool IsAscii(std::string_view bytes) {
  // Eight bytes at a time: any high bit is a byte above 0x7F.
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  for (; end - at >= 8; at += 8) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    if ((word & 0x8080808080808080ull) != 0) return false;
  }
  for (; at < end; ++at) {
    if (static_cast<unsigned char>(*at) >= 0x80) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view bytes) {
  const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = at + bytes.size();
  while (at < end) {
    // Runs of ASCII go sixteen or eight bytes at a time.
#if defined(__SSE2__)
    if (end - at >= 16 &&
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))) == 0) {
      at += 16;
      continue;
    }
#endif
    if (end - at >= 8) {
      uint64_t word;
      std::memcpy(&word, at, sizeof word);
      if ((word & 0x8080808080808080ull) == 0) {
        at += 8;
        continue;
      }
    }
    const unsigned char lead = *at;
    if (lead < 0x80) {
      ++at;
      continue;
    }
    size_t length;
    char32_t lowest;
    char32_t point;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, lowest = 0x80, point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, lowest = 0x800, point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, lowest = 0x10000, point = lead & 0x07;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - at) < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if (!IsContinuation(at[k])) return false;
      point = (point << 6) | (at[k] & 0x3F);
    }
    if (point < lowest || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF)) {
      return false;
    }
    at += length;
  }
  return true;
}

char32_t DecodeUtf8(const char** at, const char* end) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(*at);
  const unsigned char lead = bytes[0];
  size_t length = 1;
  char32_t point = lead;
  if (lead >= 0xF0) {
    length = 4, point = lead & 0x07;
  } else if (lead >= 0xE0) {
    length = 3, point = lead & 0x0F;
  } else if (lead >= 0xC0) {
    length = 2, point = lead & 0x1F;
  }
  if (static_cast<size_t>(end - *at) < length) length = 1;  // not valid
  for (size_t k = 1; k < length; ++k) point = (point << 6) | (bytes[k] & 0x3F);
  *at += length;
  return point;
}

char32_t Windows1252Character(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kWindows1252High[byte - 0x80];
  return byte;
}

size_t EncodeUtf8(char32_t point, char* out) {
  if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    point = kReplacementCharacter;
  }
  if (point < 0x80) {
    out[0] = static_cast<char>(point);
    return 1;
  }
  if (point < 0x800) {
    out[0] = static_cast<char>(0xC0 | (point >> 6));
    out[1] = static_cast<char>(0x80 | (point & 0x3F));
    return 2;
  }
  if (point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (point >> 12));
    out[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (point >> 18));
  out[1] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (point & 0x3F));
  return 4;
}

void AppendUtf8(char32_t point, ByteString& text) {
  char bytes[kMaxUtf8Length];
  text.Append(bytes, EncodeUtf8(point, bytes));
}

void AppendAsUtf8(std::string_view bytes, ByteString& text) {
  if (IsValidUtf8(bytes)) {
    text.Append(bytes);
    return;
  }
  for (const char byte : bytes) {
    AppendUtf8(Windows1252Character(static_cast<unsigned char>(byte)), text);
  }
}

size_t Utf8PrefixLength(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t length = limit;
  while (length > 0 && IsContinuation(static_cast<unsigned char>(text[length]))) {
    --length;
  }
  return length;
}

}  // namespace tavik
