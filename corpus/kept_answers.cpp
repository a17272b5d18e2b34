#include "corpus/kept_answers.h"

#include <cstdlib>
#include <cstring>

namespace tavik {
namespace {

// The most answers kept, whatever their size.
constexpr size_t kMaxAnswers = 64;
// What the allocator and the entry add to each answer, counted too.
constexpr size_t kEntryCost = 64;

}  // namespace

KeptAnswers::~KeptAnswers() {
  for (const Entry& entry : entries_) std::free(entry.key);
}

void KeptAnswers::Remove(size_t index) {
  bytes_ -= entries_[index].key_length + entries_[index].answer_length + kEntryCost;
  std::free(entries_[index].key);
  entries_[index] = entries_[entries_.size() - 1];
  entries_.Truncate(entries_.size() - 1);
}

bool KeptAnswers::Find(std::string_view key, uint64_t changes,
                       ByteString& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& entry : entries_) {
    if (entry.changes != changes ||
        std::string_view(entry.key, entry.key_length) != key) {
      continue;
    }
    entry.used = ++clock_;
    answer.Append(entry.key + entry.key_length, entry.answer_length);
    return !answer.failed();
  }
  return false;
}

void KeptAnswers::Keep(std::string_view key, uint64_t changes,
                       std::string_view answer) {
  const size_t cost = key.size() + answer.size() + kEntryCost;
  if (cost > max_bytes_ / 4) return;  // not worth the room
  auto* memory = static_cast<char*>(std::malloc(key.size() + answer.size() + 1));
  if (memory == nullptr) return;
  std::memcpy(memory, key.data(), key.size());
  std::memcpy(memory + key.size(), answer.data(), answer.size());
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t index = 0; index < entries_.size();) {
    // The key's earlier answer, and answers kept under older changes,
    // which no search can find any more.
    const Entry& entry = entries_[index];
    if (entry.changes != changes ||
        std::string_view(entry.key, entry.key_length) == key) {
      Remove(index);
    } else {
      ++index;
    }
  }
  while (!entries_.empty() &&
         (bytes_ + cost > max_bytes_ || entries_.size() >= kMaxAnswers)) {
    size_t oldest = 0;
    for (size_t index = 1; index < entries_.size(); ++index) {
      if (entries_[index].used < entries_[oldest].used) oldest = index;
    }
    Remove(oldest);
  }
  entries_.Append({memory, key.size(), answer.size(), changes, ++clock_});
  if (entries_.failed()) {
    std::free(memory);
    for (const Entry& entry : entries_) std::free(entry.key);
    entries_.Clear();
    bytes_ = 0;
    return;
  }
  bytes_ += cost;
}

size_t KeptAnswers::bytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

}  // namespace tavik
