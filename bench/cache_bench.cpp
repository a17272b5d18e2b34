#include "bench/cache_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <utility>

#include "bench/bench_tools.h"
#include "host/captured_request.h"
#include "host/form_encoding.h"
#include "corpus/summary_cache.h"
#include "testing/search_page.h"

namespace tavik::bench {

const char* CacheModeName(CacheMode mode) {
  switch (mode) {
    case CacheMode::kOff:
      return "no cache";
    case CacheMode::kStamps:
      return "stamps";
    case CacheMode::kWatches:
      return "watches";
  }
  return "";
}

LibraryLoader::LibraryLoader(const std::string& library) : library_(library) {
  char folder[] = "/tmp/tavik-bench-XXXXXX";
  if (mkdtemp(folder) != nullptr) folder_ = folder;
}

LibraryLoader::~LibraryLoader() {
  std::error_code error;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
}

std::unique_ptr<ExtensionLibrary> LibraryLoader::Load(CacheMode mode) const {
  // The library reads its settings when it is loaded.
  setenv("TAVIK_CACHE_MB", mode == CacheMode::kOff ? "0" : "256", 1);
  setenv("TAVIK_CACHE_WATCH", mode == CacheMode::kWatches ? "1" : "0", 1);
  const std::string copy =
      folder_ + "/libtavik-" + std::to_string(++copies_) + ".so";
  std::error_code ignored;
  std::filesystem::copy_file(library_, copy, ignored);
  std::string error;
  auto library = ExtensionLibrary::Load(copy, &error);
  if (!library) std::fprintf(stderr, "tavik-bench: %s\n", error.c_str());
  // The loaded library keeps its mapping; the name is not needed.
  std::filesystem::remove(copy, ignored);
  setenv("TAVIK_CACHE_MB", "0", 1);
  unsetenv("TAVIK_CACHE_WATCH");
  return library;
}

FilledLibraries FillLibraries(const LibraryLoader& loader,
                              const std::string& root, const std::string& term,
                              int requests) {
  FilledLibraries filled = {loader.Load(CacheMode::kStamps),
                            loader.Load(CacheMode::kWatches)};
  const std::string posted = "q=" + FormEncode(term);
  for (const auto* library : {filled.stamps.get(), filled.watches.get()}) {
    for (int request = 0; library != nullptr && request < requests; ++request) {
      RunCapturedRequest(*library, posted, root);
    }
  }
  return filled;
}

std::vector<CacheRow> CacheRows(const LibraryLoader& loader,
                                const FilledLibraries& filled,
                                const std::string& root,
                                const std::string& term, int repetitions,
                                const std::string& page_without_cache,
                                bool* same_pages) {
  const std::string posted = "q=" + FormEncode(term);
  const CacheMode modes[] = {CacheMode::kOff, CacheMode::kStamps,
                             CacheMode::kWatches};
  std::vector<std::vector<double>> times(std::size(modes));
  // The first request varies more than later ones (the loads' first page
  // faults): twice the repetitions and one, the modes taking turns in an
  // order that rotates, so that none is always first.
  for (int repetition = 0; repetition < 2 * repetitions + 1; ++repetition) {
    for (size_t turn = 0; turn < std::size(modes); ++turn) {
      const size_t mode = (turn + static_cast<size_t>(repetition)) %
                          std::size(modes);
      const auto library = loader.Load(modes[mode]);
      if (!library) return {};
      const auto start = std::chrono::steady_clock::now();
      const CapturedResponse response =
          RunCapturedRequest(*library, posted, root);
      times[mode].push_back(std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - start)
                                .count());
      if (response.AsHttp() != page_without_cache) *same_pages = false;
    }
  }
  std::vector<CacheRow> rows;
  for (size_t mode = 0; mode < std::size(modes); ++mode) {
    std::sort(times[mode].begin(), times[mode].end());
    rows.push_back({std::string(CacheModeName(modes[mode])) + ", first",
                    times[mode][times[mode].size() / 2]});
  }
  for (const auto& [mode, library] :
       {std::pair{CacheMode::kStamps, filled.stamps.get()},
        std::pair{CacheMode::kWatches, filled.watches.get()}}) {
    if (library == nullptr) continue;
    if (RunCapturedRequest(*library, posted, root).AsHttp() !=
        page_without_cache) {
      *same_pages = false;
    }
    rows.push_back({std::string(CacheModeName(mode)) + ", again",
                    MedianMilliseconds(repetitions, [&] {
                      RunCapturedRequest(*library, posted, root);
                    })});
  }
  return rows;
}

