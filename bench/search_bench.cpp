// tavik-bench: times a whole search through the extension's exported entry
// point against ripgrep, grep, an I/O floor and the plain line reader, on the
// same documents in one run, and prints the times, the ratios and whether
// the targets are met. Not a test: the figures depend on the machine.
// The row "(walk only)" is the extension's request with a term no document
// can hold: the walk and the request without reading a document. The rows
// "extension" are with the summary cache off; the cache's rows follow (see
// cache_bench.h).
//
// usage: tavik-bench --library PATH [--repetitions N] [--cold-repetitions N]
//                    NAME=ROOT...
// Exits with 0 when every required target is met (the aim may be missed).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_tools.h"
#include "bench/cache_bench.h"
#include "bench/cache_scale.h"
#include "bench/summary_sizes.h"
#include "bench/word_bench.h"
#include "host/captured_request.h"
#include "host/extension_library.h"
#include "host/form_encoding.h"
#include "platform/ascii.h"
#include "platform/readable_file.h"
#include "testing/text_reader.h"
#include "testing/plain_hit_count.h"

namespace tavik::bench {
namespace {

constexpr int kHitCap = 256;
constexpr size_t kFloorBlock = 64 * 1024;
const char* const kTerms[] = {"zzqxv", "Quokka", "the"};
// Rare words for the word search: the first that between 0.2 % and 5 % of a
// tree's documents hold is searched for; and a word nearly all hold.
const char* const kRareWords[] = {"Quokka", "deadlock"};
const char* const kCommonWord = "the";
// More terms for the summaries' false positives, of 3 to 8 bytes.
const char* const kProbeTerms[] = {"qzx", "zqjv", "xqzjw", "jqxzvkw",
                                   "wqzxjvkq"};
// The most requests the benchmark lets the cache take to fill.
constexpr int kMaxFillRequests = 300;
const char* const kRgGlob = "*.htm*";
const char* const kGrepInclude = "*.[Hh][Tt][Mm]*";

struct Tree {
  std::string name;
  std::string root;
  std::vector<std::string> documents;
  double megabytes = 0;
  // Whether rg and grep are given the root with a name filter (true when
  // their filters pick exactly the extension's documents) or every document
  // by name.
  bool rg_filter_agrees = false;
  bool grep_filter_agrees = false;
};

struct Options {
  std::string library;
  int repetitions = 7;
  int cold_repetitions = 3;
  // Only the cache at scale (see cache_scale.h), on every tree.
  bool scale = false;
  std::vector<Tree> trees;
};

// Reads every document once: open, read in 64 KiB blocks, close.
void ReadEverything(const Tree& tree) {
  static char block[kFloorBlock];
  for (const std::string& path : tree.documents) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) continue;
    while (read(file, block, sizeof block) > 0) {
    }
    close(file);
  }
}

// The search as the plain reader makes it: each document in walk order,
// piece by piece, upper-cased and searched with strstr, to the hit cap.
int PlainReaderHits(const Tree& tree, const std::string& term) {
  std::string upper = term;
  AsciiUpperInPlace(upper.data());
  long hits = 0;
  for (const std::string& path : tree.documents) {
    const long found = testing::PlainHitCount(path.c_str(), upper.c_str(),
                                              kHitCap - hits);
    if (found > 0) hits += found;
    if (hits == kHitCap) break;
  }
  return static_cast<int>(hits);
}

// The hit count a result page reports; kHitCap for the overflow message.
int PageHits(const std::string& body) {
  if (body.find("narrow your search") != std::string::npos) return kHitCap;
  const size_t summary = body.rfind("<p><p><p><b>");
  if (summary == std::string::npos) return 0;
  return std::atoi(body.c_str() + summary + 12);
}

std::vector<std::string> RgCommand(const Tree& tree, const std::string& term) {
  std::vector<std::string> argv = {
      "rg", "-j1", "-c", "-i", "-F", "--hidden", "--no-ignore", "--no-config"};
  if (tree.rg_filter_agrees) {
    argv.insert(argv.end(), {"--iglob", kRgGlob, "--", term, tree.root});
  } else {
    argv.insert(argv.end(), {"--", term});
    argv.insert(argv.end(), tree.documents.begin(), tree.documents.end());
  }
  return argv;
}

