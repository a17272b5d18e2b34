// Document summaries: which three-byte sequences a document's text holds,
// the text as a search reads it (for the line search: up to the first 0x1A,
// each CR LF folded to LF; for the word search: its folded word stream).
// Each sequence is hashed to one of kSlotCount slots, case left out of the
// hash, and a summary keeps the slots in a bitmap sized to the document's
// number of distinct slots, eight bits a distinct slot (in whole 64-bit
// words), each slot setting two bits spread evenly over it, so that few
// terms are kept wrongly by bits other sequences set.
//
// A long text holds most three-byte sequences of a language, so a term
// whose sequences all occur in it, apart, is common. The summary of a text
// with kLongFromDistinct distinct sequences or more, when the builder was
// told it may be long, therefore also keeps its four-byte sequences, in
// the same slot space (hashed otherwise), sized with them; its size says
// so (SummaryKeepsLong). A term is then ruled out when one of its
// four-byte sequences is missing too: for a 10 MB document of text, in all
// but about 0.1 % of the terms of five letters it does not hold, against
// 3.5 % by three-byte sequences alone.
//
// What a summary proves, for the line search: every piece the scanner
// searches is a stretch of that text (NULs and piece boundaries only hide
// matches, never make them), so a term occurs in a piece only if each of
// its sequences occurs in the
// text, and then each of their bits is set. A clear bit therefore proves
// that the term occurs in no piece. A set bit may belong to another sequence
// of the same hash: a false "may occur", which costs one read. A term of
// fewer than three bytes has no sequence, and no summary rules it out.
#ifndef TAVIK_CORPUS_DOCUMENT_SUMMARY_H_
#define TAVIK_CORPUS_DOCUMENT_SUMMARY_H_

#include <cstddef>
#include <cstdint>

#include "platform/work_buffer.h"

namespace tavik {

inline constexpr int kSlotBits = 20;
inline constexpr size_t kSlotCount = size_t{1} << kSlotBits;
// A summary has this many bits per distinct slot, rounded up to whole
// 64-bit words, so at most one bit in this many is set; and at least
// kMinSummaryBits, at most kSlotCount.
inline constexpr size_t kSummaryBitsPerSlot = 8;
inline constexpr size_t kMinSummaryBits = 512;
// A text with this many distinct three-byte sequences or more keeps its
// four-byte ones too, when it was told to be kLongTextBytes or longer
// (the builder marks them only then).
inline constexpr size_t kLongFromDistinct = 2048;
inline constexpr uint64_t kLongTextBytes = uint64_t{16} << 10;

// The slot of the three bytes `first`, `second`, `third`. Bit 0x20 of each
// byte is left out, so that a letter and its upper case share the slot (and
// a few other pairs of bytes do too, which only costs selectivity).
constexpr uint32_t SequenceSlot(unsigned char first, unsigned char second,
                                unsigned char third) {
  const uint32_t bytes =
      (first | (uint32_t{second} << 8) | (uint32_t{third} << 16)) & 0xDFDFDFu;
  return (bytes * 0x9E3779B1u) >> (32 - kSlotBits);
}

// The slot of the four bytes `first` to `fourth`, bit 0x20 of each left out.
constexpr uint32_t LongSequenceSlot(unsigned char first, unsigned char second,
                                    unsigned char third, unsigned char fourth) {
  const uint32_t bytes = (first | (uint32_t{second} << 8) |
                          (uint32_t{third} << 16) | (uint32_t{fourth} << 24)) &
                         0xDFDFDFDFu;
  return (bytes * 0x85EBCA77u) >> (32 - kSlotBits);
}

// The bits a summary of `distinct_slots` distinct slots has (the
// three-byte sequences' and, with `long_sequences`, the four-byte ones'):
// an even number of 64-bit words without the four-byte sequences, an odd
// number with them.
size_t SummaryBitsFor(size_t distinct_slots, bool long_sequences);
// True when a summary of `bits` bits keeps the four-byte sequences.
inline bool SummaryKeepsLong(size_t bits) { return (bits / 64) % 2 == 1; }
// A slot sets two bits of a summary of `bits` bits (or one, where they
// coincide): one chosen by its high bits, the other by its low bits, so
// that a slot another sequence's bits cover by chance is rarer than with
// one bit at the same size.
inline size_t SummaryBit(uint32_t slot, size_t bits, int which) {
  const uint32_t mixed =
      which == 0 ? slot
                 : ((slot << (kSlotBits / 2)) | (slot >> (kSlotBits / 2))) &
                       (kSlotCount - 1);
  return static_cast<size_t>((uint64_t{mixed} * bits) >> kSlotBits);
}
// Sets `slot` in the summary of `bits` bits at `words`.
inline void MarkSummarySlot(uint64_t* words, size_t bits, uint32_t slot) {
  for (int which = 0; which < 2; ++which) {
    const size_t bit = SummaryBit(slot, bits, which);
    words[bit / 64] |= uint64_t{1} << (bit % 64);
  }
}
// True when the summary of `bits` bits at `words` may hold `slot`.
inline bool SummaryHoldsSlot(const uint64_t* words, size_t bits, uint32_t slot) {
  for (int which = 0; which < 2; ++which) {
    const size_t bit = SummaryBit(slot, bits, which);
    if (((words[bit / 64] >> (bit % 64)) & 1) == 0) return false;
  }
  return true;
}

// Builds the summary of one document after another from its text, given in
// consecutive stretches. One builder serves one request.
class SummaryBuilder {
 public:
  // Obtains the builder's scratch, a work buffer of kSlotCount bits and a
  // list of the words of them in use.
  SummaryBuilder();
  // False when the scratch could not be obtained; nothing can be built.
  explicit operator bool() const { return static_cast<bool>(scratch_); }

