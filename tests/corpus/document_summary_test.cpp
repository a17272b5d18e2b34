// Summaries built while the scanner reads, held to a plain oracle: the
// slots of every three-byte sequence of the text the plain reader gives
// (its pieces joined), folded to the same size. Then the promise itself: a
// term with a hit is never ruled out.
#include "corpus/document_summary.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "request/block_scanner.h"
#include "testing/plain_hit_count.h"
#include "testing/stress_documents.h"
#include "testing/temp_tree.h"
#include "testing/text_reader.h"

namespace tavik {
namespace {

using Words = std::vector<uint64_t>;

// The document's text as the plain reader gives it: its pieces joined.
std::string PlainText(const std::string& path) {
  ReadableFile file;
  EXPECT_TRUE(file.Open(path.c_str()));
  TextReader reader(file);
  char piece[kMaxPieceLength + 1];
  std::string text;
  while (const size_t length = reader.ReadLine(piece)) text.append(piece, length);
  return text;
}

// The text's three-byte slots, and where it has enough of them and the
// builder was told it may be long, its four-byte slots as well, at the
// size the count of both asks.
Words OracleSummary(const std::string& text, bool told_long) {
  std::set<uint32_t> slots;
  std::set<uint32_t> long_slots;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t at = 0; at + 3 <= text.size(); ++at) {
    slots.insert(SequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2]));
    if (at + 4 <= text.size()) {
      long_slots.insert(
          LongSequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]));
    }
  }
  const bool keeps_long = told_long && slots.size() >= kLongFromDistinct;
  const size_t bits = SummaryBitsFor(
      slots.size() + (keeps_long ? long_slots.size() : 0), keeps_long);
  if (keeps_long) slots.insert(long_slots.begin(), long_slots.end());
  Words words(bits / 64, 0);
  for (const uint32_t slot : slots) MarkSummarySlot(words.data(), bits, slot);
  return words;
}

// The summary the builder makes while the scanner counts `term`; empty when
// the scan did not finish it.
Words ScannedSummary(const std::string& path, const std::string& term,
                     size_t block_size, bool simd, SummaryBuilder& builder,
                     uint64_t expected_bytes, size_t limit = 1000000) {
  const TermFinder finder(term.c_str(), simd);
  BlockScanner scanner(block_size);
  ReadableFile file;
  EXPECT_TRUE(file.Open(path.c_str()));
  builder.Start(expected_bytes);
  scanner.CountHits(file, finder, limit, &builder);
  if (!builder.finished()) return {};
  Words words(builder.summary_bits() / 64);
  builder.Write(words.data());
  return words;
}

TEST(DocumentSummary, SizedToTheDistinctSlots) {
  // Distinct slots, whether four-byte sequences are kept, bits.
  const std::tuple<size_t, bool, size_t> sizes[] = {
      {0, false, 512},        {0, true, 576},
      {64, false, 512},       {65, false, 640},
      {65, true, 576},        {1000, false, 8064},
      {1000, true, 8000},     {5000, true, 40000},
      {131072, false, kSlotCount},  {131072, true, kSlotCount - 64},
      {kSlotCount, false, kSlotCount}};
  for (const auto& [distinct, long_sequences, bits] : sizes) {
    EXPECT_EQ(SummaryBitsFor(distinct, long_sequences), bits)
        << distinct << " " << long_sequences;
    EXPECT_EQ(SummaryKeepsLong(bits), long_sequences) << distinct;
  }
}

TEST(DocumentSummary, ShortTermsAreNeverRuledOut) {
  const Words empty(kMinSummaryBits / 64, 0);
  for (const std::string term : {"", "A", "AB"}) {
    const TermSequences sequences(term.c_str(), term.size());
    EXPECT_FALSE(sequences.CanRuleOut()) << term;
    EXPECT_TRUE(sequences.MayOccurIn(empty.data(), kMinSummaryBits)) << term;
  }
  const TermSequences three("ABC", 3);
  EXPECT_TRUE(three.CanRuleOut());
  EXPECT_FALSE(three.MayOccurIn(empty.data(), kMinSummaryBits));
}

