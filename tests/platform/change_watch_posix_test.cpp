// The system's change notification as the summary cache relies on it: the
// event each change of a watched folder or file gives, whatever name the
// change goes through.
#include "platform/change_watch.h"

#include <fcntl.h>
#include <sched.h>
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
  // Opened, written, closed after writing: an open, then changes.
  Append(other, "y");
  seen = Drain(watch);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front().kind, Kind::kOpened);
  for (size_t k = 1; k < seen.size(); ++k) EXPECT_EQ(seen[k].kind, Kind::kItself);
  // Opened and closed by a reader: no change.
  close(open(other.c_str(), O_RDONLY));
  EXPECT_EQ(Drain(watch), (std::vector<Seen>{{Kind::kOpened, "", false},
                                             {Kind::kClosed, "", false}}));
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

// The first process of a PID namespace opens a queue, then forks a child
// into a namespace of its own, where the child is the first process too:
// the same process number, and still not the queue's owner.
TEST(ChangeWatch, AChildInANewPidNamespaceIsNoOwnerEither) {
  const pid_t outer = fork();
  if (outer == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(77);
    const pid_t first = fork();
    if (first == 0) {
      ChangeWatch watch;
      if (getpid() != 1 || !watch.Open()) _exit(3);
      if (unshare(CLONE_NEWPID) != 0) _exit(77);
      const pid_t child = fork();
      if (child == 0) {
        Recorder recorder;
        _exit(getpid() == 1 && !watch.Available() &&
                      !watch.ReadEvents(recorder)
                  ? 0
                  : 1);
      }
      int status = 0;
      waitpid(child, &status, 0);
      _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    waitpid(first, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
  }
  int status = 0;
  waitpid(outer, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no PID namespaces for this user";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tavik
