#include "text/character_references.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/hex_digits.h"
#include "text/text_encoding.h"

namespace tavik {
namespace {

struct NamedReference {
  const char* name;  // without the "&", with its ";" where it has one
  uint8_t length;
  char32_t points[2];  // the second 0 when it stands for one character
};

#include "character_reference_table.inc"

bool IsAsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

// The table's entry named exactly `name`, or nullptr.
const NamedReference* FindName(std::string_view name) {
  const NamedReference* const end = std::end(kNamedReferences);
  const NamedReference* found = std::lower_bound(
      std::begin(kNamedReferences), end, name,
      [](const NamedReference& entry, std::string_view wanted) {
        return std::string_view(entry.name, entry.length) < wanted;
      });
  if (found == end || std::string_view(found->name, found->length) != name) {
    return nullptr;
  }
  return found;
}

CharacterReference Named(std::string_view text) {
  // The name's letters and digits, and a ";" after them.
  size_t run = 1;
  while (run < text.size() && run <= kLongestReferenceName &&
         IsAsciiAlphanumeric(text[run])) {
    ++run;
  }
  if (run < text.size() && text[run] == ';') ++run;
  // The longest start of it that the table names.
  for (size_t length = run; length > 1; --length) {
    if (const NamedReference* entry = FindName(text.substr(1, length - 1))) {
      CharacterReference reference;
      reference.length = length;
      reference.points[0] = entry->points[0];
      reference.points[1] = entry->points[1];
      reference.count = entry->points[1] != 0 ? 2 : 1;
      return reference;
    }
  }
  return {};
}

CharacterReference Numeric(std::string_view text) {
  size_t at = 2;  // after "&#"
  int base = 10;
  if (at < text.size() && (text[at] == 'x' || text[at] == 'X')) {
    base = 16;
    ++at;
  }
  const size_t digits_start = at;
  uint32_t value = 0;
  bool too_large = false;
  for (; at < text.size(); ++at) {
    const int digit = base == 16 ? HexDigitValue(text[at])
                      : (text[at] >= '0' && text[at] <= '9') ? text[at] - '0'
                                                             : -1;
    if (digit < 0) break;
    value = value * base + digit;
    if (value > 0x10FFFF) {
      too_large = true;
      value = 0x110000;  // stays above the range however many digits follow
    }
  }
  if (at == digits_start) return {};  // "&#" without digits is text
  if (at < text.size() && text[at] == ';') ++at;
  char32_t point = value;
  if (too_large || point == 0 || (point >= 0xD800 && point <= 0xDFFF)) {
    point = kReplacementCharacter;
  } else if (point >= 0x80 && point < 0xA0) {
    point = Windows1252Character(static_cast<unsigned char>(point));
  }
  CharacterReference reference;
  reference.length = at;
  reference.points[0] = point;
  reference.count = 1;
  return reference;
}

}  // namespace

CharacterReference ReadCharacterReference(std::string_view text) {
  if (text.size() < 2) return {};
  if (text[1] == '#') return Numeric(text);
  if (IsAsciiAlphanumeric(text[1])) return Named(text);
  return {};
}

}  // namespace tavik
