#include "bench/cache_scale.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "bench/bench_tools.h"
#include "corpus/summary_cache.h"
#include "host/captured_request.h"
#include "host/form_encoding.h"
#include "testing/search_page.h"

namespace tavik::bench {
namespace {

constexpr const char* kAbsent = "zzqxv";
constexpr const char* kRare = "Quokka";
// Requests before the steady state is timed, and the requests timed.
constexpr int kWarmRequests = 100;
constexpr int kTimedRequests = 400;
constexpr int kMaxFillRequests = 60;

// The time of one request for `term` once a fresh load has answered
// kWarmRequests of them: the least, over `rounds` loads, of the mean of
// kTimedRequests more.
double SteadyMilliseconds(const LibraryLoader& loader, const std::string& root,
                          const std::string& term, int rounds) {
  const std::string posted = "q=" + FormEncode(term);
  double best = 1e300;
  for (int round = 0; round < rounds; ++round) {
    const auto library = loader.Load(CacheMode::kWatches);
    if (!library) return 0;
    for (int k = 0; k < kWarmRequests; ++k) {
      RunCapturedRequest(*library, posted, root);
    }
    const double ms = ElapsedMilliseconds([&] {
      for (int k = 0; k < kTimedRequests; ++k) {
        RunCapturedRequest(*library, posted, root);
      }
    });
    best = std::min(best, ms / kTimedRequests);
  }
  return best;
}

}  // namespace

void MeasureCacheScale(const LibraryLoader& loader, const MeasuredTree& tree,
                       int rounds) {
  const double rg = tree.rg_ms(kAbsent);
  const double absent = SteadyMilliseconds(loader, tree.root, kAbsent, rounds);
  const double rare = SteadyMilliseconds(loader, tree.root, kRare, rounds);

  // The fill, through the request layer, which tells what each request
  // stored: the line search's absent term, request after request.
  SummaryCache::Options options;
  const auto cache = SummaryCache::Create(options);
  int requests = 0;
  double first = 0;
  double first_ten = 0;
  for (; requests < kMaxFillRequests; ++requests) {
    const uint64_t before = cache->GetStats().summaries_stored;
    const double ms =
        ElapsedMilliseconds([&] { testing::SearchPage(tree.root, kAbsent, cache.get()); });
    if (requests == 0) first = ms;
    if (requests < 10) first_ten += ms;
    if (requests > 0 && cache->GetStats().summaries_stored == before) break;
  }
  const double off = ElapsedMilliseconds(
      [&] { testing::SearchPage(tree.root, kAbsent, nullptr); });
  const SummaryCache::Stats stats = cache->GetStats();

  std::printf(
      "| %s | %zu | %.0f | %.1f ms | %.3f ms | %.3f us | %.3f ms | %d | %.2f "
      "| %.1f ms | %.3f |\n",
      tree.name.c_str(), tree.documents, tree.megabytes, rg, absent,
      absent * 1000 / static_cast<double>(tree.documents), rare, requests,
      static_cast<double>(stats.bytes) / 1e6 / tree.megabytes, first_ten / 10,
      first / off);
  std::fflush(stdout);
}

void PrintCacheScaleHeader() {
  std::printf(
      "\nThe summary cache at scale (watches; a repeated request: the least "
      "over loads of the mean of %d requests after %d; the fill: line "
      "searches for \"%s\" until one stores no summary, the first ten "
      "requests' mean, and the first request against the same search "
      "without the cache):\n\n",
      kTimedRequests, kWarmRequests, kAbsent);
  std::printf(
      "| tree | documents | MB | rg -j1 absent | repeated absent | per "
      "document | repeated rare | requests to fill | MB kept per MB | first "
      "ten requests | first / no cache |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
}

}  // namespace tavik::bench
