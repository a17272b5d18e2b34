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
//
// Besides, changes meant for a tree whose documents have all been searched
// since they were last changed, each of which puts a mark (a word no
// document held before) where only a search that sees the change finds it:
// a rewrite that keeps the document's size and write time, a write through
// a second name outside the tree, and a flood of changes in one folder
// followed by new, changed, renamed and removed documents in another.
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

  // Puts a mark at the start of a document, then sets its write time back
  // to what it was: its size and write time are as before.
  std::string MarkKeepingSizeAndTime();
  // Gives a document a second name in `outside` (a hard link), in place of
  // any it gave before.
  std::string LinkSecondName();
  // Puts a mark at the start of the document LinkSecondName named, writing
  // through the second name only.
  std::string WriteThroughSecondName();
  // Makes `events` changes to the entries of one folder (a file renamed
  // back and forth, then removed), then, in another folder, puts a mark in
  // a document, puts one in a second and renames it, removes a third, and
  // makes a new marked document.
  std::string FloodThenChangeAnotherFolder(uint32_t events);
  // The marks put since the last call, each a term that finds them.
  std::vector<std::string> TakeMarks();

 private:
  std::string Content();
  std::string Line();
  std::string Name(bool folder);
  // Relative paths of what the tree holds now, links not followed.
  std::vector<std::string> Documents() const;
  std::vector<std::string> Folders() const;
  // Relative paths of the regular files a search reads (named *.htm*) and
  // their owner may write, of at least `size` bytes, in `folder` ("": the
  // root) and its subfolders, or in `folder` alone.
  std::vector<std::string> Searched(const std::string& folder, bool below,
                                    uintmax_t size) const;
  // Writes a new mark over the first bytes of the file at full path `path`
  // and returns what it did.
  std::string PutMark(const std::string& path);
  std::string Pick(const std::vector<std::string>& from);
  std::string Full(const std::string& relative) const;
  std::string ChangeDocument(const std::string& document);
  std::string ChangeFolder(const std::string& folder);
  std::string MakeLink();
  std::string SecondName() const { return outside_ + "/second-name"; }

  std::string root_;
  std::string outside_;
  Choices& choices_;
  unsigned next_name_ = 0;
  unsigned next_mark_ = 0;
  std::vector<std::string> marks_;
};

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_TREE_CHANGES_H_
