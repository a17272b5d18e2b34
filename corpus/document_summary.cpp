#include "corpus/document_summary.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavik {
size_t SummaryBitsFor(size_t distinct_slots, bool long_sequences) {
  constexpr size_t kMinWords = kMinSummaryBits / 64;
  constexpr size_t kMaxWords = kSlotCount / 64;
  size_t words = (distinct_slots * kSummaryBitsPerSlot + 63) / 64;
  words = std::clamp(words, kMinWords, kMaxWords);
  // The word count's parity tells whether the four-byte sequences are kept.
  if ((words % 2 == 1) != long_sequences) {
    words = words < kMaxWords ? words + 1 : words - 1;
  }
  return words * 64;
}

SummaryBuilder::SummaryBuilder() : scratch_(2 * kPartBytes) {}

void SummaryBuilder::Start(uint64_t expected_bytes) {
  // Only the words the last document used are cleared.
  for (const bool long_sequences : {false, true}) {
    uint64_t* const bits = slots(long_sequences);
    const uint32_t* const used = touched(long_sequences);
    for (size_t k = 0; k < touched_count_[long_sequences]; ++k) bits[used[k]] = 0;
    touched_count_[long_sequences] = 0;
  }
  mark_long_ = expected_bytes >= kLongTextBytes;
  keep_long_ = false;
  tail_length_ = 0;
  bits_ = 0;
  finished_ = false;
}

void SummaryBuilder::MarkSequences(const unsigned char* text, size_t count) {
  uint64_t* const bits = slots(false);
  uint32_t* const used = touched(false);
  size_t used_count = touched_count_[0];
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
  touched_count_[0] = used_count;
}

void SummaryBuilder::MarkLongSequences(const unsigned char* text, size_t count) {
  uint64_t* const bits = slots(true);
  uint32_t* const used = touched(true);
  size_t used_count = touched_count_[1];
  const auto mark = [&](uint32_t slot) {
    uint64_t& word = bits[slot / 64];
    if (word == 0) used[used_count++] = slot / 64;
    word |= uint64_t{1} << (slot % 64);
  };
  size_t at = 0;
  // One load gives five sequences of four bytes.
  for (; at + 8 <= count + 3; at += 5) {
    uint64_t bytes;
    std::memcpy(&bytes, text + at, sizeof bytes);
    bytes &= 0xDFDFDFDFDFDFDFDFull;
    for (int shift = 0; shift < 40; shift += 8) {
      const auto sequence = static_cast<uint32_t>(bytes >> shift);
      mark((sequence * 0x85EBCA77u) >> (32 - kSlotBits));
    }
  }
  for (; at < count; ++at) {
    mark(LongSequenceSlot(text[at], text[at + 1], text[at + 2], text[at + 3]));
  }
  touched_count_[1] = used_count;
}

void SummaryBuilder::MarkStraddling(const unsigned char* text, size_t length) {
  // The tail and the first bytes of the stretch side by side; a sequence
  // straddles when it starts in the tail and ends past it.
  unsigned char joined[6];
  std::memcpy(joined, tail_, tail_length_);
  const size_t taken = length < 3 ? length : 3;
  std::memcpy(joined + tail_length_, text, taken);
  const size_t joined_length = tail_length_ + taken;
  for (size_t at = tail_length_ >= 2 ? tail_length_ - 2 : 0;
       at < tail_length_ && at + 3 <= joined_length; ++at) {
    MarkSequences(joined + at, 1);
  }
  if (!mark_long_) return;
  for (size_t at = 0; at < tail_length_ && at + 4 <= joined_length; ++at) {
    MarkLongSequences(joined + at, 1);
  }
}

void SummaryBuilder::Add(const char* begin, const char* end) {
  const auto* text = reinterpret_cast<const unsigned char*>(begin);
  const auto length = static_cast<size_t>(end - begin);
  if (length == 0) return;
  if (tail_length_ > 0) MarkStraddling(text, length);
  // The sequences wholly inside the stretch.
  if (length >= 3) MarkSequences(text, length - 2);
  if (mark_long_ && length >= 4) MarkLongSequences(text, length - 3);
  // The new tail: the last three bytes of tail and stretch together.
  if (length >= 3) {
    std::memcpy(tail_, text + length - 3, 3);
    tail_length_ = 3;
    return;
  }
  for (size_t k = 0; k < length; ++k) {
    if (tail_length_ == 3) {
      tail_[0] = tail_[1];
      tail_[1] = tail_[2];
      tail_length_ = 2;
    }
    tail_[tail_length_++] = text[k];
  }
}

void SummaryBuilder::Finish() {
  size_t distinct[2] = {};
  for (const bool long_sequences : {false, true}) {
    const uint64_t* const bits = slots(long_sequences);
    const uint32_t* const used = touched(long_sequences);
    for (size_t k = 0; k < touched_count_[long_sequences]; ++k) {
      distinct[long_sequences] += static_cast<size_t>(std::popcount(bits[used[k]]));
    }
  }
  keep_long_ = mark_long_ && distinct[0] >= kLongFromDistinct;
  bits_ = SummaryBitsFor(distinct[0] + (keep_long_ ? distinct[1] : 0),
                         keep_long_);
  finished_ = true;
}

void SummaryBuilder::Write(uint64_t* words) const {
  const size_t summary_bits = bits_;
  std::memset(words, 0, summary_bits / 64 * sizeof *words);
  for (const bool long_sequences : {false, true}) {
    if (long_sequences && !keep_long_) break;
    const uint64_t* const bits = slots(long_sequences);
    const uint32_t* const used = touched(long_sequences);
    for (size_t k = 0; k < touched_count_[long_sequences]; ++k) {
      for (uint64_t left = bits[used[k]]; left != 0; left &= left - 1) {
        const auto slot = static_cast<uint32_t>(
            used[k] * 64 + static_cast<uint32_t>(std::countr_zero(left)));
        MarkSummarySlot(words, summary_bits, slot);
      }
    }
  }
}

void TermSequences::Add(const char* term, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(term);
  for (size_t at = 0; at + 3 <= length && count_ < kMaxTermSequences; ++at) {
    slots_[count_++] = SequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2]);
  }
  for (size_t at = 0; at + 4 <= length && long_count_ < kMaxTermSequences;
       ++at) {
    long_slots_[long_count_++] =
        LongSequenceSlot(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
  }
  // Each slot once, in order.
  std::sort(slots_, slots_ + count_);
  count_ = static_cast<size_t>(std::unique(slots_, slots_ + count_) - slots_);
  std::sort(long_slots_, long_slots_ + long_count_);
  long_count_ = static_cast<size_t>(
      std::unique(long_slots_, long_slots_ + long_count_) - long_slots_);
}

bool TermSequences::MayOccurIn(const uint64_t* words, size_t bits) const {
  for (size_t k = 0; k < count_; ++k) {
    if (!SummaryHoldsSlot(words, bits, slots_[k])) return false;
  }
  if (!SummaryKeepsLong(bits)) return true;
  for (size_t k = 0; k < long_count_; ++k) {
    if (!SummaryHoldsSlot(words, bits, long_slots_[k])) return false;
  }
  return true;
}

}  // namespace tavik
