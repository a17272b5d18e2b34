// What the search benchmark needs around the searches it times: the list of
// documents a search reads, running other programs, timing and the page
// cache. Linux only; the benchmark is a development tool, not product code.
#ifndef TAVIK_BENCH_BENCH_TOOLS_H_
#define TAVIK_BENCH_BENCH_TOOLS_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tavik::bench {

// The documents below `root` in the order the extension's walk reads them:
// in each folder the entries that match "*.htm" and are regular files (a
// link to one included), then every sub-folder, depth first, links to
// folders not followed.
std::vector<std::string> ListDocuments(const std::string& root);

// Runs `argv` with `environment` added to this process's own, standard
// output and error to /dev/null, and returns its exit status, or -1 when it
// cannot be run.
int RunQuietly(const std::vector<std::string>& argv,
               const std::vector<std::string>& environment = {});

// Runs `argv` and returns its standard output (empty when it fails).
std::string CaptureOutput(const std::vector<std::string>& argv);

// A tree a benchmark measures, beside `rg -j1` on it.
struct MeasuredTree {
  std::string name;
  std::string root;
  size_t documents = 0;
  double megabytes = 0;
  // Milliseconds `rg -j1` takes to search the tree for a term.
  std::function<double(const std::string&)> rg_ms;
};

// Milliseconds one call of `work` takes.
double ElapsedMilliseconds(const std::function<void()>& work);

// Milliseconds that one call of `work` takes: the median of `repetitions`
// calls. `before_each`, if given, runs before every call, outside the time.
double MedianMilliseconds(int repetitions, const std::function<void()>& work,
                          const std::function<void()>& before_each = {});

// Writes back dirty pages and drops the page cache, dentries and inodes.
// Returns false when this process may not (not root, or a container that
// keeps /proc/sys read-only).
bool DropCaches();

}  // namespace tavik::bench

#endif  // TAVIK_BENCH_BENCH_TOOLS_H_
