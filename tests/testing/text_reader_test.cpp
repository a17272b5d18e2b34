#include "testing/text_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_tree.h"

namespace tavik {
namespace {

using Pieces = std::vector<std::string>;

// Every piece the reader gives for a document holding `content`.
Pieces ReadPieces(const std::string& content) {
  testing::TempTree tree;
  tree.Write("doc.htm", content);
  ReadableFile file;
  EXPECT_TRUE(file.Open(tree.Path("doc.htm").c_str()));
  TextReader reader(file);
  Pieces pieces;
  char line[kMaxPieceLength + 1];
  while (const size_t length = reader.ReadLine(line)) {
    EXPECT_EQ(line[length], '\0');
    pieces.emplace_back(line, length);
  }
  return pieces;
}

struct ReadingCase {
  const char* name;
  std::string content;
  Pieces expected;
};

std::string Repeat(char c, size_t count) { return std::string(count, c); }

class ReadingRules : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingRules, GivesThePieces) {
  EXPECT_EQ(ReadPieces(GetParam().content), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextReader, ReadingRules,
    ::testing::Values(
        ReadingCase{"Empty", "", {}},
        ReadingCase{"LastLineWithoutLineFeed", "a\nb", {"a\n", "b"}},
        ReadingCase{"LineFeedStaysInTheLine", "a\n\n", {"a\n", "\n"}},
        ReadingCase{"CrLfFolds", "one two\r\nx\r\n", {"one two\n", "x\n"}},
        ReadingCase{"LoneCrStays", "a\rb\r", {"a\rb\r"}},
        ReadingCase{"CrCrLf", "a\r\r\nb", {"a\r\n", "b"}},
        ReadingCase{"CrBeforeEndOfText", "a\r\x1a" "b", {"a\r"}},
        ReadingCase{"EndOfTextEndsTheDocument", "ab\x1a" "cd\nef", {"ab"}},
        ReadingCase{"EndOfTextFirst", "\x1a" "abc", {}},
        ReadingCase{"NulPassesThrough", std::string("a\0b\n", 4),
                    {std::string("a\0b\n", 4)}},
        ReadingCase{"HighBytesPass", "\xe9\xff\n", {"\xe9\xff\n"}},
        ReadingCase{"LongLineInPieces", Repeat('x', 600) + "\n",
                    {Repeat('x', 255), Repeat('x', 255),
                     Repeat('x', 90) + "\n"}},
        ReadingCase{"FullPieceThenLineFeedAlone", Repeat('x', 255) + "\n",
                    {Repeat('x', 255), "\n"}},
        ReadingCase{"FoldedLineFeedFitsThePiece", Repeat('x', 254) + "\r\n",
                    {Repeat('x', 254) + "\n"}},
        ReadingCase{"CrAtPieceEnd", Repeat('x', 254) + "\rz",
                    {Repeat('x', 254) + "\r", "z"}}),
    [](const auto& info) { return std::string(info.param.name); });

// CR LF pairs folded wherever they fall against the reader's own buffer.
TEST(TextReader, FoldsCrLfAcrossEveryReadBoundary) {
  for (size_t prefix = 4090; prefix <= 4100; ++prefix) {
    std::string content;
    for (size_t i = 0; i < prefix; ++i) content += (i % 100 == 99) ? '\n' : 'a';
    content += "\r\nend\r\n";
    std::string folded;
    for (const std::string& piece : ReadPieces(content)) folded += piece;
    std::string expected = content;
    expected.replace(expected.find("\r\n"), 2, "\n");
    expected.replace(expected.rfind("\r\n"), 2, "\n");
    EXPECT_EQ(folded, expected) << "CR LF after " << prefix << " bytes";
  }
}

TEST(ReadableFile, RefusesWhatIsNotARegularFile) {
  testing::TempTree tree;
  tree.MakeFolder("folder.htm");
  ReadableFile folder;
  EXPECT_FALSE(folder.Open(tree.Path("folder.htm").c_str()));
  ReadableFile missing;
  EXPECT_FALSE(missing.Open(tree.Path("missing.htm").c_str()));
  EXPECT_EQ(missing.Read(nullptr, 0), 0u);
}

}  // namespace
}  // namespace tavik
