// The summary cache held to the search without it: random trees, then
// rounds of random changes of every kind (some searched at once, inside the
// window in which new summaries are not trusted, some after it), each
// followed by searches for terms of every kind; every page must equal the
// page of the same search without a cache, byte for byte. With change
// notification and with stamps alone.
//
// A few times a seed the tree settles: the round waits past the window and
// searches, so that every document has been read since it last changed and
// every summary can be used. The round after makes one kind of change a
// cache could miss then, each putting a mark (a word no document held
// before) where only a search that sees the change finds it, and searches
// the marks: a write through a second name, outside the tree, made before
// the tree settled; a rewrite that keeps the size and the write time; more
// events in one folder than the system queues, then new, changed, renamed
// and removed documents in another; and the root, given through a symbolic
// link, turned to another folder (and turned back the round after).
#include "corpus/summary_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/search_page.h"
#include "testing/temp_tree.h"
#include "testing/tree_changes.h"

namespace tavik {
namespace {

namespace fs = std::filesystem;

// Far above any file system's timestamp granularity, far below 2 s.
constexpr auto kTrustDelay = std::chrono::milliseconds(50);
constexpr int kRounds = 40;
// Rounds 7, 15, 23, 31 and 39 settle; rounds 8, 16, 24 and 32 make the
// changes above, one kind each, so that none hides another.
constexpr int kSettleEvery = 8;
// What the other folder the root is turned to holds.
constexpr char kElsewhereTerm[] = "turned elsewhere";

SummaryCache::Options TestOptions(bool watch) {
  SummaryCache::Options options;
  options.max_bytes = size_t{8} << 20;
  options.watch_changes = watch;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  return options;
}

// More change events than the system's queue holds (on Linux its setting,
// 16,384 by default), so that some are lost.
uint32_t MoreEventsThanTheQueueHolds() {
  uint32_t held = 16384;
  std::ifstream setting("/proc/sys/fs/inotify/max_queued_events");
  if (uint32_t read; setting >> read) held = read;
  return held + held / 8;
}

// Points the symbolic link at `link` to the folder `target`; false when the
// system makes no such links.
bool PointLink(const std::string& link, const std::string& target) {
  std::error_code error;
  fs::remove(link, error);
  fs::create_directory_symlink(target, link, error);
  return !error;
}

class CacheDifferential
    : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(CacheDifferential, PagesEqualThoseWithoutTheCache) {
  const auto [seed, watch] = GetParam();
  testing::TempTree tree;
  testing::TempTree outside;
  testing::TempTree links;
  testing::SeededChoices choices(seed);
  testing::TreeChanger changer(tree.root(), outside.root(), choices);
  changer.MakeTree(50);
  links.Write("elsewhere/e.htm", std::string(kElsewhereTerm) + "\n");
  const std::string link = links.Path("root");
  const bool linked = PointLink(link, tree.root());
  const std::string root = linked ? link : tree.root();
  const auto cache = SummaryCache::Create(TestOptions(watch));
  ASSERT_NE(cache, nullptr);
  if (watch && !cache->watching()) {
    GTEST_SKIP() << "no change notification here: the same as with stamps";
  }
  std::string changes;
  bool turned = false;  // the root's link leads elsewhere
  // The word searches of the round before, searched again after this
  // round's changes: an answer kept from before must not outlive them.
  std::vector<std::string> again;
  for (int round = 0; round < kRounds; ++round) {
    const bool settles = round % kSettleEvery == kSettleEvery - 1;
    const int planted = round % kSettleEvery == 0 ? round / kSettleEvery : 0;
    if (turned) {
      ASSERT_TRUE(PointLink(link, tree.root()));
      changes += "root turned back; ";
      turned = false;
    }
    // Terms that find what this round's changes put in the tree.
    std::vector<std::string> found;
    switch (planted) {
      case 1:
        changes += changer.WriteThroughSecondName() + "; ";
        break;
      case 2:
        changes += changer.MarkKeepingSizeAndTime() + "; ";
        break;
      case 3:
        // Only watches have events to lose.
        changes += changer.FloodThenChangeAnotherFolder(
                       cache->watching() ? MoreEventsThanTheQueueHolds() : 0) +
                   "; ";
        break;
      case 4:
        if (!linked) break;
        ASSERT_TRUE(PointLink(link, links.Path("elsewhere")));
        changes += "root turned elsewhere; ";
        turned = true;
        found.push_back(kElsewhereTerm);
        break;
      default:
        for (uint32_t count = round == 0 ? 0 : 1 + choices.Below(3); count > 0;
             --count) {
          changes += changer.Change() + "; ";
        }
    }
    const std::vector<std::string> marks = changer.TakeMarks();
    found.insert(found.end(), marks.begin(), marks.end());
    std::vector<std::string> terms = found;
    if (settles) {
      changes += changer.LinkSecondName() + "; ";
      std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
      // Absent: every folder and every document is read to its end.
      terms.push_back("zq" + std::to_string(round) + "xv");
    } else if (planted == 0 && choices.Chance(50)) {
      std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
    }
    while (terms.size() < found.size() + 5) terms.push_back(changer.Term());
    for (const std::string& query : again) {
      EXPECT_EQ(testing::WordSearchPage(root, query, true, cache.get()),
                testing::WordSearchPage(root, query, true, nullptr))
          << "word search again: seed " << seed << ", round " << round
          << ", query \"" << query << "\" after: " << changes;
    }
    again.clear();
    for (size_t index = 0; index < terms.size(); ++index) {
      const std::string& term = terms[index];
      const std::string expected = testing::SearchPage(root, term, nullptr);
      EXPECT_EQ(testing::SearchPage(root, term, cache.get()), expected)
          << "seed " << seed << ", round " << round << ", term \"" << term
          << "\" after: " << changes;
      if (index < found.size()) {
        EXPECT_NE(expected.find(" hit(s)"), std::string::npos)
            << "the change left nothing to find: seed " << seed << ", round "
            << round << ", term \"" << term << "\" after: " << changes;
      }
      // The word search, with summaries of its own, answers the same with
      // and without the cache too: for the marks and two terms more (the
      // absent one, when the round settles), which keeps the test's time
      // in bounds where file access is slow (under Wine).
      if (index >= found.size() + 2) continue;
      if (cache->watching()) again.push_back(term);
      const std::string words = testing::WordSearchPage(root, term, true, nullptr);
      EXPECT_EQ(testing::WordSearchPage(root, term, true, cache.get()), words)
          << "word search: seed " << seed << ", round " << round << ", query \""
          << term << "\" after: " << changes;
    }
    // Every term of the round is tried; the rounds after a difference would
    // tell nothing more.
    if (HasFailure()) return;
  }
  // The cache did its work: documents ruled out, and with change
  // notification, folders walked and summaries used from memory, and
  // events lost.
  const SummaryCache::Stats stats = cache->GetStats();
  EXPECT_GT(stats.documents_skipped, 0u);
  if (cache->watching()) {
    EXPECT_GT(stats.listings_reused, 0u);
    EXPECT_GT(stats.records_trusted, 0u);
    EXPECT_GT(stats.losses, 0u);
    EXPECT_GT(stats.snapshots_used, 0u);
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
