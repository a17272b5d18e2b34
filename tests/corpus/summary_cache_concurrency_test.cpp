// Requests on eight threads share one summary cache while another thread
// changes the tree in every way it can: classic searches and word searches
// in turn, the word searches' answers kept and used again while files are
// held open by the others' reads. Nothing may crash or race (the thread
// checker runs this), and once the changes stop, every page must be the
// page of the same search without the cache.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/temp_tree.h"
#include "testing/tree_changes.h"

namespace tavik {
namespace {

constexpr auto kTrustDelay = std::chrono::milliseconds(20);
constexpr int kChanges = 150;
constexpr int kThreads = 8;

class SharedCache : public ::testing::TestWithParam<bool> {};

TEST_P(SharedCache, PagesSettleToThoseWithoutTheCache) {
  testing::TempTree tree;
  testing::TempTree outside;
  testing::SeededChoices choices(7);
  testing::TreeChanger changer(tree.root(), outside.root(), choices);
  changer.MakeTree(60);
  SummaryCache::Options options;
  options.max_bytes = 256 * 1024;  // small: records go while others read
  options.watch_changes = GetParam();
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  const auto cache = SummaryCache::Create(options);
  ASSERT_NE(cache, nullptr);
  const std::vector<std::string> terms = {"zq1xv", "quokka", "the", "ta",
                                          "alpha beta", "web \n", " \r"};

  std::atomic<bool> changing{true};
  std::vector<std::thread> readers;
  for (int thread = 0; thread < kThreads; ++thread) {
    readers.emplace_back([&, thread] {
      for (size_t search = thread; changing.load(); ++search) {
        const std::string& term = terms[search % terms.size()];
        if (search / terms.size() % 2 == 0) {
          testing::SearchPage(tree.root(), term, cache.get());
        } else {
          testing::WordSearchPage(tree.root(), term, false, cache.get());
        }
      }
    });
  }
  for (int change = 0; change < kChanges; ++change) {
    changer.Change();
    // Some changes made old enough to be trusted while the searches go on.
    std::this_thread::sleep_for(change % 30 == 29 ? kTrustDelay * 2
                                                  : std::chrono::milliseconds(2));
  }
  changing = false;
  for (std::thread& reader : readers) reader.join();

  std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
  std::vector<std::string> expected;
  std::vector<std::string> expected_words;
  for (const std::string& term : terms) {
    expected.push_back(testing::SearchPage(tree.root(), term, nullptr));
    expected_words.push_back(
        testing::WordSearchPage(tree.root(), term, false, nullptr));
  }
  std::vector<int> mismatches(kThreads, 0);
  readers.clear();
  for (int thread = 0; thread < kThreads; ++thread) {
    readers.emplace_back([&, thread] {
      for (int round = 0; round < 3; ++round) {
        for (size_t term = 0; term < terms.size(); ++term) {
          const size_t which = (term + thread) % terms.size();
          if (testing::SearchPage(tree.root(), terms[which], cache.get()) !=
              expected[which]) {
            ++mismatches[thread];
          }
          if (testing::WordSearchPage(tree.root(), terms[which], false,
                                      cache.get()) != expected_words[which]) {
            ++mismatches[thread];
          }
        }
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (int thread = 0; thread < kThreads; ++thread) {
    EXPECT_EQ(mismatches[thread], 0) << "thread " << thread;
  }
  EXPECT_GT(cache->GetStats().documents_skipped, 0u);
}

INSTANTIATE_TEST_SUITE_P(SummaryCache, SharedCache, ::testing::Bool(),
                         [](const auto& info) {
                           return info.param ? "Watched" : "Stamped";
                         });

}  // namespace
}  // namespace tavik
