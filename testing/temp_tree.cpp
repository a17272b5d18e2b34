#include "testing/temp_tree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tavik::testing {
namespace {

namespace fs = std::filesystem;

// Trees go below $TAVIK_TEST_TMPDIR when it is set, else the system's
// temporary folder. Under Wine the variable keeps them on the current drive,
// so that their paths work as extra paths without a drive letter.
fs::path TreeBase() {
  const char* base = std::getenv("TAVIK_TEST_TMPDIR");
  return base != nullptr && *base != '\0' ? fs::path(base)
                                          : fs::temp_directory_path();
}

// The path in the form an extra path takes: no drive letter, "/" between
// components.
std::string RequestForm(const fs::path& path) {
  std::string text = path.string();
  if (text.size() >= 2 && text[1] == ':') text.erase(0, 2);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

TempTree::TempTree() {
  static std::atomic<unsigned> counter{0};
  const fs::path base = TreeBase();
  const auto stamp =
      std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / ("tavik-" + std::to_string(stamp % 1000000007) + "-" +
                std::to_string(counter++));
    std::error_code error;
    fs::create_directories(base, error);
    if (fs::create_directory(candidate, error)) {
      root_ = RequestForm(candidate);
      return;
    }
  }
  ADD_FAILURE() << "cannot make a temporary folder in " << base;
}

TempTree::~TempTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string TempTree::Path(std::string_view relative) const {
  return root_ + "/" + std::string(relative);
}

void TempTree::Write(std::string_view relative,
                     std::string_view content) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void TempTree::MakeFolder(std::string_view relative) const {
  fs::create_directories(Path(relative));
}

void TempTree::Link(std::string_view relative,
                    const std::string& target) const {
  const fs::path path = Path(relative);
  fs::create_directories(path.parent_path());
  fs::create_symlink(target, path);
}

}  // namespace tavik::testing
