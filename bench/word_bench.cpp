#include "bench/word_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "bench/bench_tools.h"
#include "corpus/summary_cache.h"
#include "host/captured_request.h"
#include "host/form_encoding.h"
#include "testing/search_page.h"

namespace tavik::bench {
namespace {

// Requests that fill a fresh load's cache before its repeated requests are
// timed: more than the fill takes on the benchmark's trees.
constexpr int kFillRequests = 80;
// The most rounds MeasureMemory takes to fill a cache with both kinds.
constexpr int kMaxMemoryRounds = 300;

struct WordRows {
  double rg = 0;
  double off = 0;          // without the cache
  double first_off = 0;    // a fresh load's first request, no cache
  double first_watch = 0;  // the same with the cache and watches
  double again = 0;        // repeated, the cache filled
  double changed = 0;      // the same, each after a change in the tree
  bool same_answers = true;
  size_t results = 0;
};

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

WordRows MeasureWord(const LibraryLoader& loader, const MeasuredTree& tree,
                     const std::string& word, int repetitions) {
  const std::string query = "q=" + FormEncode(word);
  WordRows rows;
  rows.rg = tree.rg_ms(word);
  const auto off = loader.Load(CacheMode::kOff);
  if (!off) return rows;
  const std::string expected = RunCapturedGet(*off, query, tree.root).AsHttp();
  const size_t summary = expected.find("tavik-summary");
  if (summary != std::string::npos) {
    rows.results = std::strtoul(expected.c_str() + expected.find('>', summary) + 1,
                                nullptr, 10);
  }
  rows.off = MedianMilliseconds(
      repetitions, [&] { RunCapturedGet(*off, query, tree.root); });

  // A fresh load's first request, the two modes taking turns.
  std::vector<double> first_off;
  std::vector<double> first_watch;
  for (int repetition = 0; repetition < 2 * repetitions + 1; ++repetition) {
    for (const bool watch : {repetition % 2 == 0, repetition % 2 != 0}) {
      const auto library =
          loader.Load(watch ? CacheMode::kWatches : CacheMode::kOff);
      if (!library) return rows;
      CapturedResponse response;
      const double ms = ElapsedMilliseconds(
          [&] { response = RunCapturedGet(*library, query, tree.root); });
      (watch ? first_watch : first_off).push_back(ms);
      if (response.AsHttp() != expected) rows.same_answers = false;
    }
  }
  rows.first_off = Median(first_off);
  rows.first_watch = Median(first_watch);

  const auto filled = loader.Load(CacheMode::kWatches);
  if (!filled) return rows;
  for (int request = 0; request < kFillRequests; ++request) {
    RunCapturedGet(*filled, query, tree.root);
  }
  if (RunCapturedGet(*filled, query, tree.root).AsHttp() != expected) {
    rows.same_answers = false;
  }
  rows.again = MedianMilliseconds(
      repetitions, [&] { RunCapturedGet(*filled, query, tree.root); });

  // A document that holds neither word rewritten in the root before each
  // request: what a search made of the whole tree no longer stands, so the
  // walk and the summaries answer.
  const std::string changing = tree.root + "/tavik-bench-change.htm";
  std::vector<double> changed;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    if (FILE* file = std::fopen(changing.c_str(), "w")) {
      std::fprintf(file, "<p>%d</p>\n", repetition);
      std::fclose(file);
    }
    CapturedResponse response;
    changed.push_back(ElapsedMilliseconds(
        [&] { response = RunCapturedGet(*filled, query, tree.root); }));
    if (response.AsHttp() != expected) rows.same_answers = false;
  }
  std::remove(changing.c_str());
  rows.changed = Median(changed);
  return rows;
}

// The memory a cache with watches takes once filled by line searches
// alone, and by line and word searches both, for an absent word.
void MeasureMemory(const MeasuredTree& tree) {
  for (const bool words : {false, true}) {
    SummaryCache::Options options;
    const auto cache = SummaryCache::Create(options);
    if (!cache) return;
    int rounds = 0;
    for (; rounds < kMaxMemoryRounds; ++rounds) {
      const uint64_t before = cache->GetStats().summaries_stored;
      testing::SearchPage(tree.root, "zzqxv", cache.get());
      if (words) testing::WordSearchPage(tree.root, "zzqxv", true, cache.get());
      if (rounds > 0 && cache->GetStats().summaries_stored == before) break;
    }
    const SummaryCache::Stats stats = cache->GetStats();
    std::printf(
        "  summary cache with watches, filled by %s in %d rounds: %zu "
        "summaries, %.2f MB, %.3f MB per searched MB\n",
        words ? "line and word searches" : "line searches alone", rounds,
        stats.summaries, static_cast<double>(stats.bytes) / 1e6,
        static_cast<double>(stats.bytes) / 1e6 / tree.megabytes);
  }
}

}  // namespace

std::vector<CacheVerdict> MeasureWordSearch(const LibraryLoader& loader,
                                            const MeasuredTree& tree,
                                            const std::string& rare,
                                            const std::string& common,
                                            int repetitions) {
  std::vector<CacheVerdict> verdicts;
  std::printf("\n%s, word search by URL (first page, HTML): %zu documents, "
              "%.1f MB\n",
              tree.name.c_str(), tree.documents, tree.megabytes);
  char text[256];
  for (const bool is_rare : {true, false}) {
    const std::string& word = is_rare ? rare : common;
    const WordRows rows = MeasureWord(loader, tree, word, repetitions);
    std::printf("  \"%s\" (%s, %zu results)\n", word.c_str(),
                is_rare ? "rare" : "in nearly every document", rows.results);
    const auto row = [&](const char* tool, double ms) {
      std::printf("    %-26s %9.2f ms  %6.3f x rg\n", tool, ms, ms / rows.rg);
    };
    row("rg -j1", rows.rg);
    row("no cache", rows.off);
    row("no cache, first", rows.first_off);
    row("watches, first", rows.first_watch);
    row("watches, again", rows.again);
    row("watches, after a change", rows.changed);

    std::snprintf(text, sizeof text,
                  "%s, word search \"%s\": the same answers with the cache",
                  tree.name.c_str(), word.c_str());
    verdicts.push_back({rows.same_answers, text});
    std::snprintf(text, sizeof text,
                  "%s, word search \"%s\", first request: %.3f x without the "
                  "cache (required <= 1.1)",
                  tree.name.c_str(), word.c_str(),
                  rows.first_watch / rows.first_off);
    verdicts.push_back({rows.first_watch <= 1.1 * rows.first_off, text});
    if (is_rare) {
      std::snprintf(text, sizeof text,
                    "%s, word search \"%s\" again: %.2f ms = 1/%.0f of rg -j1 "
                    "(required <= 1/20)",
                    tree.name.c_str(), word.c_str(), rows.again,
                    rows.rg / rows.again);
      verdicts.push_back({rows.again * 20 <= rows.rg, text});
    } else {
      std::snprintf(text, sizeof text,
                    "%s, word search \"%s\" again: %.2f x rg -j1 (required "
                    "<= 2)",
                    tree.name.c_str(), word.c_str(), rows.again / rows.rg);
      verdicts.push_back({rows.again <= 2 * rows.rg, text});
    }
  }
  MeasureMemory(tree);
  return verdicts;
}

}  // namespace tavik::bench
