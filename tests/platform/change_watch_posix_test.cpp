// The system's change notification as the summary cache relies on it: the
// event each change of a watched folder or file gives, whatever name the
// change goes through.
#include "platform/change_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "testing/temp_tree.h"

namespace tavik {
namespace {

using Kind = ChangeEvent::Kind;

struct Seen {
  Kind kind;
  std::string name;
  bool is_folder;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << static_cast<int>(seen.kind) << " \"" << seen.name << "\""
             << (seen.is_folder ? " folder" : "");
}

class Recorder : public ChangeEventSink {
 public:
  void Take(const ChangeEvent& event) override {
    seen.push_back({event.kind, event.name, event.is_folder});
  }
  std::vector<Seen> seen;
};

std::vector<Seen> Drain(ChangeWatch& watch) {
  Recorder recorder;
  EXPECT_TRUE(watch.ReadEvents(recorder));
  return recorder.seen;
}

void Append(const std::string& path, const char* text) {
  const int file = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(file, 0) << path;
  ASSERT_GT(write(file, text, 1), 0);
  close(file);
}

TEST(ChangeWatch, AFolderReportsItsEntriesAndItself) {
  testing::TempTree tree;
  tree.Write("f/a.htm", "x");
  ChangeWatch watch;
  ASSERT_TRUE(watch.Open());
  const int folder = watch.WatchFolder(tree.Path("f").c_str());
  ASSERT_GE(folder, 0);
  EXPECT_EQ(watch.WatchFolder((tree.Path("f") + "/.").c_str()), folder);
  EXPECT_LT(watch.WatchFolder(tree.Path("f/a.htm").c_str()), 0);

  const std::string f = tree.Path("f");
  const struct {
    std::function<void()> change;
    std::vector<Seen> expected;
  } cases[] = {
      {[&] { tree.Write("f/b.htm", "y"); }, {{Kind::kEntry, "b.htm", false}}},
      {[&] { std::rename((f + "/b.htm").c_str(), (f + "/c.htm").c_str()); },
       {{Kind::kEntry, "b.htm", false}, {Kind::kEntry, "c.htm", false}}},
      {[&] { unlink((f + "/c.htm").c_str()); }, {{Kind::kEntry, "c.htm", false}}},
      {[&] { mkdir((f + "/sub").c_str(), 0755); }, {{Kind::kEntry, "sub", true}}},
      // A file's content is its own watch's business, not its folder's.
      {[&] { Append(f + "/a.htm", "z"); }, {}},
      {[&] { chmod((f + "/a.htm").c_str(), 0600); },
       {{Kind::kEntryChanged, "a.htm", false}}},
      {[&] { chmod(f.c_str(), 0700); }, {{Kind::kItself, "", true}}},
      {[&] { std::rename(f.c_str(), tree.Path("g").c_str()); },
       {{Kind::kItself, "", false}}},
  };
  for (size_t index = 0; index < std::size(cases); ++index) {
    cases[index].change();
    EXPECT_EQ(Drain(watch), cases[index].expected) << "case " << index;
  }
}

TEST(ChangeWatch, AFileReportsChangesThroughEveryName) {
  testing::TempTree tree;
  testing::TempTree elsewhere;
  tree.Write("a.htm", "x");
  ChangeWatch watch;
  ASSERT_TRUE(watch.Open());
  const int file = watch.WatchFile(tree.Path("a.htm").c_str());
  ASSERT_GE(file, 0);
  const std::string other = elsewhere.Path("b.htm");
  ASSERT_EQ(link(tree.Path("a.htm").c_str(), other.c_str()), 0);
  std::vector<Seen> seen = Drain(watch);
  ASSERT_FALSE(seen.empty());  // the new link changed its status
  EXPECT_EQ(seen.front(), (Seen{Kind::kItself, "", false}));
  Append(other, "y");
  seen = Drain(watch);
  ASSERT_FALSE(seen.empty());
  for (const Seen& event : seen) EXPECT_EQ(event.kind, Kind::kItself);
  unlink(other.c_str());
  unlink(tree.Path("a.htm").c_str());
  seen = Drain(watch);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().kind, Kind::kEnded);
}

TEST(ChangeWatch, OnlyFileSystemsWhoseChangesAllPassHereAreSeenWhole) {
  EXPECT_FALSE(ChangesAreAllSeenLocally("/proc"));
  EXPECT_FALSE(ChangesAreAllSeenLocally("/no/such/folder"));
  if (access("/dev/shm", F_OK) == 0) {
    EXPECT_TRUE(ChangesAreAllSeenLocally("/dev/shm"));  // tmpfs
  }
}

TEST(ChangeWatch, AForkedChildNeitherReadsNorWatches) {
  ChangeWatch watch;
  ASSERT_TRUE(watch.Open());
  const pid_t child = fork();
  if (child == 0) {
    Recorder recorder;
    _exit(watch.Available() || watch.ReadEvents(recorder) ||
                  watch.WatchFolder("/") >= 0
              ? 1
              : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(watch.Available());
}

}  // namespace
}  // namespace tavik
