#include "corpus/document_summary.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik {
namespace {

constexpr size_t kWords = kSlotCount / 64;

uint64_t* SlotBits(const WorkBuffer& scratch) {
  return reinterpret_cast<uint64_t*>(scratch.data() + kSlotCount);
}

// The 64 marks at `marks` as bits, bit k set when marks[k] == mark.
uint64_t MarkedBits(const unsigned char* marks, unsigned char mark) {
  uint64_t bits = 0;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(mark));
  for (int part = 0; part < 4; ++part) {
    const __m128i group =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(marks + 16 * part));
    const auto found = static_cast<uint64_t>(
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(group, wanted))));
    bits |= found << (16 * part);
  }
#else
  for (int k = 0; k < 64; ++k) {
    if (marks[k] == mark) bits |= uint64_t{1} << k;
  }
#endif
  return bits;
}

}  // namespace

size_t SummaryBitsFor(size_t distinct_slots) {
  const size_t wanted = std::bit_ceil(distinct_slots * kSummaryBitsPerSlot);
  if (wanted < kMinSummaryBits) return kMinSummaryBits;
  return wanted > kSlotCount ? kSlotCount : wanted;
}

SummaryBuilder::SummaryBuilder() : scratch_(kSlotCount + kSlotCount / 8) {}

void SummaryBuilder::Start() {
  // A new mark value makes every slot unmarked at once; the marks are
  // cleared only when the values run out.
  if (++mark_ == 0) {
    std::memset(scratch_.data(), 0, kSlotCount);
    mark_ = 1;
  }
  tail_length_ = 0;
  distinct_ = 0;
  finished_ = false;
}

void SummaryBuilder::MarkSequences(const unsigned char* text, size_t count) {
  auto* const marks = reinterpret_cast<unsigned char*>(scratch_.data());
  const unsigned char mark = mark_;
  size_t at = 0;
  // One load gives six sequences; the seventh and eighth bytes only end
  // sequences, so a load needs count - at >= 6 for all six to count.
  for (; at + 8 <= count + 2; at += 6) {
    uint64_t bytes;
    std::memcpy(&bytes, text + at, sizeof bytes);
    bytes &= 0xDFDFDFDFDFDFDFDFull;
    for (int shift = 0; shift < 48; shift += 8) {
      const auto sequence = static_cast<uint32_t>(bytes >> shift) & 0xFFFFFFu;
      marks[(sequence * 0x9E3779B1u) >> (32 - kSlotBits)] = mark;
    }
  }
  for (; at < count; ++at) {
    marks[SequenceSlot(text[at], text[at + 1], text[at + 2])] = mark;
  }
}

void SummaryBuilder::Add(const char* begin, const char* end) {
  const auto* text = reinterpret_cast<const unsigned char*>(begin);
  const auto length = static_cast<size_t>(end - begin);
  if (length == 0) return;
  // The sequences that start in the tail: the tail and the first bytes of
  // this stretch side by side.
  unsigned char joined[4];
  std::memcpy(joined, tail_, tail_length_);
  const size_t taken = length < 2 ? length : 2;
  std::memcpy(joined + tail_length_, text, taken);
  const size_t joined_length = tail_length_ + taken;
  if (joined_length >= 3) {
    const size_t fitting = joined_length - 2;
    MarkSequences(joined, fitting < tail_length_ ? fitting : tail_length_);
  }
  // The sequences wholly inside the stretch.
  if (length >= 3) MarkSequences(text, length - 2);
  // The new tail: the last two bytes of tail and stretch together.
  if (length >= 2) {
    std::memcpy(tail_, text + length - 2, 2);
    tail_length_ = 2;
  } else if (tail_length_ == 2) {
    tail_[0] = tail_[1];
    tail_[1] = text[0];
  } else {
    tail_[tail_length_++] = text[0];
  }
}

void SummaryBuilder::Finish() {
  const auto* marks = reinterpret_cast<const unsigned char*>(scratch_.data());
  uint64_t* const bits = SlotBits(scratch_);
  size_t distinct = 0;
  for (size_t word = 0; word < kWords; ++word) {
    bits[word] = MarkedBits(marks + 64 * word, mark_);
    distinct += static_cast<size_t>(std::popcount(bits[word]));
  }
  distinct_ = distinct;
  finished_ = true;
}

void SummaryBuilder::Write(uint64_t* words) const {
  // Bit j of the summary is the union of slots j, j + bits, j + 2 bits...
  const size_t count = summary_bits() / 64;
  const uint64_t* const bits = SlotBits(scratch_);
  std::memcpy(words, bits, count * sizeof *words);
  for (size_t from = count; from < kWords; from += count) {
    for (size_t word = 0; word < count; ++word) words[word] |= bits[from + word];
  }
}

void TermSequences::Add(const char* term, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(term);
  for (size_t at = 0; at + 3 <= length && count_ < kMaxTermSequences; ++at) {
    const auto slot =
        static_cast<uint16_t>(SequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2]));
    uint64_t& held = held_[slot / 64];
    const uint64_t bit = uint64_t{1} << (slot % 64);
    if ((held & bit) != 0) continue;
    held |= bit;
    slots_[count_++] = slot;
  }
}

bool TermSequences::MayOccurIn(const uint64_t* words, size_t bits) const {
  const size_t mask = bits - 1;
  for (size_t k = 0; k < count_; ++k) {
    const size_t bit = slots_[k] & mask;
    if (((words[bit / 64] >> (bit % 64)) & 1) == 0) return false;
  }
  return true;
}

}  // namespace tavik
