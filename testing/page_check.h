// Reading a result page back, to check pages whose exact content a test
// cannot know in advance (a tree that changes while it is searched).
#ifndef TAVIK_TESTING_PAGE_CHECK_H_
#define TAVIK_TESTING_PAGE_CHECK_H_

#include <string>

namespace tavik::testing {

inline constexpr char kNoHitsMessage[] = "<p><b>No hits found.</b><p></body>";
inline constexpr char kOverflowMessage[] =
    "<p><b>The search criteria returned > 255 hits. Please narrow your "
    "search value down and retry.</b><p>";

// True when `body` is one of the three bodies a search can give: the
// no-hits message, the overflow message, or list lines in falling order of
// hits followed by a summary whose total is their sum. Stores that total (0
// and 256 for the two messages) in `total`.
bool IsWellFormedBody(const std::string& body, int* total);

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_PAGE_CHECK_H_
