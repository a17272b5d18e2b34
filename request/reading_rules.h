// The rules by which a document's bytes become the text that is searched,
// as a buffered text-mode reader on Windows delivers it: lines come in
// pieces of at most kMaxPieceLength bytes (a piece ends after its line feed
// or when it is full), each CR LF pair is one LF, a CR not followed by LF
// stays, the first kEndOfText byte ends the document, and a NUL ends the
// searched part of its piece. The scanner and its plain reference both
// follow these constants.
#ifndef TAVIK_REQUEST_READING_RULES_H_
#define TAVIK_REQUEST_READING_RULES_H_

#include <cstddef>

namespace tavik {

// The longest piece of a line, in bytes.
inline constexpr size_t kMaxPieceLength = 255;
// The byte that ends a document's text (Ctrl-Z).
inline constexpr char kEndOfText = 0x1A;

}  // namespace tavik

#endif  // TAVIK_REQUEST_READING_RULES_H_
