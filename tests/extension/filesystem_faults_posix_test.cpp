// What the file system can do to a search: refuse access, change or vanish
// while it is read, loop, run deep or wide, hold odd names and odd files.
// Each search must end with the right page and give back every descriptor
// and every byte of memory it took.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "request/escaping.h"
#include "testing/extension_fixture.h"
#include "testing/page_check.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

namespace fs = std::filesystem;

// The descriptors the process has open and the heap bytes it uses.
struct ResourceUse {
  size_t descriptors = 0;
  size_t heap_bytes = 0;
};

ResourceUse MeasureResources() {
  ResourceUse use;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++use.descriptors;
  }
  use.heap_bytes = mallinfo2().uordblks;
  return use;
}

// The bound on the library's summary cache in this run, in bytes; 0 when
// the run turns the cache off (TAVIK_CACHE_MB=0).
size_t CacheBound() {
  const char* megabytes = std::getenv("TAVIK_CACHE_MB");
  return megabytes == nullptr ? size_t{256} << 20
                              : std::strtoul(megabytes, nullptr, 10) << 20;
}

// Checks that `searches` leaves descriptors and heap as it found them. A
// first search before the measurement takes what the process allocates once.
// With the summary cache on, the heap may keep what the cache keeps, up to
// its bound.
class FaultTest : public SearchTreeTest {
 protected:
  void ExpectNoLeak(const std::function<void()>& searches) {
    searches();
    const ResourceUse before = MeasureResources();
    searches();
    const ResourceUse after = MeasureResources();
    EXPECT_EQ(after.descriptors, before.descriptors);
    // Exact with the per-thread cache of freed chunks turned off, as the
    // test's environment does; with it on, freed chunks still count as used.
    if (CacheBound() == 0) {
      EXPECT_EQ(after.heap_bytes, before.heap_bytes);
    } else {
      EXPECT_LE(after.heap_bytes, before.heap_bytes + CacheBound());
    }
  }
};

// Runs `search` as the unprivileged user "nobody" (root reads every file
// whatever its mode) in a child process, and returns the page it gave.
std::string AsUnprivilegedUser(const std::function<std::string()>& search) {
  if (geteuid() != 0) return search();
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    const std::string page = search();
    const bool written =
        write(pipe_ends[1], page.data(), page.size()) ==
        static_cast<ssize_t>(page.size());
    _exit(written ? 0 : 3);
  }
  close(pipe_ends[1]);
  std::string page;
  char buffer[4096];
  ssize_t count;
  while ((count = read(pipe_ends[0], buffer, sizeof buffer)) > 0) {
    page.append(buffer, static_cast<size_t>(count));
  }
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return page;
}

TEST_F(FaultTest, UnreadableDocumentsAndFoldersAreSkipped) {
  tree_.Write("a.htm", "word\n");
  tree_.Write("secret.htm", "word\nword\nword\n");
  tree_.Write("closed/c.htm", "word\nword\nword\n");
  tree_.Write("unlistable/d.htm", "word\nword\nword\n");
  tree_.Write("open/e.htm", "word\nword\n");
  chmod(tree_.Path("secret.htm").c_str(), 0);
  chmod(tree_.Path("closed").c_str(), 0);
  chmod(tree_.Path("unlistable").c_str(), 0111);
  const std::string page =
      AsUnprivilegedUser([&] { return Body("word"); });
  EXPECT_EQ(page, ListLine("/open/e.htm", 2) + ListLine("/a.htm", 1) +
                      SummaryLine(3));
  chmod(tree_.Path("closed").c_str(), 0700);
  chmod(tree_.Path("unlistable").c_str(), 0700);
}

// A thread keeps replacing the document with a whole copy, cutting it short
// and deleting it, while searches read it.
TEST_F(FaultTest, DocumentTruncatedOrDeletedWhileRead) {
  std::string content;
  for (int i = 0; i < 100000; ++i) content += "plain line of text\n";
  content += "word\n";
  const std::string path = tree_.Path("doc.htm");
  TempTree spare;
  const std::string copy = spare.Path("copy.htm");

  // The thread allocates nothing, so the leak check stays exact. It changes
  // the document only while the searches run: the descriptor it opens for a
  // moment must not be open when the check counts them.
  std::atomic<bool> done{false};
  std::atomic<bool> changing{false};
  std::mutex one_round;
  std::thread changer([&] {
    for (int round = 0; !done; ++round) {
      {
        const std::lock_guard<std::mutex> hold(one_round);
        if (!changing) continue;
        switch (round % 3) {
          case 0: {
            const int file =
                open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0) break;
            const bool whole = write(file, content.data(), content.size()) ==
                               static_cast<ssize_t>(content.size());
            close(file);
            if (whole) rename(copy.c_str(), path.c_str());
            break;
          }
          case 1:
            truncate(path.c_str(),
                     static_cast<off_t>(content.size() / (round % 5 + 2)));
            break;
          default:
            unlink(path.c_str());
            break;
        }
      }
      std::this_thread::yield();
    }
  });
  ExpectNoLeak([&] {
    changing = true;
    for (int i = 0; i < 30; ++i) {
      int total = -1;
      const std::string body = Body("word");
      EXPECT_TRUE(IsWellFormedBody(body, &total)) << body;
      EXPECT_LE(total, 1);
    }
    changing = false;
    // Waits for the round in progress, if any, to end.
    const std::lock_guard<std::mutex> hold(one_round);
  });
  done = true;
  changer.join();
}

