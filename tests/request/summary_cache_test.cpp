// The summary cache held to the search without it: random trees, then
// rounds of random changes of every kind (some searched at once, inside the
// window in which new summaries are not trusted, some after it), each
// followed by searches for terms of every kind; every page must equal the
// page of the same search without a cache, byte for byte. With change
// notification and with stamps alone.
#include "corpus/summary_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "testing/search_page.h"
#include "testing/temp_tree.h"
#include "testing/tree_changes.h"

namespace tavik {
namespace {

// Far above any file system's timestamp granularity, far below 2 s.
constexpr auto kTrustDelay = std::chrono::milliseconds(50);
constexpr int kRounds = 40;

SummaryCache::Options TestOptions(bool watch) {
  SummaryCache::Options options;
  options.max_bytes = size_t{8} << 20;
  options.watch_changes = watch;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  return options;
}

class CacheDifferential
    : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(CacheDifferential, PagesEqualThoseWithoutTheCache) {
  const auto [seed, watch] = GetParam();
  testing::TempTree tree;
  testing::TempTree outside;
  testing::SeededChoices choices(seed);
  testing::TreeChanger changer(tree.root(), outside.root(), choices);
  changer.MakeTree(50);
  const auto cache = SummaryCache::Create(TestOptions(watch));
  ASSERT_NE(cache, nullptr);
  if (watch && !cache->watching()) {
    GTEST_SKIP() << "no change notification here: the same as with stamps";
  }
  std::string changes;
  for (int round = 0; round < kRounds; ++round) {
    for (uint32_t count = round == 0 ? 0 : 1 + choices.Below(3); count > 0;
         --count) {
      changes += changer.Change() + "; ";
    }
    if (choices.Chance(50)) {
      std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
    }
    for (int search = 0; search < 5; ++search) {
      const std::string term = changer.Term();
      const std::string expected = testing::SearchPage(tree.root(), term, nullptr);
      ASSERT_EQ(testing::SearchPage(tree.root(), term, cache.get()), expected)
          << "seed " << seed << ", round " << round << ", term \"" << term
          << "\" after: " << changes;
    }
  }
  // The cache did its work: documents ruled out, and with change
  // notification, folders walked and summaries used from memory.
  const SummaryCache::Stats stats = cache->GetStats();
  EXPECT_GT(stats.documents_skipped, 0u);
  if (cache->watching()) {
    EXPECT_GT(stats.listings_reused, 0u);
    EXPECT_GT(stats.records_trusted, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SummaryCache, CacheDifferential,
    ::testing::Combine(::testing::Range(uint32_t{1}, uint32_t{5}),
                       ::testing::Bool()),
    [](const auto& info) {
      return "Seed" + std::to_string(std::get<0>(info.param)) +
             (std::get<1>(info.param) ? "Watched" : "Stamped");
    });

}  // namespace
}  // namespace tavik
