// Access-log lines in the Common Log Format.
#include "host/serve/access_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

class AccessLine : public ::testing::Test {
 protected:
  // The lines are in local time: fix the zone for the test.
  void SetUp() override {
    const char* zone = getenv("TZ");
    saved_zone_ =
        zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_zone_.has_value()) {
      setenv("TZ", saved_zone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  std::optional<std::string> saved_zone_;
};

TEST_F(AccessLine, HasTheCommonLogFormatsFields) {
  AccessRecord record;
  record.remote_address = "127.0.0.1";
  record.time = 784111777;
  record.method = "POST";
  record.path = "/search";
  record.http_version = "1.1";
  record.status_code = 200;
  record.body_bytes = 512;
  EXPECT_EQ(FormatAccessLine(record),
            "127.0.0.1 - - [06/Nov/1994:08:49:37 +0000] "
            "\"POST /search HTTP/1.1\" 200 512\n");

  record.query_string = "a=%41&b";
  record.body_bytes.reset();
  record.status_code = 304;
  EXPECT_EQ(FormatAccessLine(record),
            "127.0.0.1 - - [06/Nov/1994:08:49:37 +0000] "
            "\"POST /search?a=%41&b HTTP/1.1\" 304 -\n");
}

TEST_F(AccessLine, EncodesWhatWouldBreakTheLine) {
  AccessRecord record;
  record.remote_address = "10.1.2.3";
  record.method = "GET";
  record.path = "/a b/\"q\"/100%/\xC3\xA9\\";
  record.query_string = "x=\"1 2\"";
  record.http_version = "1.0";
  record.status_code = 404;
  record.body_bytes = 0;
  const std::string line = FormatAccessLine(record);
  EXPECT_NE(line.find("\"GET /a%20b/%22q%22/100%25/%C3%A9%5C?x=%221%202%22 "
                      "HTTP/1.0\" 404 -\n"),
            std::string::npos)
      << line;
  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(\S+ - - \[[^\]]+\] "[^"]*" \d{3} (\d+|-)\n)")))
      << line;
}

std::string ContentOf(const std::string& path) {
  std::ifstream file(path);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

TEST(AccessLog, AppendsLinesToItsFile) {
  TempTree tree;
  const std::string path = tree.Path("access.log");
  std::string error;
  {
    auto log = AccessLog::Open(path, &error);
    ASSERT_TRUE(log) << error;
    AccessRecord record;
    record.method = "GET";
    record.path = "/";
    record.http_version = "1.1";
    record.status_code = 200;
    log->Write(record);
    log->Write(record);
  }
  const std::string text = ContentOf(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  EXPECT_FALSE(AccessLog::Open(tree.Path("no/such/folder/log"), &error));
  EXPECT_NE(error.find("cannot open the access log"), std::string::npos);
}

// Log rotation renames the file and has the server open its path again.
TEST(AccessLog, ReopenedAfterARenameItWritesToTheNewFile) {
  TempTree tree;
  const std::string path = tree.Path("access.log");
  std::string error;
  auto log = AccessLog::Open(path, &error);
  ASSERT_TRUE(log) << error;
  AccessRecord record;
  record.method = "GET";
  record.http_version = "1.1";
  record.status_code = 200;
  record.path = "/before";
  log->Write(record);
  ASSERT_EQ(rename(path.c_str(), tree.Path("access.log.1").c_str()), 0);
  record.path = "/renamed";
  log->Write(record);
  ASSERT_TRUE(log->Reopen(&error)) << error;
  record.path = "/after";
  log->Write(record);

  const std::string old_file = ContentOf(tree.Path("access.log.1"));
  const std::string new_file = ContentOf(path);
  EXPECT_NE(old_file.find("/before"), std::string::npos);
  EXPECT_NE(old_file.find("/renamed"), std::string::npos);
  EXPECT_EQ(old_file.find("/after"), std::string::npos);
  EXPECT_EQ(std::count(new_file.begin(), new_file.end(), '\n'), 1);
  EXPECT_NE(new_file.find("/after"), std::string::npos);

  // A path that cannot be opened again leaves the log where it was.
  tree.MakeFolder("gone");
  auto lost = AccessLog::Open(tree.Path("gone/log"), &error);
  ASSERT_TRUE(lost) << error;
  ASSERT_EQ(rename(tree.Path("gone").c_str(), tree.Path("moved").c_str()), 0);
  EXPECT_FALSE(lost->Reopen(&error));
  lost->Write(record);
  EXPECT_NE(ContentOf(tree.Path("moved/log")).find("/after"),
            std::string::npos);
}

}  // namespace
}  // namespace tavik::testing
