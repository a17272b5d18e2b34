// Document summaries: which three-byte sequences a document's text holds,
// the text as a search reads it (for the line search: up to the first 0x1A,
// each CR LF folded to LF; for the word search: its folded word stream).
// Each sequence is hashed to one of kSlotCount slots, case left out of the
// hash, and a summary keeps one bit per slot, folded down to a power of two
// sized to the document's number of distinct slots: eight bits or more a
// distinct slot, so that a term of three sequences is ruled out wrongly in
// well under 1 % of documents of any size up to what kSlotCount allows
// (about 130,000 distinct sequences, far more than a 10 MB document of
// text holds).
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
// A summary has at least this many bits per distinct slot, rounded up to a
// power of two, so at most one bit in this many is set; and at least
// kMinSummaryBits, at most kSlotCount.
inline constexpr size_t kSummaryBitsPerSlot = 8;
inline constexpr size_t kMinSummaryBits = 512;

// The slot of the three bytes `first`, `second`, `third`. Bit 0x20 of each
// byte is left out, so that a letter and its upper case share the slot (and
// a few other pairs of bytes do too, which only costs selectivity).
constexpr uint32_t SequenceSlot(unsigned char first, unsigned char second,
                                unsigned char third) {
  const uint32_t bytes =
      (first | (uint32_t{second} << 8) | (uint32_t{third} << 16)) & 0xDFDFDFu;
  return (bytes * 0x9E3779B1u) >> (32 - kSlotBits);
}

// The bits a summary of a text with `distinct_slots` distinct slots has.
size_t SummaryBitsFor(size_t distinct_slots);

// Builds the summary of one document after another from its text, given in
// consecutive stretches. One builder serves one request.
class SummaryBuilder {
 public:
  // Obtains the builder's scratch, a work buffer of kSlotCount bits and a
  // list of the words of them in use.
  SummaryBuilder();
  // False when the scratch could not be obtained; nothing can be built.
  explicit operator bool() const { return static_cast<bool>(scratch_); }

  // Begins a new document: nothing added, not finished.
  void Start();
  // Adds the bytes [begin, end), which follow the bytes added before.
  // REQUIRES: operator bool, Start() called, not finished.
  void Add(const char* begin, const char* end);
  // Says that the whole text has been added.
  void Finish();
  bool finished() const { return finished_; }

  // The size of the summary of the text, in bits.
  // REQUIRES: finished().
  size_t summary_bits() const { return SummaryBitsFor(distinct_); }
  // Writes the summary: summary_bits() / 64 words. REQUIRES: finished().
  void Write(uint64_t* words) const;

 private:
  // Marks the slot of every sequence that starts in [text, text + count)
  // and ends before text + count + 2, reading up to 8 bytes per load from
  // `text`. REQUIRES: count + 2 bytes readable at `text`.
  void MarkSequences(const unsigned char* text, size_t count);
  uint64_t* slots() const {
    return reinterpret_cast<uint64_t*>(scratch_.data());
  }
  uint32_t* touched() const {
    return reinterpret_cast<uint32_t*>(scratch_.data() + kSlotCount / 8);
  }

  // [0, kSlotCount / 8): the slots of the current document's sequences, one
  // bit each; then the numbers of the words of them that are not zero, in
  // the order they were first marked (touched_count_ of them), so that a
  // new document clears only those.
  WorkBuffer scratch_;
  size_t touched_count_ = 0;
  // The last two bytes added (or fewer, at the start), which begin the
  // sequences that straddle two stretches.
  unsigned char tail_[2] = {};
  size_t tail_length_ = 0;
  size_t distinct_ = 0;
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

  // The term's distinct slots, in increasing order.
  const uint32_t* slots() const { return slots_; }
  size_t count() const { return count_; }

 private:
  uint32_t slots_[kMaxTermSequences];
  size_t count_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_DOCUMENT_SUMMARY_H_
