// Which requests reach the extension, which the file server, and which are
// refused first.
#include "host/serve/request_router.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/fake_exchange.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

int extension_calls = 0;
std::string last_path_info;
DWORD TAVIK_CALLBACK CountingExtension(EXTENSION_CONTROL_BLOCK* block) {
  ++extension_calls;
  last_path_info = block->lpszPathInfo;
  block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
                               const_cast<char*>("200 OK"), nullptr, nullptr);
  return HSE_STATUS_SUCCESS;
}

class Router : public ::testing::Test {
 protected:
  void SetUp() override {
    extension_calls = 0;
    last_path_info.clear();
    tree_.Write("site/content.htm", "x");
    tree_.Write("site/guide/intro.htm", "x");
    tree_.Write("outside/secret.htm", "x");
    tree_.Link("site/escape", tree_.Path("outside"));
    char* real = realpath(tree_.Path("site").c_str(), nullptr);
    config_.document_root = real;
    free(real);
    config_.mount = "/search";
    config_.extension = CountingExtension;
  }

  RouteOutcome Route(FakeRequest& request, FakeConnection& connection) {
    return RouteRequest(config_, request.facts(), &connection);
  }

  // The status line of a request with no body.
  std::string StatusOf(const char* method, const char* path) {
    FakeRequest request(method, path);
    FakeConnection connection;
    const RouteOutcome outcome = Route(request, connection);
    if (!outcome.answered) return "static";
    return ParseResponse(connection.written()).status_line;
  }

  TempTree tree_;
  RouterConfig config_;
};

TEST_F(Router, TheMountAndBelowRunTheExtension) {
  EXPECT_EQ(StatusOf("POST", "/search"), "HTTP/1.1 200 OK");
  EXPECT_EQ(last_path_info, config_.document_root);
  EXPECT_EQ(StatusOf("GET", "/search/guide/"), "HTTP/1.1 200 OK");
  EXPECT_EQ(last_path_info, config_.document_root + "/guide");
  EXPECT_EQ(StatusOf("HEAD", "/search/guide/../guide"), "HTTP/1.1 200 OK");
  EXPECT_EQ(last_path_info, config_.document_root + "/guide");
  EXPECT_EQ(StatusOf("GET", "/search/missing"), "HTTP/1.1 200 OK");
  EXPECT_EQ(extension_calls, 4);
}

