#include "text/html_text.h"

#include <cstdint>
#include <cstring>

#include "text/character_references.h"
#include "text/text_encoding.h"

namespace tavik {
namespace {

// Elements whose tags join the text around them, as a browser lays them out
// in one line with it.
constexpr std::string_view kInlineElements[] = {
    "a",      "abbr", "acronym", "b",    "bdi",   "bdo",    "big", "cite",
    "code",   "data", "del",     "dfn",  "em",    "font",   "i",   "ins",
    "kbd",    "mark", "q",       "s",    "samp",  "small",  "span", "strike",
    "strong", "sub",  "sup",     "time", "tt",    "u",      "var", "wbr"};
// Elements whose content is not text and is not parsed for tags.
constexpr std::string_view kSkippedElements[] = {
    "script", "style", "xmp", "iframe", "noembed", "noframes"};
// Elements whose content is text, references decoded, without tags.
constexpr std::string_view kTextOnlyElements[] = {"title", "textarea"};
// The longest name any of these lists holds.
constexpr size_t kLongestListedName = 8;

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

template <size_t N>
bool IsListed(std::string_view name, const std::string_view (&list)[N]) {
  for (const std::string_view entry : list) {
    if (entry == name) return true;
  }
  return false;
}

// A mask with the high bit of each byte of `word` that is zero.
uint64_t ZeroBytes(uint64_t word) {
  return (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
}

class Reader {
 public:
  Reader(std::string_view bytes, DocumentText& document)
      : bytes_(bytes), out_(document.text), document_(document) {
    utf8_ = IsValidUtf8(bytes);
    if (utf8_ && bytes_.substr(0, 3) == kUtf8ByteOrderMark) pos_ = 3;
  }

  void Run() {
    ReadText(bytes_.size(), true);
    if (in_heading_) document_.heading.end = out_.size();
  }

 private:
  // Reads text up to `limit`: with `markup`, "<" may start a tag.
  void ReadText(size_t limit, bool markup) {
    while (pos_ < limit) {
      const size_t special = FindSpecial(pos_, limit);
      out_.Append(bytes_.data() + pos_, special - pos_);
      pos_ = special;
      if (pos_ == limit) return;
      const char c = bytes_[pos_];
      if (c == '&') {
        Reference(limit);
      } else if (c == '<') {
        if (markup) {
          Markup();
        } else {
          out_.Append('<');
          ++pos_;
        }
      } else if (c == '\0') {
        ++pos_;
      } else {
        AppendUtf8(Windows1252Character(static_cast<unsigned char>(c)), out_);
        ++pos_;
      }
    }
  }

  // The first byte in [from, limit) that plain copying must stop at: "<",
  // "&", NUL, or (in a Windows-1252 document) a byte from 0x80; `limit`
  // when there is none.
  size_t FindSpecial(size_t from, size_t limit) const {
    const char* const data = bytes_.data();
    const uint64_t high = utf8_ ? 0 : 0x8080808080808080ull;
    size_t at = from;
    for (; limit - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, data + at, sizeof word);
      const uint64_t found = ZeroBytes(word ^ 0x3C3C3C3C3C3C3C3Cull) |
                             ZeroBytes(word ^ 0x2626262626262626ull) |
                             ZeroBytes(word) | (word & high);
      if (found != 0) break;
    }
    for (; at < limit; ++at) {
      const auto c = static_cast<unsigned char>(data[at]);
      if (c == '<' || c == '&' || c == 0 || (!utf8_ && c >= 0x80)) return at;
    }
    return limit;
  }

  void Reference(size_t limit) {
    const CharacterReference reference =
        ReadCharacterReference(bytes_.substr(pos_, limit - pos_));
    if (reference.length == 0) {
      out_.Append('&');
      ++pos_;
      return;
    }
    for (size_t k = 0; k < reference.count; ++k) {
      // A reference to NUL gives the replacement character, never a NUL.
      AppendUtf8(reference.points[k], out_);
    }
    pos_ += reference.length;
  }

  // At a "<" in text.
  void Markup() {
    const size_t next = pos_ + 1;
    const char c = next < bytes_.size() ? bytes_[next] : '\0';
    if (c == '!') {
      if (bytes_.substr(pos_, 4) == "<!--") {
        Comment();
      } else {
        SkipPast('>', pos_ + 2);  // a declaration such as <!DOCTYPE ...>
      }
    } else if (c == '?') {
      SkipPast('>', next);
    } else if (c == '/') {
      const char after = next + 1 < bytes_.size() ? bytes_[next + 1] : '\0';
      if (IsAsciiAlpha(after)) {
        EndTag();
      } else if (after == '>') {
        pos_ += 3;  // "</>" stands for nothing
      } else if (next + 1 >= bytes_.size()) {
        out_.Append("</");
        pos_ = bytes_.size();
      } else {
        SkipPast('>', next + 1);
      }
    } else if (IsAsciiAlpha(c)) {
      StartTag();
    } else {
      out_.Append('<');
      ++pos_;
    }
  }

  // Moves past the first `c` at or after `from`, or to the end.
  void SkipPast(char c, size_t from) {
    const size_t found = bytes_.find(c, from);
    pos_ = found == std::string_view::npos ? bytes_.size() : found + 1;
  }

  void Comment() {
    const size_t body = pos_ + 4;
    // "<!-->" and "<!--->" are whole comments.
    if (bytes_.substr(body, 1) == ">") {
      pos_ = body + 1;
      return;
    }
    if (bytes_.substr(body, 2) == "->") {
      pos_ = body + 2;
      return;
    }
    for (size_t dashes = bytes_.find("--", body);
         dashes != std::string_view::npos; dashes = bytes_.find("--", dashes + 1)) {
      if (bytes_.substr(dashes + 2, 1) == ">") {
        pos_ = dashes + 3;
        return;
      }
      if (bytes_.substr(dashes + 2, 2) == "!>") {
        pos_ = dashes + 4;
        return;
      }
    }
    pos_ = bytes_.size();
  }

  // Reads the tag name starting at `from`, lower-cased, into `name` (only
  // as much as a listed name can be; longer names are none of them) and
  // returns where it ends.
  size_t ReadTagName(size_t from, char (&name)[kLongestListedName + 2],
                     size_t* length) const {
    size_t at = from;
    *length = 0;
    while (at < bytes_.size() && !IsHtmlSpace(bytes_[at]) && bytes_[at] != '/' &&
           bytes_[at] != '>') {
      if (*length < sizeof name) name[(*length)++] = AsciiLower(bytes_[at]);
      ++at;
    }
    if (*length > kLongestListedName) *length = 0;
    return at;
  }

  // Moves past the ">" that ends the tag whose attributes start at `from`,
  // reading quoted values whole; to the end when there is none.
  void SkipAttributes(size_t from) {
    size_t at = from;
    const size_t size = bytes_.size();
    while (at < size) {
      const char c = bytes_[at];
      if (c == '>') {
        pos_ = at + 1;
        return;
      }
      if (IsHtmlSpace(c) || c == '/') {
        ++at;
        continue;
      }
      // An attribute's name, then perhaps "=" and its value.
      ++at;
      while (at < size && !IsHtmlSpace(bytes_[at]) && bytes_[at] != '/' &&
             bytes_[at] != '>' && bytes_[at] != '=') {
        ++at;
      }
      while (at < size && IsHtmlSpace(bytes_[at])) ++at;
      if (at >= size || bytes_[at] != '=') continue;
      ++at;
      while (at < size && IsHtmlSpace(bytes_[at])) ++at;
      if (at < size && (bytes_[at] == '"' || bytes_[at] == '\'')) {
        const size_t close = bytes_.find(bytes_[at], at + 1);
        at = close == std::string_view::npos ? size : close + 1;
      } else {
        while (at < size && !IsHtmlSpace(bytes_[at]) && bytes_[at] != '>') ++at;
      }
    }
    pos_ = size;
  }

  void Separate() {
    if (out_.size() > 0 && out_[out_.size() - 1] != '\n') out_.Append('\n');
  }

  void StartTag() {
    char buffer[kLongestListedName + 2];
    size_t length;
    const size_t name_end = ReadTagName(pos_ + 1, buffer, &length);
    const std::string_view name(buffer, length);
    SkipAttributes(name_end);
    if (IsListed(name, kInlineElements)) return;
    Separate();
    if (IsListed(name, kSkippedElements)) {
      pos_ = FindEndTag(name);
      return;
    }
    if (IsListed(name, kTextOnlyElements)) {
      const bool first_title =
          name == "title" && !title_seen_ && document_.title.empty();
      const size_t begin = out_.size();
      ReadText(FindEndTag(name), false);
      if (first_title) {
        title_seen_ = true;
        document_.title = {begin, out_.size()};
      }
      return;
    }
    if (name == "h1" && !heading_seen_) {
      heading_seen_ = in_heading_ = true;
      document_.heading.begin = out_.size();
    }
  }

  void EndTag() {
    char buffer[kLongestListedName + 2];
    size_t length;
    const size_t name_end = ReadTagName(pos_ + 2, buffer, &length);
    const std::string_view name(buffer, length);
    SkipAttributes(name_end);
    if (IsListed(name, kInlineElements)) return;
    if (name == "h1" && in_heading_) {
      in_heading_ = false;
      document_.heading.end = out_.size();
    }
    Separate();
  }

  // Where the end tag of the element `name` begins, from pos_ on: "</",
  // the name in any case, then a space, "/" or ">"; the end when none.
  size_t FindEndTag(std::string_view name) const {
    for (size_t at = bytes_.find("</", pos_); at != std::string_view::npos;
         at = bytes_.find("</", at + 2)) {
      const size_t after = at + 2 + name.size();
      if (after > bytes_.size()) break;
      bool same = true;
      for (size_t k = 0; k < name.size() && same; ++k) {
        same = AsciiLower(bytes_[at + 2 + k]) == name[k];
      }
      if (same && (after == bytes_.size() || IsHtmlSpace(bytes_[after]) ||
                   bytes_[after] == '/' || bytes_[after] == '>')) {
        return at;
      }
    }
    return bytes_.size();
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  bool utf8_ = true;
  ByteString& out_;
  DocumentText& document_;
  bool title_seen_ = false;
  bool heading_seen_ = false;
  bool in_heading_ = false;
};

}  // namespace

bool ExtractDocumentText(std::string_view bytes, DocumentText& document) {
  document.text.Clear();
  document.title = {};
  document.heading = {};
  // Room for the whole document at once: its text is never longer, but for
  // Windows-1252 bytes and references that widen.
  document.text.Reserve(bytes.size() + bytes.size() / 8 + 16);
  Reader reader(bytes, document);
  reader.Run();
  return !document.text.failed();
}

}  // namespace tavik