std::vector<std::string> GrepCommand(const Tree& tree,
                                     const std::string& term) {
  std::vector<std::string> argv = {"grep", "-c", "-i", "-F"};
  if (tree.grep_filter_agrees) {
    argv.insert(argv.end(), {"-r", std::string("--include=") + kGrepInclude,
                             "--", term, tree.root});
  } else {
    argv.insert(argv.end(), {"--", term});
    argv.insert(argv.end(), tree.documents.begin(), tree.documents.end());
  }
  return argv;
}

// Sets the agreement flags: the documents rg lists with its filter, and the
// regular files whose names grep's filter takes, against the extension's.
void CheckFilters(Tree* tree) {
  const std::set<std::string> ours(tree->documents.begin(),
                                   tree->documents.end());
  std::set<std::string> rg_files;
  const std::string listed =
      CaptureOutput({"rg", "--files", "--hidden", "--no-ignore", "--no-config",
                     "--iglob", kRgGlob, tree->root});
  for (size_t at = 0, end; (end = listed.find('\n', at)) != std::string::npos;
       at = end + 1) {
    rg_files.insert(listed.substr(at, end - at));
  }
  tree->rg_filter_agrees = rg_files == ours;
  std::set<std::string> grep_files;
  const std::string found =
      CaptureOutput({"find", tree->root, "-type", "f", "-name", kGrepInclude});
  for (size_t at = 0, end; (end = found.find('\n', at)) != std::string::npos;
       at = end + 1) {
    grep_files.insert(found.substr(at, end - at));
  }
  tree->grep_filter_agrees = grep_files == ours;
}

struct Row {
  std::string tool;
  double ms;
};

struct TermResult {
  std::string term;
  std::vector<Row> rows;  // extension, rg, grep, floor, plain reader, cache
  int extension_hits = 0;
  int plain_hits = 0;
  bool same_pages_with_cache = true;
  double Ms(const std::string& tool) const {
    for (const Row& row : rows) {
      if (row.tool == tool) return row.ms;
    }
    return 0;
  }
};

// The cache's loads for one tree, for the warm runs.
struct CacheSetup {
  const LibraryLoader* loader;
  const FilledLibraries* filled;
};

TermResult MeasureTerm(const ExtensionLibrary& library, const Tree& tree,
                       const std::string& term, int repetitions, bool cold,
                       const CacheSetup* cache = nullptr) {
  const std::function<void()> before =
      cold ? std::function<void()>([] { DropCaches(); })
           : std::function<void()>();
  const std::string posted = "q=" + FormEncode(term);
  TermResult result;
  result.term = term;
  result.extension_hits =
      PageHits(RunCapturedRequest(library, posted, tree.root).Body());
  result.plain_hits = PlainReaderHits(tree, term);

  const auto time = [&](const std::string& tool,
                        const std::function<void()>& work) {
    if (!cold) work();  // warms the cache and the code
    result.rows.push_back(
        {tool, MedianMilliseconds(repetitions, work, before)});
  };
  time("extension", [&] { RunCapturedRequest(library, posted, tree.root); });
  const auto rg = RgCommand(tree, term);
  time("rg -j1", [&] { RunQuietly(rg); });
  const auto grep = GrepCommand(tree, term);
  time("grep", [&] { RunQuietly(grep, {"LC_ALL=C"}); });
  time("I/O floor", [&] { ReadEverything(tree); });
  time("plain reader", [&] { PlainReaderHits(tree, term); });
  if (term == kTerms[0]) {
    // What the extension spends besides reading: the same request with a
    // term longer than a piece, which no document can hold, so none is read.
    const std::string unreadable = "q=" + std::string(kMaxPieceLength + 1, 'x');
    time("(walk only)",
         [&] { RunCapturedRequest(library, unreadable, tree.root); });
  }
  if (cache != nullptr) {
    const std::string page =
        RunCapturedRequest(library, posted, tree.root).AsHttp();
    for (const CacheRow& row :
         CacheRows(*cache->loader, *cache->filled, tree.root, term,
                   repetitions, page, &result.same_pages_with_cache)) {
      result.rows.push_back({row.tool, row.ms});
    }
  }
  return result;
}

struct Verdict {
  bool met;
  std::string text;
  // An aim is reported but does not fail the run.
  bool aim = false;
};

