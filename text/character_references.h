// Character references in HTML text ("&eacute;", "&#233;", "&#xE9;"), read
// as a browser reads them in text: the longest name the HTML standard's
// table holds wins, with or without its ";" where the table allows that
// ("&notit;" is "¬it;"); a numeric reference's ";" may be missing; a
// number that names no character gives the replacement character, and one
// of 0x80 to 0x9F the Windows-1252 character of that byte.
#ifndef TAVIK_TEXT_CHARACTER_REFERENCES_H_
#define TAVIK_TEXT_CHARACTER_REFERENCES_H_

#include <cstddef>
#include <string_view>

namespace tavik {

struct CharacterReference {
  // The bytes the reference takes, from its "&"; 0 when the text at the
  // "&" is no reference (the "&" then stands for itself).
  size_t length = 0;
  // The one or two characters it stands for.
  char32_t points[2] = {};
  size_t count = 0;
};

// Reads the reference at the start of `text`, which begins with "&".
CharacterReference ReadCharacterReference(std::string_view text);

}  // namespace tavik

#endif  // TAVIK_TEXT_CHARACTER_REFERENCES_H_
