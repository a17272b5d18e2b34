// From request paths to folders, and the confinement to the document root.
#include "host/url_mapping.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

// As civetweb decoded paths before tavik-serve took it over, but with a
// NUL kept where "%00" was instead of ending the path there.
TEST(DecodeUrlPath, DecodesEscapesOfTwoHexDigitsOnly) {
  using namespace std::string_literals;
  const std::pair<const char*, std::string> kCases[] = {
      {"/a%20b", "/a b"},
      {"/%2e%2E/%2F", "/..//"},
      {"/search/%00", "/search/\0"s},
      {"/a%00b%41", "/a\0bA"s},
      {"/%ff%C3%A9", "/\xff\xc3\xa9"},
      {"/a+b", "/a+b"},
      {"/100%", "/100%"},
      {"/%4", "/%4"},
      {"/%4g%g4", "/%4g%g4"},
      {"/%%41", "/%A"},
      {"%41", "A"},
      {"", ""},
  };
  for (const auto& [raw, decoded] : kCases) {
    EXPECT_EQ(DecodeUrlPath(raw), decoded) << raw;
  }
}

TEST(PathBelowMount, MatchesTheMountAndWhatIsBelowItOnly) {
  const std::pair<const char*, std::optional<std::string_view>> kCases[] = {
      {"/search", ""},
      {"/search/", "/"},
      {"/search/guide", "/guide"},
      {"/search/a/b/../c", "/a/b/../c"},
      {"/searchx", std::nullopt},
      {"/searc", std::nullopt},
      {"/", std::nullopt},
      {"/Search", std::nullopt},
      {"/other/search", std::nullopt},
  };
  for (const auto& [path, rest] : kCases) {
    EXPECT_EQ(PathBelowMount(path, "/search"), rest) << path;
  }
  EXPECT_EQ(PathBelowMount("/a/b/c", "/a/b"), "/c");
}

TEST(JoinBelowRoot, NormalizesAndStaysBelowTheRoot) {
  const std::pair<const char*, std::optional<std::string>> kCases[] = {
      {"", "/site"},
      {"/", "/site"},
      {"/guide", "/site/guide"},
      {"/guide/", "/site/guide"},
      {"//guide//./x/", "/site/guide/x"},
      {"/guide/../news", "/site/news"},
      {"/guide/..", "/site"},
      {"/..", std::nullopt},
      {"/guide/../..", std::nullopt},
      {"/guide/../../site", std::nullopt},
      {"/a b/%2e", "/site/a b/%2e"},
      {"/...", "/site/..."},
  };
  for (const auto& [rest, joined] : kCases) {
    EXPECT_EQ(JoinBelowRoot("/site", rest), joined) << rest;
  }
  EXPECT_EQ(JoinBelowRoot("/", "/x/../y"), "/y");
  EXPECT_EQ(JoinBelowRoot("/", ""), "/");
  EXPECT_EQ(JoinBelowRoot("/", "/.."), std::nullopt);
}

class Confinement : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("site/guide/intro.htm", "x");
    tree_.Write("outside/secret.htm", "x");
    tree_.Link("site/inner", tree_.Path("site/guide"));
    tree_.Link("site/escape", tree_.Path("outside"));
    tree_.Link("site/file-escape.htm", tree_.Path("outside/secret.htm"));
    tree_.Link("site/dangling", tree_.Path("nowhere"));
    char* real = realpath(tree_.Path("site").c_str(), nullptr);
    root_ = real;
    free(real);
  }

  bool Inside(const std::string& rest, std::string* resolved = nullptr) {
    std::string ignored;
    return StaysInsideRoot(root_, *JoinBelowRoot(root_, rest),
                           resolved != nullptr ? resolved : &ignored);
  }

  TempTree tree_;
  std::string root_;
};

TEST_F(Confinement, FoldersAndLinksInsideStayInside) {
  std::string resolved;
  EXPECT_TRUE(Inside("", &resolved));
  EXPECT_EQ(resolved, root_);
  EXPECT_TRUE(Inside("/guide", &resolved));
  EXPECT_EQ(resolved, root_ + "/guide");
  EXPECT_TRUE(Inside("/inner", &resolved));
  EXPECT_EQ(resolved, root_ + "/guide");
  EXPECT_TRUE(Inside("/guide/intro.htm"));
}

TEST_F(Confinement, LinksOutsideLeave) {
  EXPECT_FALSE(Inside("/escape"));
  EXPECT_FALSE(Inside("/escape/secret.htm"));
  EXPECT_FALSE(Inside("/file-escape.htm"));
  EXPECT_FALSE(Inside("/escape/missing/deeper"));
}

TEST_F(Confinement, MissingPathsAreJudgedByWhatExists) {
  std::string resolved;
  EXPECT_TRUE(Inside("/missing", &resolved));
  EXPECT_EQ(resolved, root_ + "/missing");
  EXPECT_TRUE(Inside("/inner/missing/deeper", &resolved));
  EXPECT_EQ(resolved, root_ + "/guide/missing/deeper");
  // A file is no folder, but what is below it does not exist either.
  EXPECT_TRUE(Inside("/guide/intro.htm/below"));
  // The link leads nowhere, and nowhere is outside.
  EXPECT_FALSE(Inside("/dangling"));
}

TEST_F(Confinement, PathsNotBelowTheRootLeave) {
  std::string resolved;
  EXPECT_FALSE(StaysInsideRoot(root_, root_ + "x", &resolved));
  EXPECT_FALSE(StaysInsideRoot(root_, "/", &resolved));
}

}  // namespace
}  // namespace tavik::testing
