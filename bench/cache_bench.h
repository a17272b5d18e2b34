// The summary cache's part of the search benchmark: the extension's first
// request on a fresh load of the library (no summary yet) and its repeated
// requests once the cache is full, with the cache off, with stamps alone and
// with change watches; and, through the request layer with the same code,
// how many requests fill the cache, what it keeps, and how many documents a
// search still reads once it is full.
#ifndef TAVIK_BENCH_CACHE_BENCH_H_
#define TAVIK_BENCH_CACHE_BENCH_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/extension_library.h"

namespace tavik::bench {

enum class CacheMode { kOff, kStamps, kWatches };

// The setting's name in the rows.
const char* CacheModeName(CacheMode mode);

// Loads copies of the extension library, each with a cache mode set in the
// environment while it loads, so that every load starts with a cache of
// its own (or none).
class LibraryLoader {
 public:
  // Makes a fresh temporary folder for the copies of `library`.
  explicit LibraryLoader(const std::string& library);
  ~LibraryLoader();
  // A new load in `mode`, of a copy of its own (a path loaded already would
  // give the same library), or nullptr with the reason on standard error.
  std::unique_ptr<ExtensionLibrary> Load(CacheMode mode) const;

 private:
  std::string library_;
  std::string folder_;
  mutable int copies_ = 0;
};

// Loads with stamps alone and with watches, each filled by `requests`
// requests for `term` on `root`.
struct FilledLibraries {
  std::unique_ptr<ExtensionLibrary> stamps;
  std::unique_ptr<ExtensionLibrary> watches;
};
FilledLibraries FillLibraries(const LibraryLoader& loader,
                              const std::string& root, const std::string& term,
                              int requests);

struct CacheRow {
  std::string tool;
  double ms;
};

// The rows for `term` on `root`: the first request of a fresh load in each
// mode (the median of 2 `repetitions` + 1 loads, the modes taking turns),
// then repeated requests on the filled loads (the median of `repetitions`).
// `same_pages` is set false when any of their pages differs from
// `page_without_cache`.
std::vector<CacheRow> CacheRows(const LibraryLoader& loader,
                                const FilledLibraries& filled,
                                const std::string& root,
                                const std::string& term, int repetitions,
                                const std::string& page_without_cache,
                                bool* same_pages);

// What filling the cache through the request layer showed.
struct FillReport {
  bool watching = false;
  int requests = 0;           // requests for the fill term until one added
                              // no summary
  size_t summaries = 0;
  size_t bytes = 0;
  struct Probe {
    std::string term;
    bool has_hits = false;
    size_t documents = 0;     // documents the walk reached
    size_t read = 0;          // of them, read
  };
  std::vector<Probe> probes;  // one search each, once filled
};

// Fills a cache with requests for `fill_term` on `root`, at most
// `max_requests`, then searches once for each of `probes`.
FillReport MeasureFill(const std::string& root, const std::string& fill_term,
                       const std::vector<std::string>& probes, bool watch,
                       int max_requests);

// Prints what MeasureFill showed for a tree of `megabytes` searched MB,
// filled by `fill_term`.
void PrintFill(double megabytes, const FillReport& fill,
               const std::string& fill_term);

struct CacheVerdict {
  bool met;
  std::string text;
};

// The cache's targets for the rows of `term` on the tree `tree` (`absent`:
// the absent term), whose milliseconds `ms` gives by row name (0 for a row
// not measured), and whose pages with the cache were the same as without
// when `same_pages`.
std::vector<CacheVerdict> CacheVerdicts(
    const std::string& tree, const std::string& term, bool absent,
    bool same_pages, const std::function<double(const std::string&)>& ms);

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_CACHE_BENCH_H_
