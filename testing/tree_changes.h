// A folder tree of documents for the summary cache's differential tests and
// fuzzer, and random changes to it of every kind a search must see: writes,
// appends, truncation, same-size rewrites with their write time set back,
// times set back, renames and deletions of documents and folders, new
// documents and folders, folders replaced by files and files by folders,
// permission changes, and symbolic links made and retargeted (to documents
// inside and outside the tree, and to folders). Where the system refuses a
// change (links on some systems), the change does nothing. Terms to search
// for come with it: absent, rare, common (to the hit cap), short, ending in a
// line feed, and holding a CR.
#ifndef TAVIK_TESTING_TREE_CHANGES_H_
#define TAVIK_TESTING_TREE_CHANGES_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tavik::testing {

// Where a changer's choices come from.
class Choices {
 public:
  virtual ~Choices() = default;
  // A number in [0, bound). REQUIRES: bound > 0.
  virtual uint32_t Below(uint32_t bound) = 0;
  bool Chance(uint32_t percent) { return Below(100) < percent; }
};

class SeededChoices : public Choices {
 public:
  explicit SeededChoices(uint32_t seed) : random_(seed) {}
  uint32_t Below(uint32_t bound) override {
    return std::uniform_int_distribution<uint32_t>(0, bound - 1)(random_);
  }

 private:
  std::mt19937 random_;
};

class TreeChanger {
 public:
  // `root` is the tree's folder and `outside` a folder beside it, which
  // links in the tree may lead into; both exist. Paths use "/".
  TreeChanger(std::string root, std::string outside, Choices& choices);

  // Fills the tree with about `documents` documents in a few folders, and
  // `outside` with a few of its own.
  void MakeTree(size_t documents);
  // Makes one random change and says what it did.
  std::string Change();
  // A term of a random kind, as a user types it.
  std::string Term();

 private:
  std::string Content();
  std::string Line();
  std::string Name(bool folder);
  // Relative paths of what the tree holds now, links not followed.
  std::vector<std::string> Documents() const;
  std::vector<std::string> Folders() const;
  std::string Pick(const std::vector<std::string>& from);
  std::string Full(const std::string& relative) const;
  std::string ChangeDocument(const std::string& document);
  std::string ChangeFolder(const std::string& folder);
  std::string MakeLink();

  std::string root_;
  std::string outside_;
  Choices& choices_;
  unsigned next_name_ = 0;
};

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_TREE_CHANGES_H_
