// The text of an HTML document, as a visitor reads it: everything outside
// tags, character references decoded, with comments and the content of
// <script> and <style> left out and the <title> included. The document's
// bytes are UTF-8 where they are valid UTF-8, else Windows-1252; the text
// is UTF-8 either way.
//
// Where tags meet text, one rule: the tags of inline elements (a, b, em,
// span, code and the like, see html_text.cpp) and comments join the text on
// their two sides ("quo<b>kka</b>" is "quokka"); every other tag separates
// it, as a line feed in the text ("<p>a</p><p>b</p>" is "a" and "b").
// Bytes that are no part of any tag or reference are text: a "<" that
// starts no tag, an "&" that starts no reference. A tag, comment or
// <script> left open at the end of the document ends with it. NUL bytes are
// dropped, as browsers drop them from text.
#ifndef TAVIK_TEXT_HTML_TEXT_H_
#define TAVIK_TEXT_HTML_TEXT_H_

#include <cstddef>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

// Where a piece of the text lies: [begin, end) in DocumentText::text.
struct TextRange {
  size_t begin = 0;
  size_t end = 0;
  bool empty() const { return begin == end; }
};

struct DocumentText {
  // The text, UTF-8.
  ByteString text;
  // The first <title>'s text and the first <h1>'s, within `text`; empty
  // where the document has none.
  TextRange title;
  TextRange heading;
};

// Makes the text of the document `bytes` into `document` (its earlier
// content replaced; its memory reused). Returns false when memory ran out.
bool ExtractDocumentText(std::string_view bytes, DocumentText& document);

// The word stream of a document's text (see text/word_stream.h), made as
// the text is read, without the text itself.
struct DocumentStream {
  ByteString stream;
  size_t words = 0;
  // Where the first <title>'s text and the first <h1>'s stand in the
  // stream, each after a space; empty where the document has none.
  TextRange title;
  TextRange heading;
};

// Makes the stream of the document `bytes` into `document`, the same words
// in the same order as WordStream makes of ExtractDocumentText's text.
// Returns false when memory ran out.
bool ExtractDocumentStream(std::string_view bytes, DocumentStream& document);

}  // namespace tavik

#endif  // TAVIK_TEXT_HTML_TEXT_H_