TEST_F(Router, EscapesAreForbiddenWithoutCallingTheExtension) {
  for (const char* path :
       {"/search/..", "/search/../site", "/search/guide/../../x",
        "/search/escape", "/search/escape/", "/search/guide/../escape"}) {
    EXPECT_EQ(StatusOf("GET", path), "HTTP/1.1 403 Forbidden") << path;
  }
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, OtherPathsAreStaticFilesInsideTheRoot) {
  EXPECT_EQ(StatusOf("GET", "/content.htm"), "static");
  EXPECT_EQ(StatusOf("HEAD", "/guide/intro.htm"), "static");
  EXPECT_EQ(StatusOf("GET", "/searchx"), "static");
  EXPECT_EQ(StatusOf("GET", "/missing.htm"), "static");
  EXPECT_EQ(StatusOf("GET", "/escape/secret.htm"), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(StatusOf("GET", "/../outside/secret.htm"),
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, AStaticFileIsGivenWithItsLinksResolved) {
  tree_.Link("site/alias.htm", tree_.Path("site/guide/intro.htm"));
  FakeRequest request("GET", "/alias.htm");
  FakeConnection connection;
  const RouteOutcome outcome = Route(request, connection);
  EXPECT_FALSE(outcome.answered);
  EXPECT_EQ(outcome.static_file, config_.document_root + "/guide/intro.htm");
  EXPECT_EQ(connection.written(), "");
}

// A NUL would cut the path short wherever it is read as text: "/search/%00"
// would search the whole site, "/content.htm%00.txt" send content.htm.
TEST_F(Router, APathWithANulGets400) {
  using namespace std::string_literals;
  for (const std::string& path :
       {"/search/\0"s, "/search\0"s, "/search/guide\0/x"s,
        "/content.htm\0.txt"s, "/\0"s}) {
    for (const char* method : {"GET", "POST"}) {
      FakeRequest request(method, path);
      FakeConnection connection;
      const RouteOutcome outcome = Route(request, connection);
      EXPECT_TRUE(outcome.answered) << method << " " << path.size();
      EXPECT_EQ(ParseResponse(connection.written()).status_line,
                "HTTP/1.1 400 Bad Request")
          << method << " " << path.size();
    }
  }
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, MethodsOutsideTheirPlaceGet405) {
  FakeRequest put("PUT", "/search");
  FakeConnection connection;
  Route(put, connection);
  ParsedResponse response = ParseResponse(connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(response.Field("Allow"), "GET, HEAD, POST");

  FakeRequest post("POST", "/content.htm");
  post.WithContentLength(3);
  FakeConnection static_connection("q=x");
  Route(post, static_connection);
  response = ParseResponse(static_connection.written());
  EXPECT_EQ(response.status_line, "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(response.Field("Allow"), "GET, HEAD");
  // Its body is not read: the connection ends instead.
  EXPECT_TRUE(static_connection.closes());
  EXPECT_EQ(static_connection.body_bytes_read(), 0u);
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, ABodyOverTheLimitGets413Unread) {
  FakeRequest request("POST", "/search");
  request.WithContentLength(static_cast<int64_t>(kMaxBodyBytes) + 1);
  FakeConnection connection("q=");
  const RouteOutcome outcome = Route(request, connection);
  EXPECT_EQ(outcome.status_code, 413);
  EXPECT_EQ(ParseResponse(connection.written()).Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
  EXPECT_EQ(connection.body_bytes_read(), 0u);
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, ABodyOfExactlyTheLimitIsTaken) {
  const std::string posted(kMaxBodyBytes, 'a');
  FakeRequest request("POST", "/search");
  request.WithContentLength(static_cast<int64_t>(posted.size()));
  FakeConnection connection(posted);
  EXPECT_EQ(Route(request, connection).status_code, 200);
  EXPECT_EQ(connection.body_bytes_read(), posted.size());
  EXPECT_FALSE(connection.closes());
}

TEST_F(Router, AChunkedBodyOverTheLimitEndsTheConnection) {
  const std::string posted(kMaxBodyBytes + 10, 'a');
  FakeRequest request("POST", "/search");
  request.Header("Transfer-Encoding", "chunked");
  FakeConnection connection(posted);
  EXPECT_EQ(Route(request, connection).status_code, 200);
  EXPECT_TRUE(connection.closes());
}

// A proxy in front could read such a body another way and take part of it
// for the next request: the request is refused unread and its connection
// ends, on the mount and off it.
TEST_F(Router, AnAmbiguousBodyLengthGets400AndTheConnectionEnds) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  const std::pair<const char*, Fields> kCases[] = {
      {"two lengths", {{"Content-Length", "3"}, {"Content-Length", "8"}}},
      {"a length beside chunks",
       {{"Content-Length", "3"}, {"Transfer-Encoding", "chunked"}}},
      {"chunks beside a length",
       {{"transfer-encoding", "chunked"}, {"content-length", "0"}}},
      {"a list", {{"Content-Length", "8, 8"}}},
      {"a sign", {{"Content-Length", "+8"}}},
      {"no digits", {{"Content-Length", ""}}},
  };
  for (const char* path : {"/search", "/content.htm"}) {
    for (const auto& [name, fields] : kCases) {
      FakeRequest request("POST", path);
      for (const auto& [field, value] : fields) request.Header(field, value);
      FakeConnection connection("q=quokka GET /x HTTP/1.1\r\n\r\n");
      const RouteOutcome outcome = Route(request, connection);
      const ParsedResponse response = ParseResponse(connection.written());
      EXPECT_EQ(outcome.status_code, 400) << path << ": " << name;
      EXPECT_EQ(response.Field("Connection"), "close") << path << ": " << name;
      EXPECT_TRUE(connection.closes()) << path << ": " << name;
      EXPECT_EQ(connection.body_bytes_read(), 0u) << path << ": " << name;
    }
  }
  // A body of length 0 keeps the connection of a refused request open; a
  // second length must not.
  FakeRequest request("GET", "/content.htm");
  request.Header("Content-Length", "0").Header("Content-Length", "20");
  FakeConnection connection;
  EXPECT_EQ(Route(request, connection).status_code, 400);
  EXPECT_TRUE(connection.closes());
  EXPECT_EQ(extension_calls, 0);
}

TEST_F(Router, ARepeatedLengthIsOneLength) {
  FakeRequest request("POST", "/search");
  request.WithContentLength(3).Header("Content-Length", " 3 ");
  FakeConnection connection("q=x");
  EXPECT_EQ(Route(request, connection).status_code, 200);
  EXPECT_FALSE(connection.closes());
  EXPECT_EQ(extension_calls, 1);
}

TEST_F(Router, AFullServerClosesTheConnectionAfterARefusal) {
  FakeRequest request("GET", "/search/..");
  request.ServerCloses();
  FakeConnection connection;
  EXPECT_EQ(Route(request, connection).status_code, 403);
  EXPECT_EQ(ParseResponse(connection.written()).Field("Connection"), "close");
  EXPECT_TRUE(connection.closes());
}

TEST_F(Router, ContinueIsSentBeforeTheBodyIsRead) {
  FakeRequest request("POST", "/search");
  request.WithContentLength(3).Header("Expect", "100-Continue");
  FakeConnection connection("q=x");
  Route(request, connection);
  ASSERT_GE(connection.writes().size(), 2u);
  EXPECT_EQ(connection.writes()[0], "HTTP/1.1 100 Continue\r\n\r\n");
  EXPECT_EQ(extension_calls, 1);

  FakeRequest too_large("POST", "/search");
  too_large.WithContentLength(static_cast<int64_t>(kMaxBodyBytes) + 1)
      .Header("Expect", "100-continue");
  FakeConnection refused;
  Route(too_large, refused);
  EXPECT_EQ(ParseResponse(refused.written()).status_line,
            "HTTP/1.1 413 Content Too Large");

  FakeRequest unknown("POST", "/search");
  unknown.WithContentLength(3).Header("Expect", "something-else");
  FakeConnection failed("q=x");
  Route(unknown, failed);
  EXPECT_EQ(ParseResponse(failed.written()).status_line,
            "HTTP/1.1 417 Expectation Failed");
  EXPECT_EQ(extension_calls, 1);
}

}  // namespace
}  // namespace tavik::testing
