// The word search's answer to every kind of input a visitor or a robot may
// send: whole requests through the exported entry point, the JSON read by
// a real parser, the page checked for what must and must not stand in it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

using Json = nlohmann::json;

// The header text the response was sent with.
std::string HeadOf(const CapturedResponse& response) {
  for (const CallbackEvent& event : response.events) {
    if (event.kind == CallbackEvent::Kind::kSendResponseHeader) return event.data;
  }
  return "(no head)";
}

class WordSearchAnswer : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("cafe.htm", "<title>Caf\xC3\xA9 notes</title><p>Caf\xC3\xA9 au lait.</p>");
    for (int k = 0; k < 23; ++k) {
      tree_.Write("many/d" + std::to_string(k) + ".htm", "<p>quokka number " +
                                                         std::to_string(k) + "</p>");
    }
  }
  CapturedResponse Get(const std::string& query_string) {
    return RunCapturedGet(Extension(), query_string, tree_.root());
  }
  Json GetJson(const std::string& query_string) {
    const CapturedResponse response = Get(query_string + "&format=json");
    EXPECT_EQ(HeadOf(response), "Content-Type: application/json; charset=utf-8\r\n\r\n");
    return Json::parse(response.Body());
  }

  TempTree tree_;
};

struct FieldCase {
  std::string query_string;
  std::string query;  // as the answer repeats it
  int page;
  size_t total;
  size_t results;
  size_t dropped;
};

// The fields of the query string, the page asked for, and queries that are
// empty, all punctuation, too long, or not UTF-8.
TEST_F(WordSearchAnswer, ReadsTheFieldsAndAnswersOddQueriesSoundly) {
  const std::string long_query(1200, 'x');
  std::string accents;
  for (int k = 0; k < 600; ++k) accents += "%C3%A9";
  std::string twenty;
  for (int k = 0; k < 20; ++k) twenty += "quokka" + std::to_string(k) + "+";
  const FieldCase cases[] = {
      {"q=quokka", "quokka", 1, 23, 10, 0},
      {"q=quokka&page=3", "quokka", 3, 23, 3, 0},
      {"q=quokka&page=4", "quokka", 4, 23, 0, 0},  // past the last page
      {"q=quokka&page=0", "quokka", 1, 23, 10, 0},
      {"q=quokka&page=-2", "quokka", 1, 23, 10, 0},
      {"q=quokka&page=two", "quokka", 1, 23, 10, 0},
      {"q=quokka&page=99999999999", "quokka", 1, 23, 10, 0},
      {"utm_source=news&q=QUOKKA+number+7&q=other", "QUOKKA number 7", 1, 1, 1, 0},
      {"q=", "", 1, 0, 0, 0},
      {"q=%21%21+--", "!! --", 1, 0, 0, 0},
      {"q=caf%E9", "caf\xC3\xA9", 1, 1, 1, 0},  // Windows-1252, not UTF-8
      {"q=CAFE", "CAFE", 1, 1, 1, 0},
      {"q=" + long_query, std::string(1023, 'x'), 1, 0, 0, 0},
      {"q=" + accents, [] {
         std::string cut;
         for (int k = 0; k < 511; ++k) cut += "\xC3\xA9";
         return cut;
       }(), 1, 0, 0, 0},
      {"q=" + twenty, "", 1, 0, 0, 4},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.query_string.substr(0, 60));
    const Json answer = GetJson(c.query_string);
    if (!c.query.empty() || c.dropped == 0) {
      EXPECT_EQ(answer["query"].get<std::string>(), c.query);
    }
    EXPECT_EQ(answer["page"].get<int>(), c.page);
    EXPECT_EQ(answer["per_page"].get<int>(), 10);
    EXPECT_EQ(answer["total"].get<size_t>(), c.total);
    EXPECT_EQ(answer["results"].size(), c.results);
    EXPECT_EQ(answer["dropped_words"].get<size_t>(), c.dropped);
  }
}

