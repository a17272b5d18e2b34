#include "testing/page_check.h"

#include <climits>
#include <regex>

namespace tavik::testing {
namespace {

// Built when the program starts rather than at the first list page, so that
// a leak check around searches never sees them appear.
const std::regex kLine("<a href=([^>]*)>([^<]*)</a> - (\\d+) hit\\(s\\)<p>\n\r");
const std::regex kSummary("<p><p><p><b>(\\d+) hit\\(s\\) found\\.</b><p>");

}  // namespace

bool IsWellFormedBody(const std::string& body, int* total) {
  if (body == kNoHitsMessage) {
    *total = 0;
    return true;
  }
  if (body == kOverflowMessage) {
    *total = 256;
    return true;
  }
  int sum = 0;
  int previous = INT_MAX;
  auto at = body.cbegin();
  std::smatch match;
  while (std::regex_search(at, body.cend(), match, kLine,
                           std::regex_constants::match_continuous)) {
    const int hits = std::stoi(match[3]);
    if (hits < 1 || hits > previous) return false;
    previous = hits;
    sum += hits;
    at = match[0].second;
  }
  if (!std::regex_match(at, body.cend(), match, kSummary)) return false;
  *total = std::stoi(match[1]);
  return sum > 0 && *total == sum && sum < 256;
}

}  // namespace tavik::testing