void PrintBlock(const Tree& tree, const char* temperature,
                const std::vector<TermResult>& results) {
  std::printf("\n%s, %s cache: %zu documents, %.1f MB%s\n", tree.name.c_str(),
              temperature, tree.documents.size(), tree.megabytes,
              tree.rg_filter_agrees && tree.grep_filter_agrees
                  ? "; rg and grep filters take the same documents"
                  : "; rg or grep given the documents by name");
  for (const TermResult& result : results) {
    std::printf(
        "  term \"%s\": hits %d (extension), %d (plain reader)%s\n",
        result.term.c_str(), result.extension_hits, result.plain_hits,
        result.extension_hits == result.plain_hits ? "" : "  DIFFERENT");
    const double rg = result.Ms("rg -j1");
    const double floor = result.Ms("I/O floor");
    for (const Row& row : result.rows) {
      std::printf("    %-17s %9.2f ms  %6.2f x rg  %6.2f x floor\n",
                  row.tool.c_str(), row.ms, row.ms / rg, row.ms / floor);
    }
  }
}

void AddVerdicts(const Tree& tree, const std::vector<TermResult>& results,
                 std::vector<Verdict>* verdicts) {
  char text[256];
  const TermResult& absent = results[0];
  const double extension = absent.Ms("extension");
  std::snprintf(text, sizeof text,
                "%s, absent term: extension %.2f x rg -j1 (required <= 1.0)",
                tree.name.c_str(), extension / absent.Ms("rg -j1"));
  verdicts->push_back({extension <= absent.Ms("rg -j1"), text});
  std::snprintf(text, sizeof text,
                "%s, absent term: extension %.2f x I/O floor (aim <= 1.25)",
                tree.name.c_str(), extension / absent.Ms("I/O floor"));
  verdicts->push_back(
      {extension <= 1.25 * absent.Ms("I/O floor"), text, /*aim=*/true});
  for (const TermResult& result : results) {
    std::snprintf(text, sizeof text,
                  "%s, \"%s\": extension %.2f ms, plain reader %.2f ms "
                  "(never slower)",
                  tree.name.c_str(), result.term.c_str(),
                  result.Ms("extension"), result.Ms("plain reader"));
    verdicts->push_back(
        {result.Ms("extension") <= result.Ms("plain reader"), text});
    std::snprintf(text, sizeof text,
                  "%s, \"%s\": same hits as the plain reader",
                  tree.name.c_str(), result.term.c_str());
    verdicts->push_back({result.extension_hits == result.plain_hits, text});
  }
  for (const TermResult& result : results) {
    for (const CacheVerdict& verdict : CacheVerdicts(
             tree.name, result.term, &result == &absent,
             result.same_pages_with_cache,
             [&](const std::string& tool) { return result.Ms(tool); })) {
      verdicts->push_back({verdict.met, verdict.text});
    }
  }
  const double common = results[2].Ms("extension");
  std::snprintf(text, sizeof text,
                "%s, common term: %.3f ms = 1/%.0f of the absent term "
                "(under 1/20)",
                tree.name.c_str(), common, extension / common);
  verdicts->push_back({common * 20 < extension, text});
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--library" && i + 1 < argc) {
      options->library = argv[++i];
    } else if (argument == "--repetitions" && i + 1 < argc) {
      options->repetitions = std::atoi(argv[++i]);
    } else if (argument == "--scale") {
      options->scale = true;
    } else if (argument == "--cold-repetitions" && i + 1 < argc) {
      options->cold_repetitions = std::atoi(argv[++i]);
    } else if (argument.find('=') != std::string::npos &&
               argument.find('=') > 0) {
      Tree tree;
      tree.name = argument.substr(0, argument.find('='));
      tree.root = argument.substr(argument.find('=') + 1);
      options->trees.push_back(tree);
    } else {
      return false;
    }
  }
  return !options->library.empty() && !options->trees.empty() &&
         options->repetitions > 0 && options->cold_repetitions >= 0;
}