TEST_F(FaultTest, FolderReplacedByAFileDuringTheWalk) {
  for (int i = 0; i < 50; ++i) {
    tree_.Write("sub/deeper/d" + std::to_string(i) + ".htm", "word\n");
  }
  tree_.Write("a.htm", "word\nword\n");
  tree_.Write("plain-file", "not a folder\n");
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    const std::string folder = tree_.Path("sub");
    const std::string file = tree_.Path("plain-file");
    const std::string aside = tree_.Path("aside");
    while (!done) {
      rename(folder.c_str(), aside.c_str());
      rename(file.c_str(), folder.c_str());
      rename(folder.c_str(), file.c_str());
      rename(aside.c_str(), folder.c_str());
    }
  });
  ExpectNoLeak([&] {
    for (int i = 0; i < 30; ++i) {
      int total = -1;
      const std::string body = Body("word");
      EXPECT_TRUE(IsWellFormedBody(body, &total)) << body;
      EXPECT_GE(total, 2);
      EXPECT_LE(total, 52);
    }
  });
  done = true;
  swapper.join();
}

TEST_F(FaultTest, LinkLoopsEndQuietly) {
  tree_.Write("real.htm", "word\n");
  tree_.Link("self.htm", tree_.Path("self.htm"));
  tree_.Link("a.htm", tree_.Path("b.htm"));
  tree_.Link("b.htm", tree_.Path("a.htm"));
  tree_.Link("here", ".");
  tree_.Link("up", "..");
  tree_.Link("nested/back", tree_.root());
  ExpectNoLeak([&] { EXPECT_EQ(Body("word"), OneRow("/real.htm", 1)); });
}

TEST_F(FaultTest, TreeOf120Levels) {
  std::string folder;
  int expected = 0;
  for (int level = 0; level < 120; ++level) {
    tree_.Write(folder + "w.htm", "word\n");
    if (tree_.Path(folder + "w.htm").size() <= 255) ++expected;
    folder += "d/";
  }
  ASSERT_GT(expected, 50);
  ExpectNoLeak([&] {
    const std::string body = Body("word");
    EXPECT_NE(body.find(SummaryLine(expected)), std::string::npos) << body;
  });
}

TEST_F(FaultTest, FolderOf100000Documents) {
  fs::create_directories(tree_.Path("many"));
  for (int i = 0; i < 100000; ++i) {
    const std::string path = tree_.Path("many/n" + std::to_string(i) + ".htm");
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << path;
    ASSERT_EQ(write(file, "plain text\n", 11), 11);
    close(file);
  }
  tree_.Write("many/n77777.htm", "plain text\nneedle\n");
  ExpectNoLeak([&] {
    EXPECT_EQ(Body("needle"), OneRow("/many/n77777.htm", 1));
    EXPECT_EQ(Body("absent"), kNoHitsMessage);
    EXPECT_EQ(Body("plain"), kOverflowMessage);
  });
}

// Names may hold any byte but "/" and NUL; the link of each is escaped so
// the page stays well-formed. A backslash turns into a slash in links.
TEST_F(FaultTest, NamesOfEveryByte) {
  std::string expected_links;
  for (int byte = 1; byte <= 255; ++byte) {
    if (byte == '/') continue;
    const std::string name = std::string(1, static_cast<char>(byte)) + ".htm";
    tree_.Write(name, "word\n");
  }
  const std::string body = Body("word");
  int total = 0;
  EXPECT_TRUE(IsWellFormedBody(body, &total)) << body;
  EXPECT_EQ(total, 254);
  for (int byte = 1; byte <= 255; ++byte) {
    if (byte == '/') continue;
    std::string link = "/" + std::string(1, static_cast<char>(byte)) + ".htm";
    if (byte == '\\') link = "//.htm";
    char target[1024];
    char text[1024];
    PercentEncodeLink(link, target, sizeof target);
    HtmlEscape(link, text, sizeof text);
    const std::string line = std::string("<a href=") + target + ">" + text +
                             "</a> - 1 hit(s)<p>\n\r";
    EXPECT_NE(body.find(line), std::string::npos) << "byte " << byte;
  }
}

TEST_F(FaultTest, SparseDocumentOf2GiBWithoutLineFeed) {
  const std::string path = tree_.Path("huge.htm");
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(ftruncate(file, off_t{2} << 30), 0);
  close(file);
  tree_.Write("small.htm", "word\n");
  ExpectNoLeak([&] {
    // Every piece of the huge document starts with NUL: no text to match,
    // but an empty term hits every piece.
    EXPECT_EQ(Body("word"), OneRow("/small.htm", 1));
    EXPECT_EQ(Body(""), kOverflowMessage);
  });
}

TEST_F(FaultTest, FifoAndSocketNamedLikeDocuments) {
  ASSERT_EQ(mkfifo(tree_.Path("pipe.htm").c_str(), 0644), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = tree_.Path("socket.htm");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address),
                 sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  tree_.Write("real.htm", "word\n");
  ExpectNoLeak([&] { EXPECT_EQ(Body("word"), OneRow("/real.htm", 1)); });
  close(listener);
}

}  // namespace
}  // namespace tavik::testing
