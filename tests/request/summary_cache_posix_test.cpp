// The summary cache against what only POSIX systems do: a file changed
// through a shared mapping, a listing read only in part, and the memory the
// cache keeps on the heap. (Writes through a second name outside the tree,
// and a change queue that overflows, are among the differential test's
// rounds.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

// A write to a page of a shared mapping that is dirty already moves none
// of the file's times and, while the mapping is open, raises no change
// event (so such writes are in general beyond what the cache sees): here it
// makes a change no stamp shows, as one made within the file system's
// timestamp granularity after a read would be. A document read less than
// the trust window (here the one the cache ships with) after it changed is
// read again by the next search, which finds what such a change put there.
TEST(SummaryCachePosix, AChangeNoStampShowsIsFoundInsideTheWindow) {
  for (const bool watch : {false, true}) {
    constexpr char kText[] = "a haystack, nothing here\n";
    constexpr size_t kLength = sizeof kText - 1;
    testing::TempTree tree;
    tree.Write("a.htm", kText);
    const std::string path = tree.Path("a.htm");
    SummaryCache::Options options;
    options.watch_changes = watch;
    options.unbudgeted = true;
    const auto cache = SummaryCache::Create(options);
    ASSERT_NE(cache, nullptr);
    const int file = open(path.c_str(), O_RDWR);
    ASSERT_GE(file, 0);
    void* mapping =
        mmap(nullptr, kLength, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    char* text = static_cast<char*>(mapping);
    text[0] = 'A';  // the page is dirty from now on; the times move
    testing::SearchPage(tree.root(), "needle", cache.get());
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    std::memcpy(text + 2, "needle", 6);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    ASSERT_TRUE(before.st_size == after.st_size &&
                before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                before.st_mtim.tv_nsec == after.st_mtim.tv_nsec &&
                before.st_ctim.tv_sec == after.st_ctim.tv_sec &&
                before.st_ctim.tv_nsec == after.st_ctim.tv_nsec)
        << "the second write moved the file's stamp: no case to make here";
    const std::string page =
        testing::SearchPage(tree.root(), "needle", cache.get());
    EXPECT_EQ(page, testing::SearchPage(tree.root(), "needle", nullptr));
    EXPECT_NE(page.find("/a.htm</a> - 1 hit(s)"), std::string::npos)
        << (watch ? "watched" : "stamped");
    munmap(mapping, kLength);
    close(file);
  }
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
  // Made once, then walked from memory: its listing, or the snapshot of
  // the walk that made it.
  EXPECT_EQ(cache->GetStats().listings_made, 1u);
  EXPECT_EQ(cache->GetStats().listings_reused + cache->GetStats().snapshots_used,
            2u);
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
