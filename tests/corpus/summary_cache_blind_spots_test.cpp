// The summary cache against changes no watch of a file or folder reports:
// a file system mounted over a walked folder, a file mounted over a
// document (each in a mount namespace of the test's own), and a writer
// that holds a document open and writes to it asynchronously. Each case
// fills a cache with watches until repeated searches need no walk, makes
// its change, and then every page must equal the page without the cache.
// They need the right to make namespaces and mounts (root, as the tests
// run in CI); without it they are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/aio_abi.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "corpus/summary_cache.h"
#include "testing/search_page.h"
#include "testing/temp_tree.h"

namespace tavik {
namespace {

constexpr auto kTrustDelay = std::chrono::milliseconds(50);
constexpr int kSkipped = 77;

// Runs `scenario` in a child process with a mount namespace of its own;
// its exit status: 0 when every page agreed, kSkipped when the system
// refused the namespace, anything else a failure it printed.
int InOwnMountNamespace(const std::function<int()>& scenario) {
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      _exit(kSkipped);
    }
    _exit(scenario());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A cache with watches, filled for `root` until a repeated search walks
// nothing.
std::unique_ptr<SummaryCache> FilledCache(const std::string& root) {
  SummaryCache::Options options;
  options.trust_delay =
      std::chrono::duration_cast<std::chrono::nanoseconds>(kTrustDelay).count();
  options.unbudgeted = true;
  auto cache = SummaryCache::Create(options);
  std::this_thread::sleep_for(kTrustDelay + std::chrono::milliseconds(10));
  for (int search = 0; search < 3; ++search) {
    testing::SearchPage(root, "absent", cache.get());
    testing::WordSearchPage(root, "absent", true, cache.get());
  }
  return cache;
}

// 0 when the searches for `term` give the pages they give without the
// cache, else 1 (printed).
int SamePages(const std::string& root, const std::string& term,
              SummaryCache* cache) {
  const std::string lines = testing::SearchPage(root, term, nullptr);
  const std::string words = testing::WordSearchPage(root, term, true, nullptr);
  if (lines.find("1 hit(s)") == std::string::npos) {
    std::fprintf(stderr, "the change left nothing to find: %s\n", lines.c_str());
    return 1;
  }
  // The word search first: a line search that finds a summary stale
  // drops it, which would end a kept word answer before it is tried.
  int failures = 0;
  if (testing::WordSearchPage(root, term, true, cache) != words) {
    std::fprintf(stderr, "word search for \"%s\" differs with the cache\n",
                 term.c_str());
    ++failures;
  }
  if (testing::SearchPage(root, term, cache) != lines) {
    std::fprintf(stderr, "line search for \"%s\" differs with the cache\n",
                 term.c_str());
    ++failures;
  }
  if (cache->GetStats().snapshots_used == 0) {
    std::fprintf(stderr, "no search walked from a snapshot\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}

void Expect(int status) {
  if (status == kSkipped) GTEST_SKIP() << "no mount namespace for this user";
  EXPECT_EQ(status, 0) << "see the lines above";
}

TEST(SummaryCacheBlindSpots, AFileSystemMountedOverAWalkedFolder) {
  testing::TempTree tree;
  tree.Write("a.htm", "nothing here\n");
  tree.Write("sub/b.htm", "nothing here either\n");
  Expect(InOwnMountNamespace([&] {
    const auto cache = FilledCache(tree.root());
    if (mount("tmpfs", tree.Path("sub").c_str(), "tmpfs", 0, nullptr) != 0) {
      return kSkipped;
    }
    tree.Write("sub/c.htm", "a mounted marmot\n");
    return SamePages(tree.root(), "marmot", cache.get());
  }));
}

TEST(SummaryCacheBlindSpots, AFileMountedOverADocument) {
  testing::TempTree tree;
  tree.Write("a.htm", "nothing here\n");
  tree.Write("b.htm", "nothing here either\n");
  testing::TempTree other;
  other.Write("over.htm", "a mounted marmot\n");
  Expect(InOwnMountNamespace([&] {
    const auto cache = FilledCache(tree.root());
    if (mount(other.Path("over.htm").c_str(), tree.Path("b.htm").c_str(),
              nullptr, MS_BIND, nullptr) != 0) {
      return kSkipped;
    }
    return SamePages(tree.root(), "marmot", cache.get());
  }));
}

// A writer opens a document, keeps it open and writes to it with the
// system's asynchronous writes, which raise no event until it closes.
TEST(SummaryCacheBlindSpots, AnAsynchronousWriterHoldingADocumentOpen) {
  testing::TempTree tree;
  tree.Write("a.htm", "nothing here\n");
  tree.Write("b.htm", "nothing here either, none\n");
  const auto cache = FilledCache(tree.root());
  // The word search's answer for the term, kept before the write, must
  // not outlive it.
  for (int search = 0; search < 2; ++search) {
    testing::WordSearchPage(tree.root(), "marmot", true, cache.get());
  }
  const int file = open(tree.Path("b.htm").c_str(), O_WRONLY);
  ASSERT_GE(file, 0);
  aio_context_t context = 0;
  ASSERT_EQ(syscall(SYS_io_setup, 1, &context), 0);
  char text[] = "a written marmot, none\n";
  iocb block = {};
  block.aio_fildes = static_cast<uint32_t>(file);
  block.aio_lio_opcode = IOCB_CMD_PWRITE;
  block.aio_buf = reinterpret_cast<uint64_t>(text);
  block.aio_nbytes = sizeof text - 1;
  iocb* blocks[] = {&block};
  ASSERT_EQ(syscall(SYS_io_submit, context, 1, blocks), 1);
  io_event done = {};
  ASSERT_EQ(syscall(SYS_io_getevents, context, 1, 1, &done, nullptr), 1);
  // Still open: no event has told of the write.
  EXPECT_EQ(SamePages(tree.root(), "marmot", cache.get()), 0);
  syscall(SYS_io_destroy, context);
  close(file);
}

}  // namespace
}  // namespace tavik