// What the page says for the same cases, in words a visitor reads.
TEST_F(WordSearchAnswer, ThePageSaysWhatHappened) {
  const struct {
    const char* query_string;
    const char* says;
  } cases[] = {
      {"q=", "Type one or more words to search for."},
      {"q=quokka", "23 results for <q>quokka</q>"},
      {"q=quokka+number+7", "1 result for <q>quokka number 7</q>"},
      {"q=zzqxv", "No results for <q>zzqxv</q>"},
      {"q=quokka&page=9", "There is no page 9: the results end on page 3."},
      {"q=quokka&page=2", "<span class=\"tavik-page\">Page 2 of 3</span>"},
      {"q=quokka&page=2",
       "<a class=\"tavik-previous\" rel=\"prev\" href=\"?q=quokka&amp;page=1\">"},
      {"q=quokka&page=2",
       "<a class=\"tavik-next\" rel=\"next\" href=\"?q=quokka&amp;page=3\">"},
      {"q=a+b+c+d+e+f+g+h+i+j+k+l+m+n+o+p+q+r",
       "Only the first 16 words were searched for; 2 words were left out."},
      {"q=caf%E9", "value=\"caf\xC3\xA9\""},
  };
  for (const auto& c : cases) {
    const CapturedResponse response = Get(c.query_string);
    EXPECT_EQ(HeadOf(response), "Content-Type: text/html; charset=utf-8\r\n\r\n");
    EXPECT_NE(response.Body().find(c.says), std::string::npos)
        << c.query_string << "\n" << response.Body();
  }
}

// Quotes, backslashes, control bytes, markup and a script's end in the
// query: the JSON stays valid and gives the query back, and the page shows
// it only escaped.
TEST_F(WordSearchAnswer, HostileQueriesStayText) {
  const std::string hostile[] = {
      "\"quoted\" and \\back\\slash",
      "control \x01\x02\x1F\x7F bytes",
      "</script><script>alert(1)</script>",
      "<b onmouseover='x'>&amp;</b>",
      "line\r\nbreak\ttab",
      "\xE2\x80\xA8separators\xE2\x80\xA9",
  };
  for (const std::string& query : hostile) {
    std::string encoded;
    for (const unsigned char c : query) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
    const CapturedResponse json = Get("q=" + encoded + "&format=json");
    const std::string body = json.Body();
    EXPECT_EQ(body.find('<'), std::string::npos) << body;
    EXPECT_EQ(Json::parse(body)["query"].get<std::string>(), query);
    const std::string page = Get("q=" + encoded).Body();
    EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
    EXPECT_EQ(page.find("<b onmouseover"), std::string::npos) << page;
  }
}

// A document's title falls back to its first heading, then to its file
// name; the links are the documents' paths below the root.
TEST_F(WordSearchAnswer, TitlesAndLinks) {
  tree_.Write("t/with title.htm", "<title> Rottnest </title><h1>Heading</h1>wallaby");
  tree_.Write("t/heading.htm", "<title> </title><h1>Wallaby <b>notes</b></h1>");
  tree_.Write("t/bare.htm", "wallaby");
  const Json answer = GetJson("q=wallaby");
  std::map<std::string, std::string> titles;
  for (const Json& result : answer["results"]) {
    titles[result["url"].get<std::string>()] = result["title"].get<std::string>();
  }
  EXPECT_EQ(titles, (std::map<std::string, std::string>{
                        {"/t/with title.htm", "Rottnest"},
                        {"/t/heading.htm", "Wallaby notes"},
                        {"/t/bare.htm", "bare.htm"}}));
  const std::string page = Get("q=wallaby").Body();
  EXPECT_NE(page.find("<a href=\"/t/with%20title.htm\">Rottnest</a>"), std::string::npos)
      << page;
}

}  // namespace
}  // namespace tavik::testing
