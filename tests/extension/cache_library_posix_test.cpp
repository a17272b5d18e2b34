// The library's summary cache as a server sees it: set by the environment
// when the library is loaded, shared by the requests that follow, and given
// back in full, memory and descriptors, when the library is unloaded. Each
// test loads a copy of its own, since a second load of a path already
// loaded would give the same library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "host/captured_request.h"
#include "host/extension_library.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

namespace fs = std::filesystem;

size_t Descriptors() {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The bytes in use on the heap; 0 under a sanitizer, whose allocator keeps
// its own books (its leak check runs when the program ends).
size_t HeapBytes() { return mallinfo2().uordblks; }

class CacheLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int index = 0; index < 200; ++index) {
      std::string text;
      for (int word = 0; word < 200; ++word) {
        text += std::to_string(index * 7919 + word * 104729) + " ";
      }
      tree_.Write("f" + std::to_string(index % 5) + "/d" +
                      std::to_string(index) + ".htm",
                  text + (index == 150 ? "needle\n" : "\n"));
    }
    copy_ = copies_.Path("libtavik-copy.so");
    fs::copy_file(TAVIK_LIBRARY_PATH, copy_);
    // Summaries are made only of documents older than two seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }

  // Loads the copy with TAVIK_CACHE_MB set to `megabytes`.
  std::unique_ptr<ExtensionLibrary> Load(const char* megabytes) {
    const char* before = std::getenv("TAVIK_CACHE_MB");
    const std::string kept = before != nullptr ? before : "";
    setenv("TAVIK_CACHE_MB", megabytes, 1);
    std::string error;
    auto library = ExtensionLibrary::Load(copy_, &error);
    EXPECT_NE(library, nullptr) << error;
    if (before != nullptr) {
      setenv("TAVIK_CACHE_MB", kept.c_str(), 1);
    } else {
      unsetenv("TAVIK_CACHE_MB");
    }
    return library;
  }

  std::string Search(const ExtensionLibrary& library, const char* term) {
    return RunCapturedRequest(library, std::string("q=") + term, tree_.root())
        .AsHttp();
  }

  TempTree tree_;
  TempTree copies_;
  std::string copy_;
};

TEST_F(CacheLibrary, UnloadingGivesBackEverything) {
  const auto round = [&](bool measured) {
    const size_t descriptors = Descriptors();
    const size_t heap = HeapBytes();
    {
      const auto library = Load("1");
      ASSERT_NE(library, nullptr);
      const size_t loaded = HeapBytes();
      for (int request = 0; request < 20; ++request) Search(*library, "absent");
      EXPECT_NE(Search(*library, "needle").find("d150.htm"), std::string::npos);
      // The cache kept summaries, within its bound of 1 MiB.
      if (loaded > 0) {
        EXPECT_GT(HeapBytes(), loaded + 50000);
        EXPECT_LE(HeapBytes(), loaded + (size_t{1} << 20));
      }
    }
    EXPECT_EQ(dlopen(copy_.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "still loaded";
    EXPECT_EQ(Descriptors(), descriptors);
    if (measured) {
      EXPECT_EQ(HeapBytes(), heap);
    }
  };
  // The dynamic loader keeps a little for good over the first two loads
  // and unloads of a library (2.7 and 2.3 KB with Debian 12's); from the
  // third on, an unload gives back every byte the load and its searches
  // took.
  round(false);
  round(false);
  round(true);
}

TEST_F(CacheLibrary, ZeroMegabytesKeepsNothing) {
  const auto library = Load("0");
  ASSERT_NE(library, nullptr);
  const std::string page = Search(*library, "needle");
  const size_t descriptors = Descriptors();
  const size_t heap = HeapBytes();
  for (int request = 0; request < 20; ++request) {
    EXPECT_EQ(Search(*library, "needle"), page);
  }
  EXPECT_EQ(Descriptors(), descriptors);
  EXPECT_EQ(HeapBytes(), heap);
}

}  // namespace
}  // namespace tavik::testing
