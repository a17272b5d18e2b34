// The built extension library, loaded once per test program as a server
// loads it, and a way to run whole requests through it.
#ifndef TAVIK_TESTING_EXTENSION_FIXTURE_H_
#define TAVIK_TESTING_EXTENSION_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "host/captured_request.h"
#include "host/extension_library.h"
#include "testing/page_check.h"
#include "testing/temp_tree.h"

namespace tavik::testing {

// The library under test; loading it is checked once, by the first caller.
const ExtensionLibrary& Extension();

// Posts `posted` with `root` as the extra path.
CapturedResponse Post(const std::string& posted, const std::string& root);

// Searches `root` for `term` as a browser posts it, with no line end after
// the value, and returns the page body.
std::string SearchBody(const std::string& root, const std::string& term);

// The head text the extension sends for the already-escaped search string
// `shown`, before the 1,023-character cut.
std::string HeadText(const std::string& shown);

// The list line for one row, for links made only of safe characters.
std::string ListLine(const std::string& link, int hits);
std::string SummaryLine(int total_hits);


// A test with a fresh folder tree to search.
class SearchTreeTest : public ::testing::Test {
 protected:
  std::string Body(const std::string& term) {
    return SearchBody(tree_.root(), term);
  }
  // The page for a single document holding `content`, searched for `term`.
  std::string SingleDocument(const std::string& content,
                             const std::string& term) {
    tree_.Write("doc.htm", content);
    return Body(term);
  }
  static std::string OneRow(const std::string& link, int hits) {
    return ListLine(link, hits) + SummaryLine(hits);
  }

  TempTree tree_;
};

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_EXTENSION_FIXTURE_H_
