// From posted bytes to the head text, through the exported entry point.
#include <gtest/gtest.h>

#include <string>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

// The head text the extension sent for `posted`.
std::string HeadFor(const std::string& posted, const std::string& root = "") {
  const CapturedResponse response = Post(posted, root);
  EXPECT_FALSE(response.events.empty());
  if (response.events.empty()) return "";
  return response.events[0].data;
}

struct HeadCase {
  std::string posted;
  std::string shown;  // the search string as the page shows it
};

class HeadText : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HeadText, ShowsTheDecodedEscapedSearchString) {
  EXPECT_EQ(HeadFor(GetParam().posted), testing::HeadText(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Posted, HeadText,
    ::testing::Values(
        HeadCase{"q=full+text\r\n", "full text"},
        HeadCase{"q=full+text", "full text"},
        HeadCase{"q=abc", "abc"},
        HeadCase{"q=ab+c", "ab c"},
        HeadCase{"q=abc%41", "abcA"},
        HeadCase{"q=a+++b\r\n", "a b"},
        HeadCase{"q=caf%E9\r\n", "caf\xe9"},
        HeadCase{"q=%%41", "A"},
        HeadCase{"q=1%2B1", "1+1"},
        HeadCase{"q=a%00b", "a"},
        HeadCase{"q=\r\n", ""},
        HeadCase{"q=", ""},
        HeadCase{"q=+++", ""},
        HeadCase{"a=b&c=d\r\n", "b&amp;c=d"},
        HeadCase{"q=%3Cb%3Ex", "&lt;b&gt;x"},
        HeadCase{"q=%3Cscript%3Ealert(%27x%27)%3C%2Fscript%3E",
                 "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        HeadCase{"q=%22%26", "&quot;&amp;"},
        HeadCase{"no equals sign", ""},
        HeadCase{"", ""},
        HeadCase{std::string("q=ab\0cd", 7), "ab"},
        // The "=" lies beyond the 1,023 characters taken from the body.
        HeadCase{std::string(1023, 'k') + "=v", ""}));

// The head is cut at 1,023 characters, after escaping.
TEST(HeadText, IsCutAt1023Characters) {
  for (const size_t length : {809u, 810u, 850u, 900u, 1020u}) {
    const std::string search(length, 'x');
    const std::string head = HeadFor("q=" + search);
    EXPECT_EQ(head, testing::HeadText(search).substr(0, 1023)) << length;
  }
  EXPECT_EQ(HeadFor("q=" + std::string(850, 'x')).substr(1023 - 19),
            "<p><A HREF=http:con");
  std::string escaped;
  for (int i = 0; i < 300; ++i) escaped += "&lt;";
  EXPECT_EQ(HeadFor("q=" + std::string(300, '<')),
            testing::HeadText(escaped).substr(0, 1023));
}

// A request without a form value is answered without a walk.
TEST(RequestFlow, WithoutFormValueNothingIsSearched) {
  TempTree tree;
  tree.Write("a.htm", "every line\n");
  EXPECT_EQ(Post("nothing here", tree.root()).Body(), kNoHitsMessage);
  // With an empty search string every line matches: the walk does run.
  EXPECT_EQ(Post("q=", tree.root()).Body(),
            ListLine("/a.htm", 1) + SummaryLine(1));
}

}  // namespace
}  // namespace tavik::testing
