// Whole searches through the exported entry point: the walk, the reading
// rules, the hit table and the page it gives.
#include <gtest/gtest.h>

#include <string>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

using SearchResults = SearchTreeTest;

TEST_F(SearchResults, RanksRowsFoundDeeperAboveByCount) {
  tree_.Write("a.htm", "quokka\n");
  tree_.Write("sub/b.htm", "quokka\nQuokka\n");
  EXPECT_EQ(Body("quokka"), ListLine("/sub/b.htm", 2) +
                                ListLine("/a.htm", 1) + SummaryLine(3));
}

// Pre-order walk gives the rows A, B, C; equal counts do not keep that
// order, since the selection sort swaps the row it passes over.
TEST_F(SearchResults, EqualCountsFollowTheSelectionSort) {
  tree_.Write("a.htm", "x\nx\n");
  tree_.Write("d/b.htm", "x\nx\nx\nx\nx\n");
  tree_.Write("d/e/c.htm", "x\nx\nx\nx\nx\n");
  EXPECT_EQ(Body("x"), ListLine("/d/b.htm", 5) + ListLine("/d/e/c.htm", 5) +
                           ListLine("/a.htm", 2) + SummaryLine(12));

  TempTree second;
  second.Write("a.htm", "x\n");
  second.Write("d/b.htm", "x\n");
  second.Write("d/e/c.htm", "x\nx\n");
  EXPECT_EQ(SearchBody(second.root(), "x"),
            ListLine("/d/e/c.htm", 2) + ListLine("/d/b.htm", 1) +
                ListLine("/a.htm", 1) + SummaryLine(4));
}

struct LineCase {
  const char* name;
  std::string content;
  std::string term;
  int hits;  // 0: the no-hits page
};

class LineRules : public SearchResults,
                  public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineRules, CountMatchingLines) {
  const LineCase& c = GetParam();
  const std::string page = SingleDocument(c.content, c.term);
  EXPECT_EQ(page, c.hits == 0 ? std::string(kNoHitsMessage)
                              : OneRow("/doc.htm", c.hits));
}

std::string Long(size_t length) { return std::string(length, '.'); }

INSTANTIATE_TEST_SUITE_P(
    Search, LineRules,
    ::testing::Values(
        LineCase{"ThriceInALineIsOneHit", "web web web\n", "web", 1},
        LineCase{"ThreeLinesAreThreeHits", "web\nweb\nweb\n", "web", 3},
        LineCase{"LettersIgnoreCase", "Web\nwEb\nWEB\nweb\n", "WEB", 4},
        LineCase{"HighBytesKeepCase", "caf\xe9\n", "caf\xc9", 0},
        LineCase{"HighBytesMatchThemselves", "caf\xe9\n", "CAF\xe9", 1},
        LineCase{"LastLineWithoutLineFeed", "a\nb\nthe end", "end", 1},
        LineCase{"NothingAfterEndOfText", "a\x1a" "end\nend\n", "end", 0},
        LineCase{"BeforeEndOfText", "end\x1a" "end\n", "end", 1},
        LineCase{"NulEndsTheSearchedPart", std::string("abc\0term\n", 9),
                 "term", 0},
        LineCase{"NulAfterTheTerm", std::string("term\0x\n", 7), "term", 1},
        LineCase{"DecodedCrDoesNotMatchCrLf", "one two\r\n", "two\r", 0},
        LineCase{"CrLfIsSearchedAsLf", "one two\r\n", "two\n", 1},
        LineCase{"LoneCrStays", "one\rtwo\n", "one\rtwo", 1},
        LineCase{"LongLineInThreePieces",
                 "xx" + Long(253) + "xx" + Long(253) + "xx" + Long(88) + "\n",
                 "xx", 3},
        LineCase{"OccurrenceAcrossPiecesIsLost", Long(254) + "xx\n", "xx", 0},
        LineCase{"LineFeedAfterFullPieceIsALine", Long(255) + "\n", "\n", 1},
        LineCase{"SpacesMatch", "full text search\n", "full text", 1},
        LineCase{"EmptyTermHitsEveryLine", "a\nb\n\nc", "", 4},
        LineCase{"EmptyDocument", "", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SearchResults, EmptyTermReachesTheCap) {
  tree_.Write("a.htm", std::string(300, '\n'));
  EXPECT_EQ(Body(""), kOverflowMessage);
}

TEST_F(SearchResults, CapEndsTheWalk) {
  std::string lines;
  for (int i = 0; i < 150; ++i) lines += "hit\n";
  tree_.Write("a.htm", lines);
  tree_.Write("d/b.htm", lines);
  tree_.Write("d/e/c.htm", lines);
  // The head and the overflow message, and nothing else.
  EXPECT_EQ(Body("hit"), kOverflowMessage);
  EXPECT_EQ(Post("q=hit", tree_.root()).events.size(), 2u);
}

TEST_F(SearchResults, ExactlyTheCapMinusOneIsListed) {
  std::string lines;
  for (int i = 0; i < 255; ++i) lines += "hit\n";
  tree_.Write("a.htm", lines);
  EXPECT_EQ(Body("hit"), OneRow("/a.htm", 255));
}

TEST_F(SearchResults, RootsThatSearchNothing) {
  tree_.Write("a.htm", "word\n");
  for (const std::string& root :
       {std::string(), std::string("."), std::string(".."),
        tree_.Path("missing"), tree_.Path("a.htm"),
        tree_.root() + std::string(256, '/')}) {
    EXPECT_EQ(SearchBody(root, "word"), kNoHitsMessage) << root;
  }
}

TEST_F(SearchResults, LinksComeFromTheRootText) {
  tree_.Write("guide/intro.htm", "word\n");
  EXPECT_EQ(SearchBody(tree_.root(), "word"), OneRow("/guide/intro.htm", 1));
  EXPECT_EQ(SearchBody(tree_.root() + "/", "word"),
            OneRow("guide/intro.htm", 1));
  // A root text longer than its full path gives an empty link.
  std::string dots;
  for (int i = 0; i < 10; ++i) dots += "/.";
  EXPECT_EQ(SearchBody(tree_.root() + dots, "word"), OneRow("", 1));
}

}  // namespace
}  // namespace tavik::testing
