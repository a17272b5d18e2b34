// The head tavik-serve writes around the extension's own header text.
#include "host/serve/response_head.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/serve/simple_page.h"
#include "testing/fake_exchange.h"

namespace tavik::testing {
namespace {

TEST(StatusCode, TellsWhichStatusesCarryABody) {
  EXPECT_TRUE(StatusAllowsBody(200));
  EXPECT_TRUE(StatusAllowsBody(404));
  EXPECT_FALSE(StatusAllowsBody(101));
  EXPECT_FALSE(StatusAllowsBody(204));
  EXPECT_FALSE(StatusAllowsBody(304));
}

TEST(HttpDate, IsTheImfFixdate) {
  EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  // 1994-11-06 08:49:37 UTC, the example of the HTTP standard.
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(ResponseHead, PutsTheServersFieldsBeforeTheExtensions) {
  std::string out;
  AppendResponseHead("200 OK", {"Content-Type: text/html"},
                     BodyFraming::kChunked, true, 784111777, &out);
  EXPECT_EQ(out,
            "HTTP/1.1 200 OK\r\n"
            "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Server: tavik-serve/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Type: text/html\r\n"
            "Transfer-Encoding: chunked\r\n"
            "\r\n");
  out.clear();
  AppendResponseHead("404 Gone Fishing", {}, BodyFraming::kUntilClose, false, 0,
                     &out);
  EXPECT_EQ(out,
            "HTTP/1.1 404 Gone Fishing\r\n"
            "Date: Thu, 01 Jan 1970 00:00:00 GMT\r\n"
            "Server: tavik-serve/1.0\r\n"
            "Connection: close\r\n"
            "\r\n");
}

TEST(Chunk, IsTheSizeInHexThenTheBytes) {
  std::string out;
  AppendChunk("hello", 5, &out);
  EXPECT_EQ(out, "5\r\nhello\r\n");
  const std::string big(300, 'x');
  out.clear();
  AppendChunk(big.data(), big.size(), &out);
  EXPECT_EQ(out, "12c\r\n" + big + "\r\n");
  // Bytes that look like framing are carried as they are.
  out.clear();
  AppendChunk("0\r\n\r\n", 5, &out);
  std::string body;
  ASSERT_TRUE(Dechunk(out + std::string(kLastChunk), &body));
  EXPECT_EQ(body, "0\r\n\r\n");
}

TEST(SimpleResponse, IsFramedByItsLengthAndEscapesItsMessage) {
  size_t body_bytes = 0;
  const std::string response = SimpleResponse(
      {"403 Forbidden", "No <way>", "X-A: b", true, false}, 0, &body_bytes);
  const ParsedResponse parsed = ParseResponse(response);
  EXPECT_EQ(parsed.status_line, "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(parsed.Field("Content-Type"), "text/html");
  EXPECT_EQ(parsed.Field("X-A"), "b");
  EXPECT_EQ(parsed.Field("Connection"), "keep-alive");
  EXPECT_EQ(parsed.Field("Content-Length"),
            std::to_string(parsed.raw_body.size()));
  EXPECT_EQ(body_bytes, parsed.raw_body.size());
  EXPECT_NE(parsed.raw_body.find("No &lt;way&gt;"), std::string::npos);

  const std::string head_only = SimpleResponse(
      {"403 Forbidden", "No <way>", "", false, true}, 0, &body_bytes);
  EXPECT_EQ(body_bytes, 0u);
  const ParsedResponse head = ParseResponse(head_only);
  EXPECT_TRUE(head.raw_body.empty());
  EXPECT_EQ(head.Field("Content-Length"), parsed.Field("Content-Length"));
  EXPECT_EQ(head.Field("Connection"), "close");
}

// The server's own pages escape with the extension's character set, the
// single quote included, so that neither can be told apart by its escaping.
TEST(SimpleResponse, EscapesTheFiveMarkupCharactersAsTheExtensionDoes) {
  size_t body_bytes = 0;
  const std::string response = SimpleResponse(
      {"400 Bad Request", "a&b \"c\" 'd' <e>", "", false, false}, 0,
      &body_bytes);
  EXPECT_NE(ParseResponse(response).raw_body.find(
                "<p>a&amp;b &quot;c&quot; &#39;d&#39; &lt;e&gt;</p>"),
            std::string::npos);
}

}  // namespace
}  // namespace tavik::testing
