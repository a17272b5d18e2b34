#include "text/html_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/character_references.h"
#include "text/text_encoding.h"
#include "text/word_stream.h"

namespace tavik {
namespace {

// What an element's tags do to the text around them.
enum class TagKind : uint8_t {
  kSeparates,  // most elements: the text before and after are apart
  kJoins,      // inline elements, laid out in one line with the text
  kSkipped,    // elements whose content is not text and has no tags
  kTextOnly,   // elements whose content is text without tags
  kTitle,      // the title: text without tags, and the document's title
  kHeading,    // a first-level heading, the title where there is none
};

// An element name of up to eight bytes as one number, its first byte
// lowest: names are told apart by one comparison.
constexpr uint64_t NameKey(std::string_view name) {
  uint64_t key = 0;
  for (size_t k = name.size(); k > 0; --k) {
    key = (key << 8) | static_cast<unsigned char>(name[k - 1]);
  }
  return key;
}

struct NamedKind {
  uint64_t key;
  TagKind kind;
};

constexpr NamedKind Named(std::string_view name, TagKind kind) {
  return {NameKey(name), kind};
}

// The elements whose tags do anything but separate.
constexpr NamedKind kTagKinds[] = {
    // Inline elements, laid out in one line with the text around them.
    Named("a", TagKind::kJoins), Named("abbr", TagKind::kJoins),
    Named("acronym", TagKind::kJoins), Named("b", TagKind::kJoins),
    Named("bdi", TagKind::kJoins), Named("bdo", TagKind::kJoins),
    Named("big", TagKind::kJoins), Named("cite", TagKind::kJoins),
    Named("code", TagKind::kJoins), Named("data", TagKind::kJoins),
    Named("del", TagKind::kJoins), Named("dfn", TagKind::kJoins),
    Named("em", TagKind::kJoins), Named("font", TagKind::kJoins),
    Named("i", TagKind::kJoins), Named("ins", TagKind::kJoins),
    Named("kbd", TagKind::kJoins), Named("mark", TagKind::kJoins),
    Named("q", TagKind::kJoins), Named("s", TagKind::kJoins),
    Named("samp", TagKind::kJoins), Named("small", TagKind::kJoins),
    Named("span", TagKind::kJoins), Named("strike", TagKind::kJoins),
    Named("strong", TagKind::kJoins), Named("sub", TagKind::kJoins),
    Named("sup", TagKind::kJoins), Named("time", TagKind::kJoins),
    Named("tt", TagKind::kJoins), Named("u", TagKind::kJoins),
    Named("var", TagKind::kJoins), Named("wbr", TagKind::kJoins),
    // Content that is not text.
    Named("script", TagKind::kSkipped), Named("style", TagKind::kSkipped),
    Named("xmp", TagKind::kSkipped), Named("iframe", TagKind::kSkipped),
    Named("noembed", TagKind::kSkipped), Named("noframes", TagKind::kSkipped),
    // Text without tags.
    Named("textarea", TagKind::kTextOnly), Named("title", TagKind::kTitle),
    Named("h1", TagKind::kHeading),
};

// The table above by a hash of the key, each entry in the first free slot
// from its hash on, so that a name is found in one or two probes: a tag is
// looked up for every tag of every document.
constexpr size_t kKindSlots = 128;
constexpr size_t KindSlot(uint64_t key) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 57);
}
struct KindTable {
  NamedKind slots[kKindSlots] = {};
  constexpr KindTable() {
    for (const NamedKind& entry : kTagKinds) {
      size_t slot = KindSlot(entry.key);
      while (slots[slot].key != 0) slot = (slot + 1) % kKindSlots;
      slots[slot] = entry;
    }
  }
};
constexpr KindTable kKindTable;

// What the tags of the element named `key` (see NameKey) do.
TagKind KindOf(uint64_t key) {
  if (key == 0) return TagKind::kSeparates;
  for (size_t slot = KindSlot(key);; slot = (slot + 1) % kKindSlots) {
    const NamedKind& entry = kKindTable.slots[slot];
    if (entry.key == key) return entry.kind;
    if (entry.key == 0) return TagKind::kSeparates;
  }
}

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// What ends a run of bytes inside a tag, byte by byte, so that the loops
// over attributes look each byte up once: white space, "/", ">" and "="
// end an attribute's name; white space and ">" end a value without quotes.
enum : uint8_t { kSpace = 1, kEndsName = 2, kEndsValue = 4 };
constexpr auto kTagBytes = [] {
  std::array<uint8_t, 256> table = {};
  for (const char c : {' ', '\t', '\n', '\f', '\r'}) {
    table[static_cast<unsigned char>(c)] = kSpace | kEndsName | kEndsValue;
  }
  table['/'] = kEndsName;
  table['='] = kEndsName;
  table['>'] = kEndsName | kEndsValue;
  return table;
}();
bool Is(char c, uint8_t what) {
  return (kTagBytes[static_cast<unsigned char>(c)] & what) != 0;
}

bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

#if !defined(__SSE2__)
// A mask with the high bit of each byte of `word` that is zero.
uint64_t ZeroBytes(uint64_t word) {
  return (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
}
#endif

// Where a Reader's text goes: as text (UTF-8, "\n" where tags separate).
class TextOutput {
 public:
  explicit TextOutput(ByteString& text) : text_(text) {}
  void Text(const char* bytes, size_t length) { text_.Append(bytes, length); }
  void Point(char32_t point) { AppendUtf8(point, text_); }
  void Separate() {
    if (text_.size() > 0 && text_[text_.size() - 1] != '\n') text_.Append('\n');
  }
  size_t Place() const { return text_.size(); }

 private:
  ByteString& text_;
};

// Or straight into a word stream, folded as it comes.
class StreamOutput {
 public:
  explicit StreamOutput(StreamWriter& writer) : writer_(writer) {}
  void Text(const char* bytes, size_t length) {
    writer_.Text(std::string_view(bytes, length));
  }
  void Point(char32_t point) { writer_.Point(point); }
  void Separate() { writer_.Separate(); }
  size_t Place() const { return writer_.size(); }

 private:
  StreamWriter& writer_;
};

template <typename Output>
class Reader {
 public:
  Reader(std::string_view bytes, Output& out, TextRange& title,
         TextRange& heading)
      : bytes_(bytes), out_(out), title_(title), heading_(heading) {
    utf8_ = IsValidUtf8(bytes);
    if (utf8_ && bytes_.substr(0, 3) == kUtf8ByteOrderMark) pos_ = 3;
  }

  void Run() {
    ReadText(bytes_.size(), true);
    if (in_heading_) heading_.end = out_.Place();
  }

 private:
  // Reads text up to `limit`: with `markup`, "<" may start a tag.
  void ReadText(size_t limit, bool markup) {
    while (pos_ < limit) {
      const size_t special = FindSpecial(pos_, limit);
      if (special > pos_) out_.Text(bytes_.data() + pos_, special - pos_);
      pos_ = special;
      if (pos_ == limit) return;
      const char c = bytes_[pos_];
      if (c == '&') {
        Reference(limit);
      } else if (c == '<') {
        if (markup) {
          Markup();
        } else {
          out_.Text("<", 1);
          ++pos_;
        }
      } else if (c == '\0') {
        ++pos_;
      } else {
        out_.Point(Windows1252Character(static_cast<unsigned char>(c)));
        ++pos_;
      }
    }
  }

  // The first byte in [from, limit) that plain copying must stop at: "<",
  // "&", NUL, or (in a Windows-1252 document) a byte from 0x80; `limit`
  // when there is none.
  size_t FindSpecial(size_t from, size_t limit) const {
    const char* const data = bytes_.data();
    size_t at = from;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('<');
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i nul = _mm_setzero_si128();
    for (; limit - at >= 16; at += 16) {
      const __m128i block =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      const __m128i found = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(block, open), _mm_cmpeq_epi8(block, amp)),
          _mm_cmpeq_epi8(block, nul));
      uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(found));
      if (!utf8_) mask |= static_cast<uint32_t>(_mm_movemask_epi8(block));
      if (mask != 0) return at + static_cast<size_t>(std::countr_zero(mask));
    }
#else
    const uint64_t high = utf8_ ? 0 : 0x8080808080808080ull;
    for (; limit - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, data + at, sizeof word);
      const uint64_t found = ZeroBytes(word ^ 0x3C3C3C3C3C3C3C3Cull) |
                             ZeroBytes(word ^ 0x2626262626262626ull) |
                             ZeroBytes(word) | (word & high);
      if (found != 0) break;
    }