FillReport MeasureFill(const std::string& root, const std::string& fill_term,
                       const std::vector<std::string>& probes, bool watch,
                       int max_requests) {
  SummaryCache::Options options;
  options.watch_changes = watch;
  const auto cache = SummaryCache::Create(options);
  FillReport report;
  if (!cache) return report;
  report.watching = cache->watching();
  for (int request = 1; request <= max_requests; ++request) {
    const uint64_t before = cache->GetStats().summaries_stored;
    testing::SearchPage(root, fill_term, cache.get());
    report.requests = request;
    if (request > 1 && cache->GetStats().summaries_stored == before) break;
  }
  for (const std::string& term : probes) {
    const SummaryCache::Stats before = cache->GetStats();
    const std::string page = testing::SearchPage(root, term, cache.get());
    const SummaryCache::Stats after = cache->GetStats();
    FillReport::Probe probe;
    probe.term = term;
    probe.has_hits = page.find("No hits found") == std::string::npos;
    probe.read = after.documents_read - before.documents_read;
    probe.documents = probe.read + after.documents_skipped -
                      before.documents_skipped;
    report.probes.push_back(probe);
  }
  const SummaryCache::Stats stats = cache->GetStats();
  report.summaries = stats.summaries;
  report.bytes = stats.bytes;
  return report;
}

void PrintFill(double megabytes, const FillReport& fill,
               const std::string& fill_term) {
  std::printf(
      "  summary cache with %s: filled by \"%s\" in %d requests; %zu "
      "summaries, %.2f MB kept, %.3f MB per searched MB\n",
      fill.watching ? "watches" : "stamps", fill_term.c_str(), fill.requests,
      fill.summaries, static_cast<double>(fill.bytes) / 1e6,
      static_cast<double>(fill.bytes) / 1e6 / megabytes);
  for (const FillReport::Probe& probe : fill.probes) {
    std::printf("    then \"%s\": %zu of %zu documents read",
                probe.term.c_str(), probe.read, probe.documents);
    if (probe.has_hits) {
      std::printf(" (it has hits)\n");
    } else {
      std::printf(", all false positives: %.3f %%\n",
                  probe.documents == 0
                      ? 0.0
                      : 100.0 * static_cast<double>(probe.read) /
                            static_cast<double>(probe.documents));
    }
  }
}

std::vector<CacheVerdict> CacheVerdicts(
    const std::string& tree, const std::string& term, bool absent,
    bool same_pages, const std::function<double(const std::string&)>& ms) {
  std::vector<CacheVerdict> verdicts;
  if (ms("watches, first") == 0) return verdicts;
  char text[256];
  std::snprintf(text, sizeof text, "%s, \"%s\": the same pages with the cache",
                tree.c_str(), term.c_str());
  verdicts.push_back({same_pages, text});
  for (const char* mode : {"stamps", "watches"}) {
    const double first = ms(std::string(mode) + ", first");
    const double off = ms("no cache, first");
    std::snprintf(text, sizeof text,
                  "%s, \"%s\", first request with %s: %.3f x without the "
                  "cache (required <= 1.1)",
                  tree.c_str(), term.c_str(), mode, first / off);
    verdicts.push_back({first <= 1.1 * off, text});
  }
  if (absent) {
    const double rg = ms("rg -j1");
    const double watches = ms("watches, again");
    const double stamps = ms("stamps, again");
    std::snprintf(text, sizeof text,
                  "%s, absent term again with watches: %.2f ms = 1/%.0f of "
                  "rg -j1 (required <= 1/20)",
                  tree.c_str(), watches, rg / watches);
    verdicts.push_back({watches * 20 <= rg, text});
    std::snprintf(text, sizeof text,
                  "%s, absent term again with stamps: %.2f ms = 1/%.1f of "
                  "rg -j1 (required <= 1/2)",
                  tree.c_str(), stamps, rg / stamps);
    verdicts.push_back({stamps * 2 <= rg, text});
  }
  return verdicts;
}

}  // namespace tavik::bench
