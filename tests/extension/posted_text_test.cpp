// The posted bytes as the extension reads them, through its static library.
#include "extension/posted_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tavik {
namespace {

// The posted bytes become text: up to a NUL, at most 1,023 of them.
TEST(PostedText, IsCutAtItsLimitAndAtNul) {
  const struct {
    std::string posted;
    DWORD available;
    std::string expected;
  } cases[] = {
      {"q=abc", 5, "q=abc"},
      {"q=abc", 3, "q=a"},
      {std::string("q=a\0bc", 6), 6, "q=a"},
      {std::string(1500, 'x'), 1500, std::string(1023, 'x')},
      {"", 0, ""},
  };
  for (const auto& c : cases) {
    std::string data = c.posted;
    EXTENSION_CONTROL_BLOCK block{};
    block.lpbData = reinterpret_cast<LPBYTE>(data.data());
    block.cbAvailable = c.available;
    char body[kBodySize];
    std::memset(body, 'Z', sizeof body);
    CopyPostedText(&block, body);
    EXPECT_EQ(std::string(body), c.expected);
  }
  EXTENSION_CONTROL_BLOCK no_data{};
  no_data.cbAvailable = 10;
  char body[kBodySize] = "junk";
  CopyPostedText(&no_data, body);
  EXPECT_STREQ(body, "");
}

}  // namespace
}  // namespace tavik