#endif
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
      out_.Text("&", 1);
      ++pos_;
      return;
    }
    for (size_t k = 0; k < reference.count; ++k) {
      // A reference to NUL gives the replacement character, never a NUL.
      out_.Point(reference.points[k]);
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
        out_.Text("</", 2);
        pos_ = bytes_.size();
      } else {
        SkipPast('>', next + 1);
      }
    } else if (IsAsciiAlpha(c)) {
      StartTag();
    } else {
      out_.Text("<", 1);
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

  // Reads the tag name starting at `from` and returns where it ends; its
  // key (see NameKey), lower-cased, in `*key`: 0 for a name longer than
  // any that does more than separate.
  size_t ReadTagName(size_t from, uint64_t* key) const {
    size_t at = from;
    uint64_t packed = 0;
    const size_t size = bytes_.size();
    while (at < size) {
      const char c = bytes_[at];
      if (IsHtmlSpace(c) || c == '/' || c == '>') break;
      if (at - from < 8) {
        packed |= uint64_t{static_cast<unsigned char>(AsciiLower(c))}
                  << (8 * (at - from));
      }
      ++at;
    }
    *key = at - from <= 8 ? packed : 0;
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
      if (Is(c, kSpace) || c == '/') {
        ++at;
        continue;
      }
      // An attribute's name, then perhaps "=" and its value.
      ++at;
      while (at < size && !Is(bytes_[at], kEndsName)) ++at;
      while (at < size && Is(bytes_[at], kSpace)) ++at;
      if (at >= size || bytes_[at] != '=') continue;
      ++at;
      while (at < size && Is(bytes_[at], kSpace)) ++at;
      if (at < size && (bytes_[at] == '"' || bytes_[at] == '\'')) {
        const void* close = std::memchr(bytes_.data() + at + 1, bytes_[at],
                                        size - at - 1);
        at = close == nullptr
                 ? size
                 : static_cast<size_t>(static_cast<const char*>(close) -
                                       bytes_.data()) + 1;
      } else {
        while (at < size && !Is(bytes_[at], kEndsValue)) ++at;
      }
    }
    pos_ = size;
  }

  void Separate() { out_.Separate(); }

  void StartTag() {
    uint64_t key;
    const size_t name_end = ReadTagName(pos_ + 1, &key);
    SkipAttributes(name_end);
    const TagKind kind = KindOf(key);
    if (kind == TagKind::kJoins) return;
    Separate();
    switch (kind) {
      case TagKind::kSkipped:
        pos_ = FindEndTag(key);
        return;
      case TagKind::kTextOnly:
      case TagKind::kTitle: {
        const bool first_title = kind == TagKind::kTitle && !title_seen_;
        const size_t begin = out_.Place();
        ReadText(FindEndTag(key), false);
        if (first_title) {
          title_seen_ = true;
          title_ = {begin, out_.Place()};
        }
        return;
      }
      case TagKind::kHeading:
        if (!heading_seen_) {
          heading_seen_ = in_heading_ = true;
          heading_.begin = out_.Place();
        }
        return;
      case TagKind::kSeparates:
      case TagKind::kJoins:
        return;
    }
  }

  void EndTag() {
    uint64_t key;
    const size_t name_end = ReadTagName(pos_ + 2, &key);
    SkipAttributes(name_end);
    const TagKind kind = KindOf(key);
    if (kind == TagKind::kJoins) return;
    if (kind == TagKind::kHeading && in_heading_) {
      in_heading_ = false;
      heading_.end = out_.Place();
    }
    Separate();
  }

  // Where the end tag of the element whose key is `key` begins, from pos_
  // on: "</", the name in any case, then a space, "/" or ">"; the end of
  // the document when there is none.
  size_t FindEndTag(uint64_t key) const {
    for (size_t at = bytes_.find("</", pos_); at != std::string_view::npos;
         at = bytes_.find("</", at + 2)) {
      uint64_t found;
      const size_t name_end = ReadTagName(at + 2, &found);
      if (found == key && name_end > at + 2) return at;
    }
    return bytes_.size();
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  bool utf8_ = true;
  Output& out_;
  TextRange& title_;
  TextRange& heading_;
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
  TextOutput out(document.text);
  Reader<TextOutput> reader(bytes, out, document.title, document.heading);
  reader.Run();
  return !document.text.failed();
}

bool ExtractDocumentStream(std::string_view bytes, DocumentStream& document) {
  document.title = {};
  document.heading = {};
  StreamWriter writer(document.stream);
  StreamOutput out(writer);
  Reader<StreamOutput> reader(bytes, out, document.title, document.heading);
  reader.Run();
  document.words = writer.word_count();
  return writer.Finish();
}

}  // namespace tavik
