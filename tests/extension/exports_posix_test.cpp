// What the built shared library exports, as the dynamic loader sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace tavik::testing {
namespace {

TEST(EntryPoints, ExportsExactlyTheTwoEntryPoints) {
  const std::string command =
      std::string("nm -D --defined-only ") + TAVIK_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (!name.empty()) symbols.insert(type + " " + name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(symbols, (std::set<std::string>{"T GetExtensionVersion",
                                            "T HttpExtensionProc"}));
}

}  // namespace
}  // namespace tavik::testing
