// The summary cache's settings as the environment gives them.
#include "extension/cache_setting.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tavik {
namespace {

TEST(CacheSetting, TheEnvironmentsTextsGiveTheOptions) {
  constexpr size_t kMiB = size_t{1} << 20;
  const struct {
    const char* megabytes;
    const char* watch;
    size_t max_bytes;
    bool watch_changes;
  } cases[] = {
      {nullptr, nullptr, 256 * kMiB, true},
      {"0", nullptr, 0, true},
      {"12", "0", 12 * kMiB, false},
      {"12", "1", 12 * kMiB, true},
      {"12", "00", 12 * kMiB, true},
      {"12", "", 12 * kMiB, true},
      {"", nullptr, 256 * kMiB, true},
      {"64MB", nullptr, 256 * kMiB, true},
      {"-1", nullptr, 256 * kMiB, true},
      {" 8", nullptr, 256 * kMiB, true},
      // Past half the address space: taken as half of it.
      {"99999999999999999999999", nullptr, (SIZE_MAX / 2) >> 20 << 20, true},
  };
  for (const auto& c : cases) {
    const SummaryCache::Options options = CacheOptionsFrom(c.megabytes, c.watch);
    EXPECT_EQ(options.max_bytes, c.max_bytes)
        << (c.megabytes ? c.megabytes : "(unset)");
    EXPECT_EQ(options.watch_changes, c.watch_changes)
        << (c.watch ? c.watch : "(unset)");
    EXPECT_EQ(options.trust_delay, 2000000000);
    EXPECT_FALSE(options.unbudgeted);
  }
}

}  // namespace
}  // namespace tavik
