// A root's snapshot held to a plain model of what it promises: the
// documents it hands a search for a term are exactly those whose trusted
// summaries allow the term, and those without one, in the walk's order
// (for a term of more slots than it filters by, at least those).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/temp_tree.h"

namespace tavik {
namespace {

constexpr auto kTrustDelay = std::chrono::milliseconds(50);

TEST(RootSnapshot, HandsOverWhatTheSummariesAllowInOrder) {
  std::mt19937 random(11);
  const char* const words[] = {"quokka", "island", "marsupial", "wallaby",
                               "rottnest", "kangaroo", "bandicoot", "the"};
  testing::TempTree tree;
  for (int k = 0; k < 160; ++k) {
    std::string text;
    for (int w = 0; w < 12; ++w) {
      text += std::string(words[random() % std::size(words)]) +
              std::to_string(random() % 50) + " ";
    }
    tree.Write("f" + std::to_string(k % 7) + "/d" + std::to_string(k) + ".htm",
               text + "\n");
  }
  // A link, which a snapshot hands over every time.
  ASSERT_EQ(symlink(tree.Path("f0/d0.htm").c_str(), tree.Path("link.htm").c_str()), 0);

  SummaryCache::Options options;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  const auto cache = SummaryCache::Create(options);
  if (!cache->watching()) GTEST_SKIP() << "no change notification here";
  std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
  for (int search = 0; search < 2; ++search) {
    testing::SearchPage(tree.root(), "absent", cache.get());
  }
  RootSnapshot* snapshot =
      cache->snapshots().Find(tree.root().c_str(), SummaryKind::kLines);
  ASSERT_NE(snapshot, nullptr);
  ASSERT_EQ(snapshot->size(), 161u);

  const uint32_t epoch = cache->registry().epoch();
  const GrowingArray<WatchRegistry::OpenFile> none;
  for (int round = 0; round < 300; ++round) {
    // Terms from the documents' words and digits, cut or joined, some
    // longer than the slots a snapshot filters by.
    std::string term = words[random() % std::size(words)];
    term += std::to_string(random() % 60);
    if (random() % 3 == 0) term = term.substr(random() % 3, 3 + random() % 4);
    if (random() % 5 == 0) {
      while (term.size() < 40) term += words[random() % std::size(words)];
    }
    for (char& c : term) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const TermSequences sequences(term.data(), term.size());

    std::vector<uint32_t> model;
    for (size_t position = 0; position < snapshot->size(); ++position) {
      const RootSnapshot::Document document = snapshot->document(position);
      const SummaryLookup lookup = cache->summaries().Find(
          document.path, SummaryKind::kLines, sequences, document.listing, epoch);
      if (!lookup.found || !lookup.trusted || lookup.may_occur) {
        model.push_back(static_cast<uint32_t>(position));
      }
    }
    GrowingArray<uint32_t> positions;
    uint64_t left_out = 0;
    uint64_t left_out_bytes = 0;
    snapshot->Candidates(sequences, none, positions, &left_out, &left_out_bytes);
    ASSERT_FALSE(positions.failed());
    const std::vector<uint32_t> given(positions.begin(), positions.end());
    if (sequences.count() <= kMaxSnapshotSlots) {
      EXPECT_EQ(given, model) << term;
    } else {
      EXPECT_TRUE(std::includes(given.begin(), given.end(), model.begin(),
                                model.end()))
          << term;
    }
    EXPECT_EQ(left_out, snapshot->size() - 1 - (given.size() - 1)) << term;
  }
  snapshot->Release();
}

}  // namespace
}  // namespace tavik
