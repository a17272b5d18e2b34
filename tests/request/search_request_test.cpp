// The record's invariants, checked on records driven directly.
#include "request/search_request.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_tree.h"

namespace tavik {
namespace {

// The page goes nowhere: these tests look at the record itself.
class IgnoredPage : public PageSink {
 public:
  void SendHead(const char*, const char*) override {}
  void Write(const char*, size_t) override {}
};

class SearchRequestTest : public ::testing::Test {
 protected:
  std::unique_ptr<SearchRequest> Search(std::string value) {
    auto request = SearchRequest::Create(value.data(), &page_);
    EXPECT_NE(request, nullptr);
    request->SetRoot(tree_.root().c_str());
    request->SearchDirectory(nullptr, tree_.root().c_str(), kDocumentPattern);
    return request;
  }

  static int SumOfRows(const SearchRequest& request) {
    int sum = 0;
    for (int row = 0; row <= request.LastHit(); ++row) {
      EXPECT_GE(request.Hit(row).nHits, 1);
      sum += request.Hit(row).nHits;
    }
    return sum;
  }

  IgnoredPage page_;
  testing::TempTree tree_;
};

TEST_F(SearchRequestTest, FreshRecordIsEmptyWhateverTheValue) {
  for (std::string value :
       {std::string(), std::string("abc"), std::string("+++"),
        std::string("%00"), std::string(1022, '%')}) {
    auto request = SearchRequest::Create(value.data(), &page_);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->LastHit(), -1);
    EXPECT_EQ(request->TotalHits(), 0);
    EXPECT_FALSE(request->AnyHit());
    EXPECT_FALSE(request->TooMany());
  }
}

TEST_F(SearchRequestTest, TermIsTheUpperCasedSearchString) {
  std::string value = "caf%E9+web";
  auto request = SearchRequest::Create(value.data(), &page_);
  EXPECT_STREQ(request->Term(), "CAF\xe9 WEB");
}

TEST_F(SearchRequestTest, RowsAddUpToTheTotal) {
  tree_.Write("a.htm", "web\n");
  tree_.Write("s/b.htm", "web\nweb\n");
  tree_.Write("s/t/c.htm", "web\nx\nweb web\nweb");
  auto request = Search("web");
  EXPECT_EQ(request->LastHit(), 2);
  EXPECT_EQ(request->TotalHits(), 6);
  EXPECT_EQ(SumOfRows(*request), 6);
  EXPECT_TRUE(request->AnyHit());
  EXPECT_FALSE(request->TooMany());
  // Rows stand in the order the walk found them.
  EXPECT_STREQ(request->Hit(0).lpszUrl, "/a.htm");
  EXPECT_STREQ(request->Hit(1).lpszUrl, "/s/b.htm");
  EXPECT_STREQ(request->Hit(2).lpszUrl, "/s/t/c.htm");
}

TEST_F(SearchRequestTest, CapStopsAt256) {
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += "hit\n";
  for (const char* name : {"a.htm", "d/b.htm", "d/e/c.htm", "d/e/f/g.htm"}) {
    tree_.Write(name, lines);
  }
  auto request = Search("hit");
  EXPECT_EQ(request->TotalHits(), 256);
  EXPECT_TRUE(request->TooMany());
  EXPECT_EQ(request->LastHit(), 2);
  EXPECT_EQ(SumOfRows(*request), 256);
}

TEST_F(SearchRequestTest, ToUrlPathTurnsBackslashes) {
  char path[] = "\\docs\\guide/intro.htm";
  EXPECT_EQ(SearchRequest::ToUrlPath(path), path);
  EXPECT_STREQ(path, "/docs/guide/intro.htm");
}

}  // namespace
}  // namespace tavik
