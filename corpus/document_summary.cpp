#include "corpus/document_summary.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavik {
namespace {

constexpr size_t kWords = kSlotCount / 64;

}  // namespace

size_t SummaryBitsFor(size_t distinct_slots) {
  const size_t wanted = std::bit_ceil(distinct_slots * kSummaryBitsPerSlot);
  if (wanted < kMinSummaryBits) return kMinSummaryBits;
  return wanted > kSlotCount ? kSlotCount : wanted;
}

SummaryBuilder::SummaryBuilder()
    : scratch_(kSlotCount / 8 + kWords * sizeof(uint32_t)) {}

void SummaryBuilder::Start() {
  // Only the words the last document used are cleared.
  uint64_t* const bits = slots();
  const uint32_t* const used = touched();
  for (size_t k = 0; k < touched_count_; ++k) bits[used[k]] = 0;
  touched_count_ = 0;
  tail_length_ = 0;
  distinct_ = 0;
  finished_ = false;
}

void SummaryBuilder::MarkSequences(const unsigned char* text, size_t count) {
  uint64_t* const bits = slots();
  uint32_t* const used = touched();
  size_t used_count = touched_count_;
  const auto mark = [&](uint32_t slot) {
    uint64_t& word = bits[slot / 64];
    // A word marked for the first time is remembered, for clearing and for
    // the summary.
    if (word == 0) used[used_count++] = slot / 64;
    word |= uint64_t{1} << (slot % 64);
  };
  size_t at = 0;
  // One load gives six sequences; the seventh and eighth bytes only end
  // sequences, so a load needs count - at >= 6 for all six to count.
  for (; at + 8 <= count + 2; at += 6) {
    uint64_t bytes;
    std::memcpy(&bytes, text + at, sizeof bytes);
    bytes &= 0xDFDFDFDFDFDFDFDFull;
    for (int shift = 0; shift < 48; shift += 8) {
      const auto sequence = static_cast<uint32_t>(bytes >> shift) & 0xFFFFFFu;
      mark((sequence * 0x9E3779B1u) >> (32 - kSlotBits));
    }
  }
  for (; at < count; ++at) {
    mark(SequenceSlot(text[at], text[at + 1], text[at + 2]));
  }
  touched_count_ = used_count;
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
  const uint64_t* const bits = slots();
  const uint32_t* const used = touched();
  size_t distinct = 0;
  for (size_t k = 0; k < touched_count_; ++k) {
    distinct += static_cast<size_t>(std::popcount(bits[used[k]]));
  }
  distinct_ = distinct;
  finished_ = true;
}

void SummaryBuilder::Write(uint64_t* words) const {
  // Bit j of the summary is the union of slots j, j + bits, j + 2 bits...
  const size_t count = summary_bits() / 64;
  std::memset(words, 0, count * sizeof *words);
  const uint64_t* const bits = slots();
  const uint32_t* const used = touched();
  for (size_t k = 0; k < touched_count_; ++k) {
    words[used[k] % count] |= bits[used[k]];
  }
}

void TermSequences::Add(const char* term, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(term);
  for (size_t at = 0; at + 3 <= length && count_ < kMaxTermSequences; ++at) {
    slots_[count_++] = SequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2]);
  }
  // Each slot once, in order.
  std::sort(slots_, slots_ + count_);
  count_ = static_cast<size_t>(std::unique(slots_, slots_ + count_) - slots_);
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
