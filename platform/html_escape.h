// HTML escaping with one character set, for the extension's page and the
// hosts' own pages alike: & < > " ' are replaced, so the text is safe in an
// element and in a quoted attribute value of either quote.
#ifndef TAVIK_PLATFORM_HTML_ESCAPE_H_
#define TAVIK_PLATFORM_HTML_ESCAPE_H_

#include <string_view>

namespace tavik {

// The entity that stands for `c`: "&amp;" "&lt;" "&gt;" "&quot;" "&#39;" for
// & < > " ', or an empty view for any other byte, which stands for itself.
constexpr std::string_view HtmlEntity(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return {};
  }
}

// Calls `append` with the pieces of `text` HTML-escaped, in order: each
// entity, or the byte itself as a view of one byte, valid during the call.
// The caller's `append` decides where they go and where they are cut.
template <typename Append>
void EscapeHtml(std::string_view text, Append&& append) {
  for (const char& c : text) {
    const std::string_view entity = HtmlEntity(c);
    append(entity.empty() ? std::string_view(&c, 1) : entity);
  }
}

}  // namespace tavik

#endif  // TAVIK_PLATFORM_HTML_ESCAPE_H_
