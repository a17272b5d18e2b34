// TermFinder and the byte searches against naive loops, over random text
// whose padding on both sides would match if a search strayed outside its
// range; with and without SIMD.
#include "request/term_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/ascii.h"
#include "request/byte_search.h"
#include "request/text_folding.h"

namespace tavik {
namespace {

struct CanMatchCase {
  std::string term;
  bool can_match;
};

TEST(TermFinder, KnowsTermsThatNoPieceHolds) {
  const CanMatchCase cases[] = {
      {"", true},      {"ABC \xe9\r", true},
      {"AB\n", true},  {std::string(255, 'A'), true},
      {"A\nB", false}, {"\n\n", false},
      {"Abc", false},  {std::string(256, 'A'), false},
  };
  for (const CanMatchCase& known : cases) {
    EXPECT_EQ(TermFinder(known.term.c_str()).CanMatch(), known.can_match)
        << "term of " << known.term.size() << " bytes";
  }
}

// The first p in [from, end) that starts an upper-cased match, or nullptr.
const char* NaiveFind(const std::string& term, const char* from,
                      const char* end) {
  for (const char* at = from; at + term.size() <= end; ++at) {
    size_t i = 0;
    while (i < term.size() && AsciiUpper(at[i]) == term[i]) ++i;
    if (i == term.size()) return at;
  }
  return nullptr;
}

TEST(TermFinder, FindsWhatANaiveSearchFinds) {
  std::mt19937 random(7);
  const std::string alphabet = "aAbB \xe9\r\n";
  for (int round = 0; round < 3000; ++round) {
    std::string term;
    const size_t length = 1 + random() % (round % 3 == 0 ? 40 : 4);
    for (size_t i = 0; i < length; ++i) {
      term += AsciiUpper(alphabet[random() % (alphabet.size() - 1)]);
    }
    // Padding of term copies on both sides of the searched range.
    std::string text = term + term;
    const size_t text_length = random() % 200;
    for (size_t i = 0; i < text_length; ++i) {
      text += random() % 8 == 0 ? term[random() % term.size()]
                                : alphabet[random() % alphabet.size()];
    }
    const size_t searched_end = text.size();
    text += term + term;
    const char* from = text.data() + 2 * term.size();
    const char* end = text.data() + searched_end;
    for (const bool simd : {true, false}) {
      const TermFinder finder(term.c_str(), simd);
      for (const char* at = from; at <= end; at += 1 + random() % 8) {
        ASSERT_EQ(finder.Find(at, end), NaiveFind(term, at, end))
            << "round " << round << (simd ? ", SIMD" : ", portable");
      }
    }
  }
}

TEST(ByteSearch, FindsWhatANaiveSearchFinds) {
  std::mt19937 random(11);
  for (int round = 0; round < 2000; ++round) {
    // Padding holds every byte searched for.
    std::string text = "\r\x1a\n";
    const size_t length = random() % 300;
    const unsigned rarity = 1 + random() % 200;
    for (size_t i = 0; i < length; ++i) {
      text += random() % rarity == 0 ? "\r\x1a\n"[random() % 3] : 'a';
    }
    text += "\r\x1a\n";
    const char* begin = text.data() + 3;
    const char* end = text.data() + text.size() - 3;
    const char* first = begin;
    while (first < end && *first != '\r' && *first != '\x1a') ++first;
    const char* last = end;
    while (last > begin && last[-1] != '\n') --last;
    for (const bool simd : {true, false}) {
      ASSERT_EQ(FindCrOrEndOfText(begin, end, simd), first) << round;
      ASSERT_EQ(FindLastLineFeed(begin, end, simd),
                last == begin ? nullptr : last - 1)
          << round;
    }
  }
}

struct FoldCase {
  std::string bytes;
  std::string text;
  bool ended;
  bool held_cr;
};

TEST(FoldBlock, FoldsCrLfStopsAtEndOfTextHoldsALastCr) {
  const FoldCase cases[] = {
      {"plain\ntext", "plain\ntext", false, false},
      {"a\r\nb\r\n", "a\nb\n", false, false},
      {"a\r\r\nb\rc", "a\r\nb\rc", false, false},
      {"a\r\nb\x1a\r\nc", "a\nb", true, false},
      {"\x1a", "", true, false},
      {"ab\r", "ab", false, true},
      {"a\r\r", "a\r", false, true},
      {std::string("\0\r\n\0", 4), std::string("\0\n\0", 3), false, false},
  };
  for (const FoldCase& known : cases) {
    for (const bool simd : {true, false}) {
      std::string block = known.bytes;
      const FoldedBlock folded =
          FoldBlock(block.data(), block.data() + block.size(), simd);
      EXPECT_EQ(std::string(block.data(), folded.end), known.text);
      EXPECT_EQ(folded.ended, known.ended);
      EXPECT_EQ(folded.held_cr, known.held_cr);
    }
  }
}

}  // namespace
}  // namespace tavik
