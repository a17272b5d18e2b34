#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"

namespace tavik {
namespace {

TEST(WindowsPaths, ResolveGivesTheDriveForm) {
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"C:\\docs", "C:\\docs"},
      {"C:\\docs\\", "C:\\docs"},
      {"C:/docs/guide/", "C:\\docs\\guide"},
      {"C:\\docs\\.\\old\\..\\guide", "C:\\docs\\guide"},
      {"C:\\", "C:\\"},
      {"C:/", "C:\\"},
      {"C:\\..", "C:\\"},
  };
  for (const auto& c : cases) {
    char out[kPathBufferSize];
    ASSERT_TRUE(ResolveFullPath(c.path, out)) << c.path;
    EXPECT_STREQ(out, c.expected) << c.path;
  }
  char out[kPathBufferSize];
  EXPECT_FALSE(ResolveFullPath("", out));
  EXPECT_FALSE(ResolveFullPath(("C:\\" + std::string(260, 'x')).c_str(), out));
}

TEST(WindowsPaths, RootWithoutDriveStaysOnTheCurrentDrive) {
  char out[kPathBufferSize];
  ASSERT_TRUE(ResolveFullPath("/docs//guide", out));
  EXPECT_EQ(out[1], ':');
  EXPECT_STREQ(out + 2, "\\docs\\guide");
}

TEST(WindowsPaths, JoinAddsABackslashExceptAfterTheTop) {
  char out[kPathBufferSize];
  ASSERT_TRUE(JoinPath("C:\\", "a.htm", out, sizeof out));
  EXPECT_STREQ(out, "C:\\a.htm");
  ASSERT_TRUE(JoinPath("C:\\docs", "a.htm", out, sizeof out));
  EXPECT_STREQ(out, "C:\\docs\\a.htm");
  EXPECT_FALSE(JoinPath("C:\\docs", std::string(250, 'x').c_str(), out,
                        sizeof out));
}

}  // namespace
}  // namespace tavik
