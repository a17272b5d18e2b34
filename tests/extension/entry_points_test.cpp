// The library as a server sees it: what it exports and what each entry
// point does to the records it is given.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

TEST(EntryPoints, VersionIsTheSameOnEveryCall) {
  for (int call = 0; call < 3; ++call) {
    HSE_VERSION_INFO info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(Extension().GetExtensionVersion()(&info), 1);
    EXPECT_EQ(info.dwExtensionVersion, 0x00010000u);
    EXPECT_STREQ(info.lpszExtensionDesc, "Tavik.dll v1.0");
  }
}

// Whatever the request, the extension returns success, sends the header
// first and exactly once, and uses no callback but the two it needs.
TEST(EntryPoints, EveryRequestKeepsTheCallingContract) {
  TempTree tree;
  tree.Write("a.htm", "term\n");
  const std::pair<std::string, std::string> requests[] = {
      {"q=term", tree.root()},         {"q=", tree.root()},
      {"no form", tree.root()},        {"q=term", ""},
      {"q=term", "/missing/folder"},   {"q=term", std::string(300, '/')},
      {"", tree.root()},               {"q=%", "."},
  };
  for (const auto& [posted, root] : requests) {
    const CapturedResponse response = Post(posted, root);
    EXPECT_EQ(response.return_value, DWORD{HSE_STATUS_SUCCESS});
    ASSERT_GE(response.events.size(), 2u) << posted;
    EXPECT_EQ(response.events[0].kind,
              CallbackEvent::Kind::kSendResponseHeader);
    EXPECT_EQ(response.events[0].status, "200 OK");
    for (size_t i = 1; i < response.events.size(); ++i) {
      EXPECT_EQ(response.events[i].kind, CallbackEvent::Kind::kWriteClient)
          << "event " << i << " of " << posted << " on " << root;
    }
  }
}

}  // namespace
}  // namespace tavik::testing
