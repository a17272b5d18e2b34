// The status and header text an extension hands its host, read by the
// rules every host shares.
#include "host/extension_head.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tavik::testing {
namespace {

TEST(ExtensionHead, SplitsTheSearchPagesHeadText) {
  const std::string text =
      "Content-Type: text/html\r\n\r\n"
      "<head><title>Search Results</title></head>\n\n\r<body>";
  ExtensionHead head;
  ASSERT_TRUE(ParseExtensionHead(text, &head));
  EXPECT_EQ(head.fields,
            std::vector<std::string_view>{"Content-Type: text/html"});
  EXPECT_EQ(head.body_start,
            "<head><title>Search Results</title></head>\n\n\r<body>");
  EXPECT_FALSE(head.content_length.has_value());
}

TEST(ExtensionHead, AcceptsBareLineFeedsAndNoEmptyLine) {
  ExtensionHead head;
  ASSERT_TRUE(ParseExtensionHead("A: 1\nB: 2\n\nbody\r\n\r\n", &head));
  EXPECT_EQ(head.fields, (std::vector<std::string_view>{"A: 1", "B: 2"}));
  EXPECT_EQ(head.body_start, "body\r\n\r\n");

  // Without the empty line it is all fields: the body comes later.
  ASSERT_TRUE(ParseExtensionHead("A: 1\r\nB: 2\r\n", &head));
  EXPECT_EQ(head.fields.size(), 2u);
  EXPECT_TRUE(head.body_start.empty());
  ASSERT_TRUE(ParseExtensionHead("", &head));
  EXPECT_TRUE(head.fields.empty());
}

TEST(ExtensionHead, DropsTheFieldsTheServerWritesItself) {
  ExtensionHead head;
  ASSERT_TRUE(ParseExtensionHead(
      "connection: close\r\nTransfer-Encoding: chunked\r\nDate: x\r\n"
      "Server: other\r\nKeep-Alive: 5\r\nX-Kept: yes\r\n\r\n",
      &head));
  EXPECT_EQ(head.fields, std::vector<std::string_view>{"X-Kept: yes"});
}

TEST(ExtensionHead, ReadsTheContentLength) {
  ExtensionHead head;
  ASSERT_TRUE(ParseExtensionHead("Content-Length: 12\r\n\r\n", &head));
  EXPECT_EQ(head.content_length, 12u);
  ASSERT_TRUE(ParseExtensionHead(
      "Content-Length: 3\r\ncontent-length:3\r\n\r\n", &head));
  EXPECT_EQ(head.content_length, 3u);
}

TEST(ExtensionHead, RefusesMalformedText) {
  const char* const kBad[] = {
      "no colon here\r\n\r\n",
      ": empty name\r\n\r\n",
      "Bad Name: x\r\n\r\n",
      "Folded: a\r\n continued\r\n\r\n",
      "X: a\x01z\r\n\r\n",
      "Content-Length: 1x\r\n\r\n",
      "Content-Length: -1\r\n\r\n",
      "Content-Length: \r\n\r\n",
      "Content-Length: 99999999999999999999999\r\n\r\n",
      "Content-Length: 3\r\nContent-Length: 4\r\n\r\n",
  };
  for (const char* text : kBad) {
    ExtensionHead head;
    EXPECT_FALSE(ParseExtensionHead(text, &head)) << text;
  }
}

TEST(ExtensionHead, SplitsAFieldIntoItsNameAndValue) {
  ExtensionHead head;
  ASSERT_TRUE(ParseExtensionHead(
      "Content-Type:text/html\r\nX-A:  spaced value\t\r\nX-B:\r\n\r\n", &head));
  const std::pair<std::string_view, std::string_view> kFields[] = {
      {"Content-Type", "text/html"}, {"X-A", "spaced value"}, {"X-B", ""}};
  ASSERT_EQ(head.fields.size(), std::size(kFields));
  for (size_t i = 0; i < head.fields.size(); ++i) {
    const HeaderField field = SplitHeaderField(head.fields[i]);
    EXPECT_EQ(field.name, kFields[i].first);
    EXPECT_EQ(field.value, kFields[i].second);
  }
}

TEST(StatusCode, TakesThreeDigitsAndAPrintableReason) {
  const std::pair<const char*, int> kCases[] = {
      {"200 OK", 200},
      {"404", 404},
      {"599 Whatever it says", 599},
      {"100 Continue", 100},
      {"", 0},
      {"20 OK", 0},
      {"099 Low", 0},
      {"600 High", 0},
      {"200OK", 0},
      {"2x0 OK", 0},
      {"200 OK\r\nX-Injected: 1", 0},
      {"200 OK\n", 0},
      {"200 O\tK", 0},
  };
  for (const auto& [status, code] : kCases) {
    EXPECT_EQ(ParseStatusCode(status), code) << status;
  }
}

}  // namespace
}  // namespace tavik::testing
