// Searches that depend on what a POSIX file system allows: any byte but "/"
// in a name, symbolic links, FIFOs, and paths without a drive letter.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

using SearchResults = SearchTreeTest;

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

// Links to documents are read only where they lead inside the search root:
// otherwise hit counts would tell what a file outside the site holds. Links
// to folders are never entered.
TEST_F(SearchResults, LinksAreFollowedOnlyToFilesInsideTheRoot) {
  TempTree outside;
  TempTree round_trip;
  const auto name_of = [](const TempTree& tree) {
    return tree.root().substr(tree.root().rfind('/') + 1);
  };
  const auto parent_of = [](const TempTree& tree) {
    return tree.root().substr(0, tree.root().rfind('/'));
  };
  ASSERT_EQ(parent_of(outside), parent_of(tree_));
  ASSERT_EQ(parent_of(round_trip), parent_of(tree_));
  outside.Write("target.htm", "word\n");
  outside.Write("folder/inside.htm", "word\n");
  tree_.Write("sub/real.htm", "word\nword\n");
  tree_.Link("linked.htm", outside.Path("target.htm"));
  tree_.Link("relative.htm", "../" + name_of(outside) + "/target.htm");
  tree_.Link("folder", outside.Path("folder"));
  tree_.Link("loop/back", tree_.root());
  tree_.Link("dangling.htm", tree_.Path("nowhere.htm"));
  tree_.Link("inside.htm", "sub/real.htm");
  EXPECT_EQ(Body("word"), ListLine("/inside.htm", 2) +
                              ListLine("/sub/real.htm", 2) + SummaryLine(4));
  // The root itself may be a link; what lies below its target is inside.
  EXPECT_EQ(SearchBody(tree_.Path("folder"), "word"), OneRow("/inside.htm", 1));
  // A root below a link's target: the link is outside that root.
  EXPECT_EQ(SearchBody(tree_.Path("sub"), "word"), OneRow("/real.htm", 2));
  // Out of the root and back in: where the link leads is what counts.
  round_trip.Write("target/t.htm", "word\nword\nword\n");
  round_trip.Link("trip.htm", outside.Path("../") + name_of(round_trip) +
                                  "/target/t.htm");
  EXPECT_EQ(SearchBody(round_trip.root(), "word"),
            ListLine("/trip.htm", 3) + ListLine("/target/t.htm", 3) +
                SummaryLine(6));
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
