// The server variables an extension can ask for.
#include "host/serve/server_variables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/fake_exchange.h"

namespace tavik::testing {
namespace {

class ServerVariables : public ::testing::Test {
 protected:
  ServerVariables() : request_("POST", "/search/guide") {
    request_.Header("Host", "example.org:8080")
        .Header("Content-Type", "application/x-www-form-urlencoded")
        .Header("User-Agent", "test agent")
        .Header("Accept", "text/html")
        .Header("accept", "*/*")
        .WithContentLength(7)
        .Query("a=1&b=%41");
    source_.request = &request_.facts();
    source_.script_name = "/search";
    source_.path_info = "/srv/site/guide";
    source_.path_translated = "/real/site/guide";
    source_.default_server_name = "127.0.0.1";
  }

  std::optional<std::string> Get(const char* name) {
    return LookUpServerVariable(source_, name);
  }

  FakeRequest request_;
  ServerVariableSource source_;
};

TEST_F(ServerVariables, AnswerTheUsualNames) {
  const std::pair<const char*, const char*> kCases[] = {
      {"REQUEST_METHOD", "POST"},
      {"QUERY_STRING", "a=1&b=%41"},
      {"URL", "/search/guide"},
      {"PATH_INFO", "/srv/site/guide"},
      {"PATH_TRANSLATED", "/real/site/guide"},
      {"CONTENT_LENGTH", "7"},
      {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
      {"SCRIPT_NAME", "/search"},
      {"SERVER_NAME", "example.org"},
      {"SERVER_PORT", "8080"},
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"SERVER_SOFTWARE", "tavik-serve/1.0"},
      {"GATEWAY_INTERFACE", "CGI/1.1"},
      {"HTTPS", "off"},
      {"REMOTE_ADDR", "127.0.0.1"},
      {"REMOTE_HOST", "127.0.0.1"},
      {"REMOTE_PORT", "40000"},
      {"HTTP_USER_AGENT", "test agent"},
      {"HTTP_HOST", "example.org:8080"},
      {"HTTP_ACCEPT", "text/html, */*"},
  };
  for (const auto& [name, value] : kCases) {
    EXPECT_EQ(Get(name), std::optional<std::string>(value)) << name;
  }
}

TEST_F(ServerVariables, AllHttpListsEveryField) {
  EXPECT_EQ(Get("ALL_HTTP"),
            "HTTP_HOST:example.org:8080\n"
            "HTTP_CONTENT_TYPE:application/x-www-form-urlencoded\n"
            "HTTP_USER_AGENT:test agent\n"
            "HTTP_ACCEPT:text/html\n"
            "HTTP_ACCEPT:*/*\n"
            "HTTP_CONTENT_LENGTH:7\n");
}

TEST_F(ServerVariables, UnknownNamesHaveNoValue) {
  for (const char* name :
       {"NO_SUCH_VARIABLE", "HTTP_", "HTTP_X_MISSING", "request_method", ""}) {
    EXPECT_EQ(Get(name), std::nullopt) << name;
  }
}

TEST(ServerVariableDefaults, WithoutHostOrBody) {
  FakeRequest request("GET", "/search", "1.0");
  ServerVariableSource source;
  source.request = &request.facts();
  source.default_server_name = "10.0.0.1";
  EXPECT_EQ(LookUpServerVariable(source, "SERVER_NAME"), "10.0.0.1");
  EXPECT_EQ(LookUpServerVariable(source, "CONTENT_LENGTH"), "0");
  EXPECT_EQ(LookUpServerVariable(source, "CONTENT_TYPE"), "");
  EXPECT_EQ(LookUpServerVariable(source, "SERVER_PROTOCOL"), "HTTP/1.0");

  FakeRequest bracketed("GET", "/");
  bracketed.Header("Host", "[::1]:8080");
  source.request = &bracketed.facts();
  EXPECT_EQ(LookUpServerVariable(source, "SERVER_NAME"), "[::1]");
}

TEST(CopyVariableValue, CopiesWithItsNulOrTellsTheSizeNeeded) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  uint32_t size = sizeof buffer;
  ASSERT_TRUE(CopyVariableValue("1234567", buffer, &size));
  EXPECT_EQ(size, 8u);
  EXPECT_STREQ(buffer, "1234567");

  std::memset(buffer, '#', sizeof buffer);
  size = sizeof buffer;
  EXPECT_FALSE(CopyVariableValue("12345678", buffer, &size));
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer[0], '#');  // nothing copied

  size = 0;
  EXPECT_FALSE(CopyVariableValue("", nullptr, &size));
  EXPECT_EQ(size, 1u);
  size = 1;
  ASSERT_TRUE(CopyVariableValue("", buffer, &size));
  EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
}  // namespace tavik::testing
