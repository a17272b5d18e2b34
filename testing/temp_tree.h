// A folder tree in a fresh temporary folder, removed with everything in it
// when the object goes out of scope.
#ifndef TAVIK_TESTING_TEMP_TREE_H_
#define TAVIK_TESTING_TEMP_TREE_H_

#include <string>
#include <string_view>

namespace tavik::testing {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The tree's absolute path as an extra path gives it: "/" between
  // components, no drive letter, no trailing slash.
  const std::string& root() const { return root_; }
  // root() + "/" + relative.
  std::string Path(std::string_view relative) const;

  // Writes `content` to the file at `relative`, making its folders.
  void Write(std::string_view relative, std::string_view content) const;
  // Makes the folder at `relative` and its parents.
  void MakeFolder(std::string_view relative) const;
  // Makes a symbolic link at `relative` that points at `target`.
  void Link(std::string_view relative, const std::string& target) const;

 private:
  std::string root_;
};

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_TEMP_TREE_H_
