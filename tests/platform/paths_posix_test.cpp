#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace tavik {
namespace {

struct ResolveCase {
  std::string path;
  std::string expected;  // empty: resolution fails
};

class ResolveFullPathCases : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveFullPathCases, GivesTheFullForm) {
  char out[kPathBufferSize];
  const bool resolved = ResolveFullPath(GetParam().path.c_str(), out);
  if (GetParam().expected.empty()) {
    EXPECT_FALSE(resolved);
  } else {
    ASSERT_TRUE(resolved);
    EXPECT_EQ(std::string(out), GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ResolveFullPathCases,
    ::testing::Values(ResolveCase{"/", "/"}, ResolveCase{"/docs", "/docs"},
                      ResolveCase{"/docs/", "/docs"},
                      ResolveCase{"//docs///guide//", "/docs/guide"},
                      ResolveCase{"/docs/./guide/.", "/docs/guide"},
                      ResolveCase{"/docs/old/../guide", "/docs/guide"},
                      ResolveCase{"/docs/..", "/"},
                      ResolveCase{"/../..", "/"},
                      ResolveCase{"/a/b/c/../../d", "/a/d"},
                      ResolveCase{"/" + std::string(254, 'x'),
                                  "/" + std::string(254, 'x')},
                      ResolveCase{"/" + std::string(255, 'x'), ""},
                      ResolveCase{"/" + std::string(300, 'x') + "/..", ""},
                      ResolveCase{"", ""}));

TEST(Paths, RelativePathStartsFromTheCurrentDirectory) {
  char current[4096];
  ASSERT_NE(getcwd(current, sizeof current), nullptr);
  char out[kPathBufferSize];
  ASSERT_TRUE(ResolveFullPath("sub/./x/..", out));
  const std::string base = std::string(current) == "/" ? "" : current;
  EXPECT_EQ(std::string(out), base + "/sub");
}

TEST(Paths, JoinAddsOneSeparatorExceptAfterTheTop) {
  char out[kPathBufferSize];
  ASSERT_TRUE(JoinPath("/", "a.htm", out, sizeof out));
  EXPECT_STREQ(out, "/a.htm");
  ASSERT_TRUE(JoinPath("/docs", "a.htm", out, sizeof out));
  EXPECT_STREQ(out, "/docs/a.htm");
}

TEST(Paths, JoinFailsWhenTheResultWouldNotFit) {
  char out[kPathBufferSize];
  const std::string directory = "/" + std::string(250, 'd');  // 251 chars
  EXPECT_TRUE(JoinPath(directory.c_str(), "abc", out, sizeof out));  // 255
  EXPECT_EQ(std::string(out).size(), 255u);
  EXPECT_FALSE(JoinPath(directory.c_str(), "abcd", out, sizeof out));  // 256
}

// Whole components: a sibling whose name starts with the ancestor's is not
// below it, and the top of the file system holds everything.
TEST(Paths, SameOrBelowComparesWholeComponents) {
  struct Case {
    const char* ancestor;
    const char* path;
    bool below;
  };
  for (const Case& c : {Case{"/srv/site", "/srv/site", true},
                        Case{"/srv/site", "/srv/site/a.htm", true},
                        Case{"/srv/site", "/srv/site/sub/a.htm", true},
                        Case{"/srv/site", "/srv/site2/a.htm", false},
                        Case{"/srv/site", "/srv/sit", false},
                        Case{"/srv/site", "/srv", false},
                        Case{"/srv/site", "/etc/passwd", false},
                        Case{"/", "/etc/passwd", true},
                        Case{"", "/etc/passwd", false}}) {
    EXPECT_EQ(IsSameOrBelow(c.ancestor, c.path), c.below)
        << c.ancestor << " and " << c.path;
  }
}

}  // namespace
}  // namespace tavik
