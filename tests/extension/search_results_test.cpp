// Whole searches through the exported entry point: the walk, the reading
// rules, the hit table and the page it gives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/extension_fixture.h"
#include "tests/support/temp_tree.h"

namespace tavik::testing {
namespace {

class SearchResults : public ::testing::Test {
 protected:
  std::string Body(const std::string& term) {
    return SearchBody(tree_.root(), term);
  }
  // The page for a single document holding `content`, searched for `term`.
  std::string SingleDocument(const std::string& content,
                             const std::string& term) {
    tree_.Write("doc.htm", content);
    return Body(term);
  }
  static std::string OneRow(const std::string& link, int hits) {
    return ListLine(link, hits) + SummaryLine(hits);
  }

  TempTree tree_;
};

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

TEST_F(SearchResults, OnlyDocumentsMatchingThePatternAreRead) {
  for (const char* name :
       {"notes.txt", "a.htm.bak", "htm", "b.HTM", "c.html", ".hidden.htm"}) {
    tree_.Write(std::string("d/") + name, "word\n");
  }
  tree_.Write("d/x.htm/inner.htm", "word\nword\n");
  tree_.Write(".hidden/e.htm", "word\nword\nword\n");
  const std::string page = Body("word");
  for (const char* listed :
       {"/d/b.HTM", "/d/c.html", "/d/.hidden.htm", "/d/x.htm/inner.htm",
        "/.hidden/e.htm"}) {
    EXPECT_NE(page.find(std::string(">") + listed + "<"), std::string::npos)
        << listed;
  }
  EXPECT_EQ(page.find("notes"), std::string::npos);
  EXPECT_EQ(page.find(".bak"), std::string::npos);
  EXPECT_EQ(page.find("/d/htm"), std::string::npos);
  EXPECT_NE(page.find(SummaryLine(8)), std::string::npos);
  EXPECT_EQ(page.find("/d/x.htm<"), std::string::npos);
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

// Repeated separators make a root of exactly 255 characters that still
// names the folder; were it cut, "sub" would lose its last letter. The
// root's text is longer than the document's path, so the link is empty.
TEST_F(SearchResults, RootOf255CharactersIsUsedWhole) {
  tree_.Write("sub/a.htm", "word\n");
  const std::string padding(255 - tree_.root().size() - 3, '/');
  const std::string root = tree_.root() + padding + "sub";
  ASSERT_EQ(root.size(), 255u);
  EXPECT_EQ(SearchBody(root, "word"), OneRow("", 1));
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

TEST_F(SearchResults, LinksAreEscaped) {
  tree_.Write("a b.htm", "word\n");
  EXPECT_EQ(Body("word"),
            "<a href=/a%20b.htm>/a b.htm</a> - 1 hit(s)<p>\n\r" +
                SummaryLine(1));
  TempTree markup;
  markup.Write("x<y>'\"&.htm", "word\n");
  EXPECT_EQ(SearchBody(markup.root(), "word"),
            "<a href=/x%3Cy%3E%27%22%26.htm>/x&lt;y&gt;&#39;&quot;&amp;.htm"
            "</a> - 1 hit(s)<p>\n\r" +
                SummaryLine(1));
  // A backslash is a name character here, but links turn it into a slash.
  TempTree backslash;
  backslash.Write("a\\b.htm", "word\n");
  EXPECT_EQ(SearchBody(backslash.root(), "word"), OneRow("/a/b.htm", 1));
}

TEST_F(SearchResults, LinksAreFollowedOnlyToFiles) {
  TempTree outside;
  outside.Write("target.htm", "word\n");
  outside.Write("folder/inside.htm", "word\n");
  tree_.Link("linked.htm", outside.Path("target.htm"));
  tree_.Link("folder", outside.Path("folder"));
  tree_.Link("loop/back", tree_.root());
  tree_.Link("dangling.htm", tree_.Path("nowhere.htm"));
  EXPECT_EQ(Body("word"), OneRow("/linked.htm", 1));
  // The root itself may be a link.
  EXPECT_EQ(SearchBody(tree_.Path("folder"), "word"), OneRow("/inside.htm", 1));
}

TEST_F(SearchResults, SpecialFilesAreSkippedWithoutBlocking) {
  ASSERT_EQ(mkfifo(tree_.Path("pipe.htm").c_str(), 0600), 0);
  tree_.Write("real.htm", "word\n");
  EXPECT_EQ(Body("word"), OneRow("/real.htm", 1));
}

// Paths of 256 characters or more do not fit: such documents are skipped.
TEST_F(SearchResults, DocumentPathsMustFit) {
  const size_t base = tree_.root().size() + 1;  // with its separator
  const std::string fits(255 - base - 4, 'f');
  const std::string too_long(256 - base - 4, 'g');
  tree_.Write(fits + ".htm", "word\n");
  tree_.Write(too_long + ".htm", "word\n");
  EXPECT_EQ(Body("word"), OneRow("/" + fits + ".htm", 1));
}

// A chain of folders that runs past the path limit: every document whose
// full path fits is found, and the walk ends quietly where none can.
TEST_F(SearchResults, DeepFoldersEndAtThePathLimit) {
  const std::string level = "dddddddddd/";
  std::string folder;
  int expected = 0;
  for (int depth = 0; depth < 30; ++depth) {
    tree_.Write(folder + "w.htm", "word\n");
    if (tree_.Path(folder + "w.htm").size() <= 255) ++expected;
    folder += level;
  }
  ASSERT_GT(expected, 10);
  ASSERT_LT(expected, 30);
  const std::string page = Body("word");
  EXPECT_NE(page.find(SummaryLine(expected)), std::string::npos) << page;
}

}  // namespace
}  // namespace tavik::testing