  // Begins a new document: nothing added, not finished. `expected_bytes`
  // is how long its text may be (the file's size; see kLongTextBytes).
  void Start(uint64_t expected_bytes);
  // Adds the bytes [begin, end), which follow the bytes added before.
  // REQUIRES: operator bool, Start() called, not finished.
  void Add(const char* begin, const char* end);
  // Says that the whole text has been added.
  void Finish();
  bool finished() const { return finished_; }

  // The size of the summary of the text, in bits.
  // REQUIRES: finished().
  size_t summary_bits() const { return bits_; }
  // Writes the summary: summary_bits() / 64 words. REQUIRES: finished().
  void Write(uint64_t* words) const;

 private:
  // Marks the slot of every sequence that starts in [text, text + count)
  // and ends before text + count + 2, reading up to 8 bytes per load from
  // `text`. REQUIRES: count + 2 bytes readable at `text`.
  void MarkSequences(const unsigned char* text, size_t count);
  // The same for the four-byte sequences that start in [text, text +
  // count). REQUIRES: count + 3 bytes readable at `text`.
  void MarkLongSequences(const unsigned char* text, size_t count);
  // Marks the sequences that begin in the tail and end in `text`.
  void MarkStraddling(const unsigned char* text, size_t length);
  // The slot bits and their touched words, of the three-byte sequences
  // (long false) or the four-byte ones.
  uint64_t* slots(bool long_sequences) const {
    return reinterpret_cast<uint64_t*>(scratch_.data() +
                                       (long_sequences ? kPartBytes : 0));
  }
  uint32_t* touched(bool long_sequences) const {
    return reinterpret_cast<uint32_t*>(
        scratch_.data() + (long_sequences ? kPartBytes : 0) + kSlotCount / 8);
  }
  static constexpr size_t kPartBytes =
      kSlotCount / 8 + kSlotCount / 64 * sizeof(uint32_t);

  // Two parts, the three-byte sequences' and the four-byte ones', each:
  // the slots of the current document's sequences, one bit each
  // (kSlotCount / 8 bytes); then the numbers of the words of them that are
  // not zero, in the order they were first marked (touched_count_ of them),
  // so that a new document clears only those.
  WorkBuffer scratch_;
  size_t touched_count_[2] = {};
  // Whether the four-byte sequences are marked, and kept.
  bool mark_long_ = false;
  bool keep_long_ = false;
  // The last three bytes added (or fewer, at the start), which begin the
  // sequences that straddle two stretches.
  unsigned char tail_[3] = {};
  size_t tail_length_ = 0;
  size_t bits_ = 0;
  bool finished_ = false;
};

// The most sequences a TermSequences keeps.
inline constexpr size_t kMaxTermSequences = 1024;

// The sequences of what a search looks for, for ruling documents out by
// summary: a text that holds it holds every one of them.
class TermSequences {
 public:
  TermSequences() = default;
  // The sequences of the `length` bytes at `term` (for the line search, the
  // match term, upper-cased as the request keeps it).
  TermSequences(const char* term, size_t length) { Add(term, length); }

  // Adds the sequences of the `length` bytes at `term`, which a text must
  // also hold. Past kMaxTermSequences distinct sequences the rest are left
  // out, which only rules out fewer documents.
  void Add(const char* term, size_t length);

  // False for a term of fewer than three bytes, which no summary rules out.
  bool CanRuleOut() const { return count_ > 0; }

  // False when the summary of `bits` bits at `words` proves that the term
  // occurs in no piece of the document. True whenever CanRuleOut() is false.
  bool MayOccurIn(const uint64_t* words, size_t bits) const;

  // The term's distinct three-byte slots, in increasing order.
  const uint32_t* slots() const { return slots_; }
  size_t count() const { return count_; }

 private:
  uint32_t slots_[kMaxTermSequences];
  size_t count_ = 0;
  // Its distinct four-byte slots.
  uint32_t long_slots_[kMaxTermSequences];
  size_t long_count_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_DOCUMENT_SUMMARY_H_