TEST(DocumentSummary, AScanStoppedAtTheLimitLeavesItUnfinished) {
  testing::TempTree tree;
  std::string lines;
  for (int i = 0; i < 20000; ++i) lines += "a line\n";
  tree.Write("doc.htm", lines);
  SummaryBuilder builder;
  ASSERT_TRUE(builder);
  EXPECT_TRUE(
      ScannedSummary(tree.Path("doc.htm"), "LINE", 4096, true, builder,
                     lines.size(), 3)
          .empty());
  EXPECT_FALSE(ScannedSummary(tree.Path("doc.htm"), "LINE", 4096, true,
                              builder, lines.size())
                   .empty());
}

// Each seed: random documents from the stress generator, one in eight led by
// enough random words for its summary to keep four-byte sequences, each
// summarised at a few block sizes (one byte up), with and without SIMD, the
// builder told it is long or not, and compared with the oracle bit for bit;
// and the stress term, and stretches of the text, must never be ruled out
// where they occur.
class RandomSummaries : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RandomSummaries, EqualThePlainTextsSequences) {
  const uint32_t seed = GetParam();
  testing::StressDocuments documents(seed);
  std::mt19937 random(seed);
  testing::TempTree tree;
  const std::string path = tree.Path("doc.htm");
  SummaryBuilder builder;
  ASSERT_TRUE(builder);
  int failures = 0;
  for (int index = 0; index < 300 && failures < 5; ++index) {
    testing::StressCase stress = documents.Next();
    if (index % 8 == 0) {
      std::string words;
      while (words.size() < 16000) {
        words += static_cast<char>(random() % 5 == 0 ? ' ' : 'a' + random() % 26);
      }
      stress.document = words + stress.document;
    }
    tree.Write("doc.htm", stress.document);
    const std::string text = PlainText(path);
    const uint64_t told = random() % 2 == 0 ? kLongTextBytes : 0;
    const Words expected = OracleSummary(text, told >= kLongTextBytes);
    const size_t bits = expected.size() * 64;
    // The scan reads the whole document only for a term that can match.
    const std::string scanned_term =
        TermFinder(stress.term.c_str()).CanMatch() ? stress.term : "\x7f\x7f";
    for (const size_t block_size : {size_t{1} + random() % 3,
                                    size_t{250} + random() % 10,
                                    BlockScanner::kDefaultBlockSize}) {
      if (block_size < 64 && stress.document.size() > 32768) continue;
      const bool simd = random() % 2 == 0;
      if (ScannedSummary(path, scanned_term, block_size, simd, builder, told) !=
          expected) {
        ++failures;
        ADD_FAILURE() << "seed " << seed << ", document " << index
                      << ", block size " << block_size;
      }
    }
    if (testing::PlainHitCount(path.c_str(), stress.term.c_str()) > 0) {
      const TermSequences sequences(stress.term.c_str(), stress.term.size());
      EXPECT_TRUE(sequences.MayOccurIn(expected.data(), bits))
          << "seed " << seed << ", document " << index;
    }
    for (int pick = 0; pick < 8 && text.size() >= 3; ++pick) {
      const size_t length = 3 + random() % 20;
      const size_t at = random() % (text.size() - 2);
      std::string stretch = text.substr(at, length);
      for (char& c : stretch) c = AsciiUpper(c);
      const TermSequences sequences(stretch.c_str(), stretch.size());
      EXPECT_TRUE(sequences.MayOccurIn(expected.data(), bits))
          << "seed " << seed << ", document " << index << " at " << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(DocumentSummary, RandomSummaries,
                         ::testing::Range(uint32_t{1}, uint32_t{5}));

}  // namespace
}  // namespace tavik
