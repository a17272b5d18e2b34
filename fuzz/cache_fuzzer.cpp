// libFuzzer target: for any tree and any sequence of changes to it, a
// search with the summary cache (with stamps alone, and with change
// watches) writes the page the same search writes without it. The input is
// a script, read byte by byte:
//   the tree: its number of documents and every random choice of its making
//   then steps, each chosen by one byte:
//     0-4  a change of any kind (what, where and how from the next bytes)
//     5-7  a search for a term of a random kind
//     8    a search for the next 1-16 bytes as the term (NUL read as "a")
//     9    a pause past the delay before which summaries are not trusted
// A byte past the input's end reads as 0. A difference aborts with the
// term and the changes made.
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/tree_changes.h"

namespace {

namespace fs = std::filesystem;

constexpr auto kTrustDelay = std::chrono::milliseconds(20);
constexpr int kMaxSteps = 24;
constexpr int kMaxPauses = 2;

class InputChoices : public tavik::testing::Choices {
 public:
  InputChoices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Below(uint32_t bound) override { return Byte() % bound; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Done() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

std::string MakeFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr ? base : "/tmp") + "/tavik-cache-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

std::unique_ptr<tavik::SummaryCache> MakeCache(bool watch) {
  tavik::SummaryCache::Options options;
  options.max_bytes = size_t{4} << 20;
  options.watch_changes = watch;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  auto cache = tavik::SummaryCache::Create(options);
  if (!cache) std::abort();
  return cache;
}

void Compare(const std::string& root, const std::string& term,
             tavik::SummaryCache& cache, const char* mode,
             const std::string& expected, const std::string& changes) {
  if (tavik::testing::SearchPage(root, term, &cache) == expected) return;
  std::fprintf(stderr, "with %s, the page for \"%s\" differs after: %s\n",
               mode, term.c_str(), changes.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputChoices choices(data, size);
  const std::string root = MakeFolder();
  const std::string outside = MakeFolder();
  tavik::testing::TreeChanger changer(root, outside, choices);
  changer.MakeTree(4 + choices.Below(16));
  const auto stamped = MakeCache(false);
  const auto watched = MakeCache(true);
  std::string changes;
  int pauses = 0;
  for (int step = 0; step < kMaxSteps && !choices.Done(); ++step) {
    const uint8_t what = choices.Byte() % 10;
    if (what < 5) {
      changes += changer.Change() + "; ";
      continue;
    }
    if (what == 9) {
      if (pauses++ < kMaxPauses) {
        std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(5));
      }
      continue;
    }
    std::string term;
    if (what == 8) {
      for (uint32_t length = 1 + choices.Below(16); length > 0; --length) {
        const char c = static_cast<char>(choices.Byte());
        term += c == '\0' ? 'a' : c;
      }
    } else {
      term = changer.Term();
    }
    const std::string expected = tavik::testing::SearchPage(root, term, nullptr);
    Compare(root, term, *stamped, "stamps", expected, changes);
    Compare(root, term, *watched, "watches", expected, changes);
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::remove_all(outside, ignored);
  return 0;
}
