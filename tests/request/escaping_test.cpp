#include "request/escaping.h"

#include <gtest/gtest.h>

#include <string>

namespace tavik {
namespace {

std::string Escaped(std::string_view text, size_t size = 1024) {
  std::string out(size, 'Z');
  HtmlEscape(text, out.data(), size);
  return out.c_str();
}

std::string Encoded(std::string_view text, size_t size = 1024) {
  std::string out(size, 'Z');
  PercentEncodeLink(text, out.data(), size);
  return out.c_str();
}

TEST(HtmlEscape, ReplacesTheFiveMarkupCharacters) {
  EXPECT_EQ(Escaped("<b>x"), "&lt;b&gt;x");
  EXPECT_EQ(Escaped("a&b \"c\" 'd'"), "a&amp;b &quot;c&quot; &#39;d&#39;");
  EXPECT_EQ(Escaped("plain /guide/intro.htm \xe9"), "plain /guide/intro.htm \xe9");
  EXPECT_EQ(Escaped(""), "");
}

TEST(HtmlEscape, CutsAtTheBufferWithoutOverrun) {
  EXPECT_EQ(Escaped("<<", 7), "&lt;&l");
  EXPECT_EQ(Escaped("abc", 1), "");
}

TEST(PercentEncodeLink, KeepsSafeBytesAndEncodesTheRest) {
  EXPECT_EQ(Encoded("/guide/intro-2_x.htm"), "/guide/intro-2_x.htm");
  EXPECT_EQ(Encoded("~!$()*+,;:@"), "~!$()*+,;:@");
  EXPECT_EQ(Encoded("/a b.htm"), "/a%20b.htm");
  EXPECT_EQ(Encoded("x<y>\"'&=?#%.htm"), "x%3Cy%3E%22%27%26%3D%3F%23%25.htm");
  EXPECT_EQ(Encoded("\xe9\x01\x7f"), "%E9%01%7F");
  EXPECT_EQ(Encoded("  ", 5), "%20%");
}

}  // namespace
}  // namespace tavik
