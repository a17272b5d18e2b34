// KeptAnswers: what a search made of a whole tree, kept as bytes for the
// same search on the same tree while the tree stays as it was: an answer is
// found only under the very count of changes it was kept under (see
// WatchRegistry::changes()), so nothing a watch vouches for has changed
// since. The searches decide what they keep and when it may be kept; the
// table only holds it, within a bound on its memory, the answers used
// longest ago going first. Thread-safe: one lock, held to find or to keep.
#ifndef TAVIK_CORPUS_KEPT_ANSWERS_H_
#define TAVIK_CORPUS_KEPT_ANSWERS_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

class KeptAnswers {
 public:
  // The answers take at most `max_bytes`.
  explicit KeptAnswers(size_t max_bytes) : max_bytes_(max_bytes) {}
  ~KeptAnswers();
  KeptAnswers(const KeptAnswers&) = delete;
  KeptAnswers& operator=(const KeptAnswers&) = delete;

  // Appends to `answer` the bytes kept under `key` and `changes`; false
  // when there are none (or memory ran out).
  bool Find(std::string_view key, uint64_t changes, ByteString& answer);
  // Keeps `answer` under `key` and `changes`, in place of what `key` held.
  void Keep(std::string_view key, uint64_t changes, std::string_view answer);

  size_t bytes();

 private:
  struct Entry {
    char* key;  // the key, then the answer, in one allocation
    size_t key_length;
    size_t answer_length;
    uint64_t changes;
    uint64_t used;  // when it was last found or kept
  };
  void Remove(size_t index);

  std::mutex mutex_;
  size_t max_bytes_;
  size_t bytes_ = 0;
  uint64_t clock_ = 0;
  GrowingArray<Entry> entries_;
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_KEPT_ANSWERS_H_
