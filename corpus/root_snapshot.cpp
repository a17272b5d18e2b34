#include "corpus/root_snapshot.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tavik {
namespace {

// The most slot bitmaps one snapshot keeps; past them it starts afresh.
constexpr size_t kMaxSlotBitmaps = 256;

bool SummaryHolds(const SummaryPin& pin, uint32_t slot) {
  return SummaryHoldsSlot(pin.words, pin.bits, slot);
}

char* CopyText(const char* text) {
  const size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(length));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

}  // namespace

void RootSnapshot::Release() {
  if (references_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  delete this;
}

RootSnapshot::~RootSnapshot() {
  for (size_t index = 0; index < count_; ++index) {
    SummaryTable::Unpin(entries_[index].summary);
  }
  DropSlotBits();
  std::free(entries_);
  std::free(folders_);
  std::free(paths_);
  std::free(root_path_);
  std::free(real_root_);
}

RootSnapshot::Document RootSnapshot::document(size_t index) const {
  const Entry& entry = entries_[index];
  const Folder& folder = folders_[entry.folder];
  return {paths_ + entry.path_offset, entry.kind, folder.listing,
          folder.device};
}

void RootSnapshot::DropSlotBits() {
  for (const SlotBitmap& bitmap : slot_bits_) std::free(bitmap.bits);
  slot_bits_.Clear();
}

const uint64_t* RootSnapshot::SlotBits(uint32_t slot) {
  for (const SlotBitmap& bitmap : slot_bits_) {
    if (bitmap.slot == slot) return bitmap.bits;
  }
  const size_t words = (count_ + 63) / 64;
  auto* bits = static_cast<uint64_t*>(std::calloc(words == 0 ? 1 : words,
                                                  sizeof(uint64_t)));
  if (bits == nullptr) return nullptr;
  for (size_t index = 0; index < count_; ++index) {
    const SummaryPin& summary = entries_[index].summary;
    if (summary && SummaryHolds(summary, slot)) {
      bits[index / 64] |= uint64_t{1} << (index % 64);
    }
  }
  slot_bits_.Append({slot, bits});
  if (slot_bits_.failed()) {
    std::free(bits);
    slot_bits_.Clear();
    return nullptr;
  }
  return bits;
}

bool RootSnapshot::MarkOpenFiles(
    const GrowingArray<WatchRegistry::OpenFile>& open,
    GrowingArray<uint64_t>& may) {
  if (open.empty()) return true;
  GrowingArray<uint32_t> positions;
  if (!FindPositionsOfFiles(open, positions)) return false;
  for (const uint32_t position : positions) {
    may[position / 64] |= uint64_t{1} << (position % 64);
  }
  return true;
}

void RootSnapshot::PositionsOfFiles(
    const GrowingArray<WatchRegistry::OpenFile>& files,
    GrowingArray<uint32_t>& positions) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!FindPositionsOfFiles(files, positions)) positions.MarkFailed();
}

bool RootSnapshot::FindPositionsOfFiles(
    const GrowingArray<WatchRegistry::OpenFile>& files,
    GrowingArray<uint32_t>& positions) {
  if (files.empty()) return true;
  const auto before = [](const FilePosition& a, const FilePosition& b) {
    return a.device != b.device ? a.device < b.device : a.file < b.file;
  };
  if (!by_file_current_) {
    by_file_.Clear();
    for (size_t index = 0; index < count_; ++index) {
      const SummaryPin& summary = entries_[index].summary;
      if (summary) {
        by_file_.Append({summary.device, summary.file,
                         static_cast<uint32_t>(index)});
      }
    }
    if (by_file_.failed()) return false;
    std::sort(by_file_.begin(), by_file_.end(), before);
    by_file_current_ = true;
  }
  for (const WatchRegistry::OpenFile& file : files) {
    const FilePosition wanted = {file.device, file.number, 0};
    for (const FilePosition* at =
             std::lower_bound(by_file_.begin(), by_file_.end(), wanted, before);
         at != by_file_.end() && at->device == file.device &&
         at->file == file.number;
         ++at) {
      positions.Append(at->position);
    }
  }
  return !positions.failed();
}

void RootSnapshot::Candidates(const TermSequences& term,
                              const GrowingArray<WatchRegistry::OpenFile>& open,
                              GrowingArray<uint32_t>& positions,
                              uint64_t* left_out, uint64_t* left_out_bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t slots = term.count() < kMaxSnapshotSlots ? term.count()
                                                        : kMaxSnapshotSlots;
  const uint64_t* bitmaps[kMaxSnapshotSlots];
  bool filtered = slots > 0;
  // Room for this term's bitmaps first: none of them may go while the
  // others are used.
  if (slot_bits_.size() + slots > kMaxSlotBitmaps) DropSlotBits();
  for (size_t k = 0; k < slots && filtered; ++k) {
    bitmaps[k] = SlotBits(term.slots()[k]);
    filtered = bitmaps[k] != nullptr;
  }
  const size_t words = (count_ + 63) / 64;
  // The documents that may match, a word of them at a time: those the
  // summaries allow, those without one, those held open.
  GrowingArray<uint64_t> may;
  uint64_t* const bits = may.Extend(words);
  if (bits == nullptr) {
    positions.MarkFailed();  // the caller takes every document
    return;
  }
  for (size_t word = 0; word < words; ++word) {
    uint64_t allowed = ~uint64_t{0};
    if (filtered) {
      for (size_t k = 0; k < slots; ++k) allowed &= bitmaps[k][word];
      allowed |= unsummarized_[word];
    }
    bits[word] = allowed;
  }
  if (filtered && !MarkOpenFiles(open, may)) {
    positions.MarkFailed();
    return;
  }
  if (count_ % 64 != 0) bits[words - 1] &= (uint64_t{1} << (count_ % 64)) - 1;
  for (size_t word = 0; word < words; ++word) {
    for (uint64_t left = bits[word]; left != 0; left &= left - 1) {
      positions.Append(static_cast<uint32_t>(
          word * 64 + static_cast<size_t>(std::countr_zero(left))));
    }
  }
  uint64_t kept = 0;
  uint64_t kept_bytes = 0;
  for (const uint32_t position : positions) {
    const SummaryPin& summary = entries_[position].summary;
    if (!summary) continue;
    ++kept;
    kept_bytes += summary.document_bytes;
  }
  *left_out = summarized_ - kept;
  *left_out_bytes = summarized_bytes_ - kept_bytes;
}

