// The summary cache's rules, one at a time: what is too new to trust gets
// no summary, and a tree larger than the memory bound searches as it would
// without the cache while the cache keeps within its bound.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/temp_tree.h"

namespace tavik {
namespace {

constexpr auto kTrustDelay = std::chrono::milliseconds(50);

SummaryCache::Options TestOptions(size_t max_bytes) {
  SummaryCache::Options options;
  options.max_bytes = max_bytes;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  return options;
}

void WaitPastTheDelay() {
  std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
}

TEST(SummaryCacheRules, DocumentsChangedWithinTheDelayGetNoSummary) {
  testing::TempTree tree;
  tree.Write("a.htm", "just written\n");
  const auto cache = SummaryCache::Create(TestOptions(size_t{1} << 20));
  testing::SearchPage(tree.root(), "absent", cache.get());
  EXPECT_EQ(cache->GetStats().summaries_stored, 0u);
  WaitPastTheDelay();
  testing::SearchPage(tree.root(), "absent", cache.get());
  EXPECT_EQ(cache->GetStats().summaries_stored, 1u);
  testing::SearchPage(tree.root(), "absent", cache.get());
  EXPECT_EQ(cache->GetStats().documents_skipped, 1u);
  // Changed again: read, and no summary until it is old enough once more.
  tree.Write("a.htm", "written again, absent\n");
  EXPECT_NE(testing::SearchPage(tree.root(), "absent", cache.get())
                .find("1 hit(s)"),
            std::string::npos);
  EXPECT_EQ(cache->GetStats().summaries_stored, 1u);
}

// The same size, other bytes, and the write time set back to what it was:
// only the change time (and, where there is one, the change watch) tells.
TEST(SummaryCacheRules, SameSizeRewriteWithItsWriteTimeKept) {
  for (const bool watch : {false, true}) {
    testing::TempTree tree;
    tree.Write("a.htm", "a haystack\n");
    SummaryCache::Options options = TestOptions(size_t{1} << 20);
    options.watch_changes = watch;
    const auto cache = SummaryCache::Create(options);
    WaitPastTheDelay();
    for (int search = 0; search < 3; ++search) {
      testing::SearchPage(tree.root(), "needle", cache.get());
    }
    ASSERT_EQ(cache->GetStats().documents_skipped, 2u);
    const auto path = std::filesystem::path(tree.Path("a.htm"));
    const auto written = std::filesystem::last_write_time(path);
    tree.Write("a.htm", "a needle..\n");
    std::filesystem::last_write_time(path, written);
    ASSERT_EQ(std::filesystem::last_write_time(path), written);
    EXPECT_NE(testing::SearchPage(tree.root(), "needle", cache.get())
                  .find("/a.htm</a> - 1 hit(s)"),
              std::string::npos)
        << (watch ? "watched" : "stamped");
  }
}

// Documents of distinct words, so that each summary takes some room.
std::string Words(int seed) {
  std::string text;
  for (int word = 0; word < 400; ++word) {
    text += std::to_string(seed * 7919 + word * 104729) + " ";
    if (word % 12 == 11) text += "\n";
  }
  return text;
}

TEST(SummaryCacheRules, TreeLargerThanTheBoundSearchesTheSame) {
  testing::TempTree tree;
  for (int index = 0; index < 200; ++index) {
    tree.Write("f" + std::to_string(index % 7) + "/d" + std::to_string(index) +
                   ".htm",
               Words(index) + (index % 50 == 0 ? "needle\n" : ""));
  }
  WaitPastTheDelay();
  constexpr size_t kBound = 64 * 1024;
  const auto cache = SummaryCache::Create(TestOptions(kBound));
  const std::vector<std::string> terms = {"needle", "absent", "1234", "9",
                                          "needle", "absent"};
  for (int round = 0; round < 2; ++round) {
    for (const std::string& term : terms) {
      EXPECT_EQ(testing::SearchPage(tree.root(), term, cache.get()),
                testing::SearchPage(tree.root(), term, nullptr))
          << term;
      EXPECT_LE(cache->GetStats().bytes, kBound);
    }
  }
  const SummaryCache::Stats stats = cache->GetStats();
  EXPECT_GT(stats.summaries, 0u);
  // Far more were made than fit: the oldest went.
  EXPECT_GT(stats.summaries_stored, 2 * stats.summaries);
}

}  // namespace
}  // namespace tavik
