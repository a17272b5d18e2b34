// The static files tavik-serve sends itself: files, folders and their
// index pages, and what it refuses.
#include "host/serve/static_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "testing/fake_exchange.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

TEST(ContentTypeOf, GoesByTheExtensionWithoutCase) {
  const std::pair<const char*, const char*> kCases[] = {
      {"/a/content.htm", "text/html"},
      {"/A.HTML", "text/html"},
      {"/s.Css", "text/css"},
      {"/opensearch.xml", "application/xml"},
      {"/p.jpeg", "image/jpeg"},
      {"/big.bin", "application/octet-stream"},
      {"/README", "application/octet-stream"},
      {"/folder.htm/README", "application/octet-stream"},
      {"/trailing.", "application/octet-stream"},
      {"/x.htmx", "application/octet-stream"},
  };
  for (const auto& [name, type] : kCases) {
    EXPECT_EQ(ContentTypeOf(name), type) << name;
  }
}

TEST(EncodeUrlPath, KeepsOnlyUnreservedBytesAndSlashes) {
  EXPECT_EQ(EncodeUrlPath("/a b/\xc3\xbc%?#\"<.-_~"),
            "/a%20b/%C3%BC%25%3F%23%22%3C.-_~");
}

class StaticFile : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("outside/secret.htm", "secret");
    tree_.Write("site/content.htm", "<html>top</html>");
    tree_.Write("site/guide/index.htm", "guide index");
    tree_.Write("site/guide/content.htm", "not this one");
    tree_.Write("site/empty/x.txt", "x");
    tree_.Link("site/leaky/index.html", tree_.Path("outside/secret.htm"));
    tree_.Write("site/leaky/content.htm", "leaky content");
    big_.resize(200 * 1024 + 17);
    for (size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>(i);
    tree_.Write("site/big.bin", big_);
    char* real = realpath(tree_.Path("site").c_str(), nullptr);
    root_ = real;
    free(real);
  }

  // Sends `path` (below the site) for a request for `url`.
  ParsedResponse Send(const char* method, const std::string& url,
                      const std::string& path, FakeConnection* connection,
                      RouteOutcome* outcome = nullptr, const char* query = "") {
    FakeRequest request(method, url);
    request.Query(query);
    const RouteOutcome sent =
        SendStaticFile(root_, request.facts(), root_ + path, connection);
    if (outcome != nullptr) *outcome = sent;
    return ParseResponse(connection->written());
  }

  TempTree tree_;
  std::string root_;
  std::string big_;
};

TEST_F(StaticFile, AFileGoesWithItsTypeLengthAndTime) {
  FakeConnection connection;
  RouteOutcome outcome;
  const ParsedResponse response =
      Send("GET", "/content.htm", "/content.htm", &connection, &outcome);
  EXPECT_EQ(response.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(response.Field("Content-Type"), "text/html");
  EXPECT_EQ(response.Field("Content-Length"), "16");
  EXPECT_EQ(response.Field("Connection"), "keep-alive");
  EXPECT_TRUE(response.HasField("Last-Modified"));
  EXPECT_EQ(response.raw_body, "<html>top</html>");
  EXPECT_EQ(outcome.status_code, 200);
  EXPECT_EQ(outcome.body_bytes, 16u);
  EXPECT_FALSE(connection.closes());
}

TEST_F(StaticFile, ALargeFileGoesWholeAndHeadSendsOnlyTheHead) {
  FakeConnection connection;
  RouteOutcome outcome;
  EXPECT_EQ(Send("GET", "/big.bin", "/big.bin", &connection, &outcome).raw_body,
            big_);
  EXPECT_EQ(outcome.body_bytes, big_.size());

  FakeConnection head;
  const ParsedResponse response =
      Send("HEAD", "/big.bin", "/big.bin", &head, &outcome);
  EXPECT_EQ(response.Field("Content-Length"), std::to_string(big_.size()));
  EXPECT_EQ(response.raw_body, "");
  EXPECT_EQ(outcome.body_bytes, 0u);
}

TEST_F(StaticFile, FoldersAnswerWithTheirIndexOrRedirectOrRefuse) {
  struct Case {
    const char* url;
    const char* path;
    const char* status_line;
    const char* location;  // the Location field, or the body for 200
  };
  const Case kCases[] = {
      {"/guide", "/guide", "HTTP/1.1 301 Moved Permanently", "/guide/?a=1"},
      {"/a b", "/guide", "HTTP/1.1 301 Moved Permanently", "/a%20b/?a=1"},
      {"/guide/", "/guide", "HTTP/1.1 200 OK", "guide index"},
      {"/", "", "HTTP/1.1 200 OK", "<html>top</html>"},
      // Its index.html leads out of the site: the next page is taken.
      {"/leaky/", "/leaky", "HTTP/1.1 200 OK", "leaky content"},
      {"/empty/", "/empty", "HTTP/1.1 403 Forbidden", nullptr},
      {"/missing.htm", "/missing.htm", "HTTP/1.1 404 Not Found", nullptr},
      {"/content.htm/x", "/content.htm/x", "HTTP/1.1 404 Not Found", nullptr},
  };
  for (const Case& item : kCases) {
    FakeConnection connection;
    const ParsedResponse response =
        Send("GET", item.url, item.path, &connection, nullptr, "a=1");
    EXPECT_EQ(response.status_line, item.status_line) << item.url;
    if (item.location == nullptr) continue;
    if (response.status_line.find(" 301 ") != std::string::npos) {
      EXPECT_EQ(response.Field("Location"), item.location) << item.url;
    } else {
      EXPECT_EQ(response.raw_body, item.location) << item.url;
    }
  }
}

TEST_F(StaticFile, AFifoIsRefusedWithoutWaitingOnIt) {
  ASSERT_EQ(mkfifo(tree_.Path("site/pipe.htm").c_str(), 0600), 0);
  FakeConnection connection;
  EXPECT_EQ(Send("GET", "/pipe.htm", "/pipe.htm", &connection).status_line,
            "HTTP/1.1 403 Forbidden");
}

TEST_F(StaticFile, ALinkPutInPlaceOfTheJudgedFileIsNotFollowed) {
  tree_.Link("site/swapped.htm", tree_.Path("outside/secret.htm"));
  FakeConnection connection;
  const ParsedResponse response =
      Send("GET", "/swapped.htm", "/swapped.htm", &connection);
  EXPECT_EQ(response.status_line, "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(connection.written().find("secret"), std::string::npos);
}

TEST_F(StaticFile, TheConnectionClosesAfterABodyOrALostClient) {
  FakeRequest with_body("GET", "/content.htm");
  with_body.WithContentLength(4);
  FakeConnection unread("abcd");
  SendStaticFile(root_, with_body.facts(), root_ + "/content.htm", &unread);
  EXPECT_EQ(ParseResponse(unread.written()).Field("Connection"), "close");
  EXPECT_TRUE(unread.closes());
  EXPECT_EQ(unread.body_bytes_read(), 0u);

  FakeConnection gone;
  gone.Disconnect();
  RouteOutcome outcome;
  Send("GET", "/big.bin", "/big.bin", &gone, &outcome);
  EXPECT_TRUE(gone.closes());
  EXPECT_EQ(outcome.body_bytes, 0u);
}

}  // namespace
}  // namespace tavik::testing