bool RootSnapshot::complete() {
  std::lock_guard<std::mutex> lock(mutex_);
  return summarized_ == count_;
}

void RootSnapshot::Adopt(size_t position, const SummaryPin& pin) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry& entry = entries_[position];
  if (entry.summary) {
    SummaryTable::Unpin(pin);
    return;
  }
  entry.summary = pin;
  by_file_current_ = false;
  ++summarized_;
  summarized_bytes_ += pin.document_bytes;
  unsummarized_[position / 64] &= ~(uint64_t{1} << (position % 64));
  for (const SlotBitmap& bitmap : slot_bits_) {
    if (SummaryHolds(pin, bitmap.slot)) {
      bitmap.bits[position / 64] |= uint64_t{1} << (position % 64);
    }
  }
}

SnapshotBuilder::~SnapshotBuilder() {
  for (const PendingEntry& entry : entries_) SummaryTable::Unpin(entry.summary);
}

void SnapshotBuilder::Folder(uint64_t listing, uint64_t device) {
  folders_.Append({listing, device});
}

void SnapshotBuilder::Document(const char* path, EntryKind kind,
                               const SummaryPin& pin) {
  if (folders_.empty()) {
    SummaryTable::Unpin(pin);
    spoiled_ = true;
    return;
  }
  const size_t offset = paths_.size();
  paths_.Append(std::string_view(path, std::strlen(path) + 1));
  entries_.Append({offset, folders_.size() - 1, kind, pin});
  if (entries_.failed()) {
    SummaryTable::Unpin(pin);
    spoiled_ = true;
  }
}

RootSnapshot* SnapshotBuilder::Finish(SummaryKind kind, uint64_t changes,
                                      const char* root_path,
                                      const char* real_root, uint64_t device,
                                      uint64_t number) {
  if (spoiled_ || paths_.failed() || folders_.failed() || entries_.failed() ||
      paths_.size() > UINT32_MAX || folders_.size() > UINT32_MAX) {
    return nullptr;
  }
  auto* snapshot = new (std::nothrow) RootSnapshot;
  if (snapshot == nullptr) return nullptr;
  snapshot->kind_ = kind;
  snapshot->changes_ = changes;
  snapshot->root_device_ = device;
  snapshot->root_number_ = number;
  snapshot->root_path_ = CopyText(root_path);
  snapshot->real_root_ = CopyText(real_root);
  const size_t count = entries_.size();
  const size_t words = (count + 63) / 64;
  snapshot->entries_ = static_cast<RootSnapshot::Entry*>(
      std::malloc((count == 0 ? 1 : count) * sizeof(RootSnapshot::Entry)));
  snapshot->folders_ = static_cast<RootSnapshot::Folder*>(std::malloc(
      (folders_.empty() ? 1 : folders_.size()) * sizeof(RootSnapshot::Folder)));
  snapshot->paths_ = static_cast<char*>(std::malloc(paths_.empty() ? 1 : paths_.size()));
  snapshot->unsummarized_.Extend(words);
  if (snapshot->root_path_ == nullptr || snapshot->real_root_ == nullptr ||
      snapshot->entries_ == nullptr || snapshot->folders_ == nullptr ||
      snapshot->paths_ == nullptr || snapshot->unsummarized_.failed()) {
    snapshot->Release();
    return nullptr;
  }
  // An empty tree has no folders, paths or bitmap words, and its buffers
  // may be null: nothing is copied then.
  if (!folders_.empty()) {
    std::memcpy(snapshot->folders_, folders_.data(),
                folders_.size() * sizeof(RootSnapshot::Folder));
  }
  if (!paths_.empty()) std::memcpy(snapshot->paths_, paths_.data(), paths_.size());
  if (words > 0) std::memset(snapshot->unsummarized_.data(), 0, words * sizeof(uint64_t));
  for (size_t index = 0; index < count; ++index) {
    const PendingEntry& entry = entries_[index];
    snapshot->entries_[index] = {static_cast<uint32_t>(entry.path_offset),
                                 static_cast<uint32_t>(entry.folder),
                                 entry.kind, entry.summary};
    if (!entry.summary) {
      snapshot->unsummarized_[index / 64] |= uint64_t{1} << (index % 64);
    } else {
      ++snapshot->summarized_;
      snapshot->summarized_bytes_ += entry.summary.document_bytes;
    }
    snapshot->count_ = index + 1;
  }
  // The pins are the snapshot's now.
  entries_.Clear();
  snapshot->bytes_ = sizeof(RootSnapshot) + count * sizeof(RootSnapshot::Entry) +
                     folders_.size() * sizeof(RootSnapshot::Folder) +
                     paths_.size() + words * sizeof(uint64_t);
  return snapshot;
}

}  // namespace tavik
