// The summary cache against what only POSIX systems do: a file changed
// through a second name in a folder no search walks, a change queue that
// overflows, and the memory the cache keeps on the heap.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/temp_tree.h"

namespace tavik {
namespace {

constexpr auto kTrustDelay = std::chrono::milliseconds(50);

std::unique_ptr<SummaryCache> WatchingCache(size_t max_bytes) {
  SummaryCache::Options options;
  options.max_bytes = max_bytes;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  auto cache = SummaryCache::Create(options);
  EXPECT_TRUE(cache->watching());
  return cache;
}

void WaitPastTheDelay() {
  std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
}

// Searches until every summary of the tree is made and trusted from memory.
void Settle(const std::string& root, SummaryCache* cache) {
  WaitPastTheDelay();
  for (int round = 0; round < 3; ++round) {
    testing::SearchPage(root, "settle", cache);
  }
}

TEST(SummaryCachePosix, WriteThroughASecondNameOutsideTheTree) {
  testing::TempTree tree;
  testing::TempTree elsewhere;
  tree.Write("a.htm", "nothing here yet\n");
  const auto cache = WatchingCache(size_t{1} << 20);
  Settle(tree.root(), cache.get());
  const uint64_t trusted = cache->GetStats().records_trusted;
  testing::SearchPage(tree.root(), "needle", cache.get());
  ASSERT_GT(cache->GetStats().records_trusted, trusted);

  const std::string other = elsewhere.Path("b.htm");
  ASSERT_EQ(link(tree.Path("a.htm").c_str(), other.c_str()), 0);
  const int file = open(other.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "needle\n", 7), 7);
  close(file);
  EXPECT_EQ(testing::SearchPage(tree.root(), "needle", cache.get()),
            testing::SearchPage(tree.root(), "needle", nullptr));
  EXPECT_NE(testing::SearchPage(tree.root(), "needle", cache.get())
                .find("/a.htm</a> - 1 hit(s)"),
            std::string::npos);
}

TEST(SummaryCachePosix, OverflowingTheChangeQueueDropsWhatWatchesVouched) {
  testing::TempTree tree;
  tree.Write("a.htm", "nothing here yet\n");
  tree.Write("sub/b.htm", "nothing here either\n");
  const auto cache = WatchingCache(size_t{1} << 20);
  Settle(tree.root(), cache.get());
  // More events than the system queues (16,384 by default) in a watched
  // folder, then a change whose event is lost with the rest.
  for (int index = 0; index < 20000; ++index) {
    const std::string path = tree.Path("n" + std::to_string(index));
    close(open(path.c_str(), O_WRONLY | O_CREAT, 0644));
  }
  tree.Write("sub/b.htm", "a needle now\n");
  EXPECT_EQ(testing::SearchPage(tree.root(), "needle", cache.get()),
            testing::SearchPage(tree.root(), "needle", nullptr));
  EXPECT_GE(cache->GetStats().losses, 1u);
}

// A walk stopped by the hit cap has not read its folder to the end: that
// folder's listing is not kept (a later walk would miss what came after),
// and it is made by the next walk that reads it all.
TEST(SummaryCachePosix, AListingReadOnlyInPartIsNotKept) {
  testing::TempTree tree;
  for (int index = 0; index < 300; ++index) {
    tree.Write("d" + std::to_string(index) + ".htm", "the one line\n");
  }
  const auto cache = WatchingCache(size_t{1} << 20);
  EXPECT_NE(testing::SearchPage(tree.root(), "the", cache.get())
                .find("narrow your search"),
            std::string::npos);
  EXPECT_EQ(cache->GetStats().listings_made, 0u);
  for (const char* term : {"absent", "absent", "one line"}) {
    EXPECT_EQ(testing::SearchPage(tree.root(), term, cache.get()),
              testing::SearchPage(tree.root(), term, nullptr));
  }
  EXPECT_EQ(cache->GetStats().listings_made, 1u);
  EXPECT_EQ(cache->GetStats().listings_reused, 2u);
}

TEST(SummaryCachePosix, HeapKeepsWithinTheBoundAndIsGivenBack) {
  testing::TempTree tree;
  for (int index = 0; index < 400; ++index) {
    std::string text;
    for (int word = 0; word < 300; ++word) {
      text += std::to_string(index * 104729 + word * 7919) + " ";
    }
    tree.Write("f" + std::to_string(index % 9) + "/d" + std::to_string(index) +
                   ".htm",
               text);
  }
  WaitPastTheDelay();
  constexpr size_t kBound = 128 * 1024;
  // What the first search allocates once for the process is not the
  // cache's.
  testing::SearchPage(tree.root(), "absent", WatchingCache(kBound).get());
  const size_t before = mallinfo2().uordblks;
  {
    auto cache = WatchingCache(kBound);
    const size_t made = mallinfo2().uordblks;
    for (int round = 0; round < 4; ++round) {
      testing::SearchPage(tree.root(), "absent", cache.get());
      EXPECT_LE(mallinfo2().uordblks, made + kBound);
    }
    EXPECT_GT(cache->GetStats().summaries_stored, 0u);
  }
  EXPECT_EQ(mallinfo2().uordblks, before);
}

}  // namespace
}  // namespace tavik
