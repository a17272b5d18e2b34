// Folding text for search: what a code point is compared as, so that case,
// accents and compatibility variants do not count ("Café", "CAFE" and
// "cafe" are one word; "ß" is "ss"; the ligature "ﬁ" is "fi"). A code
// point folds to the result of its compatibility decomposition with its
// nonspacing and enclosing marks removed and full case folding applied,
// repeated until nothing changes; Unicode's own data files give the tables,
// at build time. Every code point a folding gives folds to itself.
//
// Words are made of letters, digits and the spacing marks that belong to
// them (Unicode categories L, N and Mc); every other code point separates
// words. Hangul syllables are kept whole (their decomposition is
// algorithmic, not in the data files), which the query and the text share.
#ifndef TAVIK_TEXT_UNICODE_FOLDING_H_
#define TAVIK_TEXT_UNICODE_FOLDING_H_

#include <cstddef>
#include <cstdint>

namespace tavik {

// The most code points one code point folds to.
inline constexpr size_t kMaxFoldedLength = 18;

// How one code point folds.
class CodePointFolding {
 public:
  // The folding of `point`; a value above U+10FFFF folds to itself and
  // separates words.
  static CodePointFolding Of(char32_t point);

  // True when the code point folds to itself; then is_word() says whether
  // it belongs to a word.
  bool is_itself() const { return value_ < 2; }
  bool is_word() const { return value_ == 1; }
  // What the code point folds to when it does not fold to itself: `count`
  // code points at `points`, each folding to itself (none for a mark that
  // is removed).
  const char32_t* points() const;
  size_t count() const;

 private:
  explicit constexpr CodePointFolding(uint16_t value) : value_(value) {}
  // 0: itself, not of a word; 1: itself, of a word; n >= 2: mapping n - 2.
  uint16_t value_;
};

// True when `point`, a code point that folds to itself, belongs to a word.
inline bool IsWordPoint(char32_t point) {
  return CodePointFolding::Of(point).is_word();
}

// For each ASCII byte: the byte it folds to ("A" to "a") when it belongs
// to a word, 0 when it separates words.
struct AsciiFoldingTable {
  unsigned char folded[128];
};
extern const AsciiFoldingTable kAsciiFolding;

// The folding of the ASCII byte `byte` (< 0x80) in one table lookup.
inline unsigned char FoldAsciiByte(unsigned char byte) {
  return kAsciiFolding.folded[byte & 0x7F];
}

}  // namespace tavik

#endif  // TAVIK_TEXT_UNICODE_FOLDING_H_