int Main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: tavik-bench --library PATH [--repetitions N] "
                 "[--cold-repetitions N] [--scale] NAME=ROOT...\n");
    return 2;
  }
  std::string error;
  // The rows "extension" are without the summary cache.
  setenv("TAVIK_CACHE_MB", "0", 1);
  const auto library = ExtensionLibrary::Load(options.library, &error);
  if (!library) {
    std::fprintf(stderr, "tavik-bench: %s\n", error.c_str());
    return 1;
  }
  for (Tree& tree : options.trees) {
    tree.documents = ListDocuments(tree.root);
    size_t bytes = 0;
    for (const std::string& path : tree.documents) {
      ReadableFile file;
      static char block[kFloorBlock];
      if (!file.Open(path.c_str())) continue;
      while (const size_t count = file.Read(block, sizeof block))
        bytes += count;
    }
    tree.megabytes = static_cast<double>(bytes) / 1e6;
    CheckFilters(&tree);
  }

  if (options.scale) {
    const LibraryLoader loader(options.library);
    PrintCacheScaleHeader();
    for (const Tree& tree : options.trees) {
      MeasureCacheScale(
          loader,
          {tree.name, tree.root, tree.documents.size(), tree.megabytes,
           [&](const std::string& term) {
             const auto rg = RgCommand(tree, term);
             RunQuietly(rg);
             return MedianMilliseconds(3, [&] { RunQuietly(rg); });
           }},
          3);
    }
    return 0;
  }
  std::printf(
      "Median of %d warm runs (after one warm-up run each) and of %d "
      "cold runs; times per whole search. \"extension\": without the "
      "summary cache; \"MODE, first\": the first request of a fresh load of "
      "the library with no cache, with stamps alone, with watches; \"MODE, "
      "again\": a request once the cache is full; \"watches, after a "
      "change\": the same, each after a document that holds no term "
      "searched is rewritten in the tree.\n",
      options.repetitions, options.cold_repetitions);
  std::vector<Verdict> verdicts;
  const LibraryLoader loader(options.library);
  std::vector<std::string> probes(std::begin(kTerms), std::end(kTerms));
  probes.insert(probes.end(), std::begin(kProbeTerms), std::end(kProbeTerms));
  for (const Tree& tree : options.trees) {
    const FillReport watched =
        MeasureFill(tree.root, kTerms[0], probes, true, kMaxFillRequests);
    const FillReport stamped =
        MeasureFill(tree.root, kTerms[0], probes, false, kMaxFillRequests);
    const int fill_requests =
        std::max(watched.requests, stamped.requests) + 3;
    const FilledLibraries filled =
        FillLibraries(loader, tree.root, kTerms[0], fill_requests);
    const CacheSetup cache = {&loader, &filled};
    std::vector<TermResult> results;
    for (const char* term : kTerms) {
      results.push_back(MeasureTerm(*library, tree, term, options.repetitions,
                                    false, &cache));
    }
    PrintBlock(tree, "warm", results);
    PrintFill(tree.megabytes, watched, kTerms[0]);
    PrintFill(tree.megabytes, stamped, kTerms[0]);
    AddVerdicts(tree, results, &verdicts);

    MeasuredTree words = {tree.name, tree.root, tree.documents.size(),
                          tree.megabytes, [&](const std::string& word) {
                        const auto rg = RgCommand(tree, word);
                        RunQuietly(rg);
                        return MedianMilliseconds(options.repetitions,
                                                  [&] { RunQuietly(rg); });
                      }};
    std::string rare;
    for (const char* word : kRareWords) {
      auto listing = RgCommand(tree, word);
      listing[2] = "-l";  // the documents, not the lines
      const std::string listed = CaptureOutput(listing);
      const auto holding = static_cast<double>(
          std::count(listed.begin(), listed.end(), '\n'));
      const double share = holding / static_cast<double>(tree.documents.size());
      if (share >= 0.002 && share <= 0.05) {
        rare = word;
        break;
      }
    }
    if (rare.empty()) {
      std::printf("\n%s: no rare word for the word search\n", tree.name.c_str());
    } else {
      for (const CacheVerdict& verdict : MeasureWordSearch(
               loader, words, rare, kCommonWord, options.repetitions)) {
        verdicts.push_back({verdict.met, verdict.text});
      }
    }
  }
  // The real tree (the last given) for the summaries by document size.
  MeasureSummarySizes(options.trees.back().documents);

  if (options.cold_repetitions > 0) {
    if (!DropCaches()) {
      std::printf(
          "\nCold cache: not measured; this process cannot drop the "
          "page cache (/proc/sys/vm/drop_caches).\n");
    } else {
      for (const Tree& tree : options.trees) {
        std::vector<TermResult> results;
        for (const char* term : kTerms) {
          results.push_back(MeasureTerm(*library, tree, term,
                                        options.cold_repetitions, true));
        }
        PrintBlock(tree, "cold", results);
      }
    }
  }

  std::printf("\nTargets (warm cache):\n");
  bool required_met = true;
  for (const Verdict& verdict : verdicts) {
    std::printf("  [%s] %s\n",
                verdict.met   ? "met"
                : verdict.aim ? "aim missed"
                              : "NOT MET",
                verdict.text.c_str());
    if (!verdict.met && !verdict.aim) required_met = false;
  }
  return required_met ? 0 : 1;
}

}  // namespace
}  // namespace tavik::bench

int main(int argc, char** argv) { return tavik::bench::Main(argc, argv); }
