// Requests on several threads at once give the pages they give alone.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

TEST(Concurrency, ParallelRequestsGiveTheSamePages) {
  TempTree first;
  TempTree second;
  for (int i = 0; i < 40; ++i) {
    const std::string folder = "f" + std::to_string(i % 7) + "/";
    first.Write(folder + "doc" + std::to_string(i) + ".htm",
                std::string(i % 5 + 1, '\n') + "alpha beta\nGamma\n");
    second.Write(folder + "page" + std::to_string(i) + ".htm",
                 "beta\n" + std::string(static_cast<size_t>(i) * 10, 'x'));
  }
  const std::vector<std::pair<std::string, std::string>> requests = {
      {first.root(), "alpha"}, {first.root(), "gamma"},
      {first.root(), ""},      {second.root(), "beta"},
      {second.root(), "x"},    {second.root(), "absent"},
  };
  std::vector<std::string> expected;
  for (const auto& [root, term] : requests) {
    expected.push_back(Post("q=" + term, root).AsHttp());
  }

  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const size_t which = static_cast<size_t>(t + round) % requests.size();
        const auto& [root, term] = requests[which];
        if (Post("q=" + term, root).AsHttp() != expected[which]) {
          ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << t;
}

}  // namespace
}  // namespace tavik::testing
