#include "tests/support/temp_tree.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace tavik::testing {

namespace fs = std::filesystem;

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "tavik-XXXXXX").string();
  const char* made = mkdtemp(pattern.data());
  if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
  root_ = pattern;
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
