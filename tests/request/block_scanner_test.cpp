// The block scanner held to the plain reader: hand-made cases with known
// counts, then thousands of seeded random documents, each at block sizes
// from one byte up and with and without SIMD.
#include "request/block_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "testing/plain_hit_count.h"
#include "testing/stress_documents.h"
#include "testing/temp_tree.h"

namespace tavik {
namespace {

constexpr size_t kBlockSizes[] = {
    1,   2,   3,   4,   7,    16,   64,
    254, 255, 256, 257, 1024, 4096, BlockScanner::kDefaultBlockSize};
// Block sizes tried on a random document besides the default.
constexpr size_t kRandomBlockSizes[] = {1,   2,   3,   5,   16,  64,  254,
                                        255, 256, 257, 509, 510, 511, 4096};

size_t ScannerHits(const std::string& path, const std::string& term,
                   size_t block_size, bool use_simd, size_t limit = 1000000) {
  const TermFinder finder(term.c_str(), use_simd);
  BlockScanner scanner(block_size);
  EXPECT_TRUE(scanner);
  ReadableFile file;
  EXPECT_TRUE(file.Open(path.c_str()));
  return scanner.CountHits(file, finder, limit);
}

std::string Repeat(const std::string& text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

struct KnownCase {
  const char* name;
  std::string content;
  std::string term;
  size_t hits;
};

class KnownCases : public ::testing::TestWithParam<KnownCase> {};

TEST_P(KnownCases, CountAtEveryBlockSize) {
  const KnownCase& known = GetParam();
  testing::TempTree tree;
  tree.Write("doc.htm", known.content);
  const std::string path = tree.Path("doc.htm");
  ASSERT_EQ(testing::PlainHitCount(path.c_str(), known.term.c_str()),
            static_cast<long>(known.hits));
  for (const size_t block_size : kBlockSizes) {
    for (const bool simd : {true, false}) {
      EXPECT_EQ(ScannerHits(path, known.term, block_size, simd), known.hits)
          << "block size " << block_size << (simd ? ", SIMD" : ", portable");
    }
  }
}

const std::string x254 = Repeat("x", 254);
const std::string x255 = Repeat("x", 255);

INSTANTIATE_TEST_SUITE_P(
    BlockScanner, KnownCases,
    ::testing::Values(
        KnownCase{"OneHitPerPiece", "web web wEb\nWeb\n", "WEB", 2},
        KnownCase{"LongLineHitsInEachPiece",
                  "QQ" + Repeat("x", 300) + "qQ" + Repeat("x", 260) + "Qq\n",
                  "QQ", 3},
        KnownCase{"OccurrenceAcrossPiecesIsLost", x254 + "QQ\n", "QQ", 0},
        KnownCase{"OccurrenceEndingThePiece", Repeat("x", 253) + "QQ", "QQ", 1},
        KnownCase{"HighBytesDoNotFold", "caf\xe9\n", "CAF\xc9", 0},
        KnownCase{"HighBytesMatchThemselves", "caf\xe9\n", "CAF\xe9", 1},
        KnownCase{"LastLineWithoutLineFeed", "a\nquokka", "QUOKKA", 1},
        KnownCase{"EndOfTextHidesTheRest", "quokka\x1a quokka\n", "QUOKKA", 1},
        KnownCase{"NulHidesTheRestOfItsPiece",
                  std::string("abc\0quokka\nquokka\0\n", 19), "QUOKKA", 1},
        KnownCase{"CrLfIsOneLineFeed", "one two\r\n", "TWO\n", 1},
        KnownCase{"FoldedCrIsGone", "one two\r\n", "TWO\r", 0},
        KnownCase{"LoneCrStays", "two\rx\n", "TWO\rX", 1},
        KnownCase{"CrCrLfKeepsOneCr", "two\r\r\n", "TWO\r\n", 1},
        KnownCase{"CrBeforeEndOfTextStays", "ab\r\x1a\n", "B\r", 1},
        KnownCase{"EmptyTermHitsEveryPiece",
                  std::string("a\n\0b\n", 5) + Repeat("x", 300) + "\n", "", 4},
        KnownCase{"FullPieceLeavesTheLineFeedAlone", x255 + "\n", "\n", 1},
        KnownCase{"LineFeedNeverJoinsAFullPiece", x255 + "\n", "X\n", 0},
        KnownCase{"FoldedLineFeedFitsThePiece", x254 + "\r\n", "X\n", 1},
        KnownCase{"CrEndsAFullPiece", x254 + "\rz", "X\rZ", 0},
        KnownCase{"WholePieceAsTerm", Repeat("x", 300), Repeat("X", 255), 1},
        KnownCase{"TermLongerThanAPiece", Repeat("x", 300), Repeat("X", 256),
                  0},
        KnownCase{"LineFeedInsideTheTerm", "a\nb\n", "A\nB", 0},
        KnownCase{"LowerCaseTermNeverMatches", "web\n", "web", 0},
        KnownCase{"EmptyDocument", "", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockScanner, StopsAtTheLimit) {
  testing::TempTree tree;
  tree.Write("doc.htm", Repeat("a\n", 50000));
  for (const size_t limit : {1u, 3u, 256u}) {
    EXPECT_EQ(ScannerHits(tree.Path("doc.htm"), "A", 4096, true, limit), limit);
  }
  EXPECT_EQ(ScannerHits(tree.Path("doc.htm"), "A", 4096, true, 0), 0u);
}

// Each seed writes kDocumentsPerSeed random documents and counts the term in
// each with the plain reader and with the scanner at four block sizes, with
// and without SIMD, under a random limit now and then.
class RandomDocuments : public ::testing::TestWithParam<uint32_t> {};

constexpr int kDocumentsPerSeed = 500;

TEST_P(RandomDocuments, CountAsThePlainReaderDoes) {
  const uint32_t seed = GetParam();
  testing::StressDocuments documents(seed);
  std::mt19937 random(seed);
  testing::TempTree tree;
  const std::string path = tree.Path("doc.htm");
  int failures = 0;
  for (int index = 0; index < kDocumentsPerSeed && failures < 5; ++index) {
    const testing::StressCase stress = documents.Next();
    tree.Write("doc.htm", stress.document);
    const long plain =
        testing::PlainHitCount(path.c_str(), stress.term.c_str());
    ASSERT_GE(plain, 0);

    std::vector<size_t> block_sizes = {BlockScanner::kDefaultBlockSize};
    for (int pick = 0; pick < 3; ++pick) {
      const size_t size =
          kRandomBlockSizes[random() % std::size(kRandomBlockSizes)];
      // Byte-sized reads only for the smaller documents, to stay quick.
      if (size >= 64 || stress.document.size() < 8192) {
        block_sizes.push_back(size);
      }
    }
    const size_t limit =
        random() % 4 == 0 ? 1 + random() % (plain + 2) : 1000000;
    const size_t expected = std::min(static_cast<size_t>(plain), limit);
    for (const size_t block_size : block_sizes) {
      for (const bool simd : {true, false}) {
        const size_t hits =
            ScannerHits(path, stress.term, block_size, simd, limit);
        if (hits == expected) continue;
        ++failures;
        ADD_FAILURE() << "seed " << seed << ", document " << index << " ("
                      << stress.document.size() << " bytes), term of "
                      << stress.term.size() << " bytes, block size "
                      << block_size << (simd ? ", SIMD" : ", portable")
                      << ", limit " << limit << ": " << hits
                      << " hits, the plain reader gives " << expected;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BlockScanner, RandomDocuments,
                         ::testing::Range(uint32_t{1}, uint32_t{9}));

}  // namespace
}  // namespace tavik
