#include "platform/pattern_match.h"

#include <gtest/gtest.h>

namespace tavik {
namespace {

TEST(PatternMatch, DocumentPatternMatchesAsTheWindowsListingDoes) {
  const struct {
    const char* name;
    bool matches;
  } cases[] = {
      {"a.htm", true},      {"A.HTM", true},      {"guide.Htm", true},
      {"a.html", true},     {".htm", true},       {".hidden.htm", true},
      {"a.b.htm", true},    {"a.htm.bak", false}, {"notes.txt", false},
      {"htm", false},       {"a.ht", false},      {"a.htx", false},
      {"a.", false},        {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameMatchesPattern(c.name, "*.htm"), c.matches) << c.name;
  }
}

TEST(PatternMatch, EveryEntryPatternMatchesEverything) {
  for (const char* name : {"a", ".", "..", "a.htm", "noext", ".hidden"}) {
    EXPECT_TRUE(NameMatchesPattern(name, "*.*")) << name;
    EXPECT_TRUE(NameMatchesPattern(name, "*")) << name;
  }
}

}  // namespace
}  // namespace tavik
