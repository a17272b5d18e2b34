// The time a request body may take, extended as its bytes come.
#include "host/serve/body_pace.h"

#include <gtest/gtest.h>

namespace tavik::testing {
namespace {

using std::chrono::milliseconds;

TEST(BodyPace, TimeWaitedIsSpentAndBytesEarnMoreInProportion) {
  struct Step {
    int waited_ms;
    uint64_t bytes;
    int left_ms;  // after the step
  };
  struct Case {
    const char* name;
    int allowance_ms;
    uint32_t rate;
    std::vector<Step> steps;
  };
  const Case kCases[] = {
      {"silent", 20000, 500, {{10000, 0, 10000}, {10000, 0, 0}}},
      // Exactly the minimum rate: the allowance stays where it was.
      {"at the rate", 20000, 500, {{1000, 500, 20000}, {3000, 1500, 20000}}},
      {"faster", 20000, 500, {{1000, 5000, 29000}}},
      // One byte every two seconds: the time runs out after 20 s and 10
      // bytes, 20 ms later than it would without them.
      {"trickle", 20000, 500, {{18000, 9, 2018}, {2000, 1, 20}, {20, 0, 0}}},
      {"no rate", 20000, 0, {{1000, 100000, 19000}}},
      {"slower than the rate", 1000, 100, {{2000, 100, 0}}},
  };
  for (const Case& item : kCases) {
    BodyPace pace(milliseconds(item.allowance_ms), item.rate);
    EXPECT_EQ(pace.left(), milliseconds(item.allowance_ms)) << item.name;
    for (const Step& step : item.steps) {
      pace.Record(milliseconds(step.waited_ms), step.bytes);
      EXPECT_EQ(pace.left(), milliseconds(step.left_ms)) << item.name;
    }
  }
}

TEST(BodyPace, APieceIsWhatEarnsOneSecond) {
  EXPECT_EQ(BodyPace(milliseconds(1), 500).PieceSize(48 * 1024), 500u);
  EXPECT_EQ(BodyPace(milliseconds(1), 500).PieceSize(20), 20u);
  EXPECT_EQ(BodyPace(milliseconds(1), 1).PieceSize(4096), 1u);
  EXPECT_EQ(BodyPace(milliseconds(1), 0).PieceSize(4096), 4096u);
}

}  // namespace
}  // namespace tavik::testing
