// The hash the summary cache keys its records by: the bytes of a full path.
#ifndef TAVIK_CORPUS_PATH_HASH_H_
#define TAVIK_CORPUS_PATH_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavik {

// Mixes eight bytes at a time; the top bits pick a shard, the low bits a
// bucket.
inline uint64_t PathHash(const char* path, size_t length) {
  uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
  size_t at = 0;
  for (; at + 8 <= length; at += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, path + at, sizeof chunk);
    hash = (hash ^ chunk) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
  }
  uint64_t last = 0;
  std::memcpy(&last, path + at, length - at);
  hash = (hash ^ last) * 0xC4CEB9FE1A85EC53ull;
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9ull;
  return hash ^ (hash >> 32);
}

}  // namespace tavik

#endif  // TAVIK_CORPUS_PATH_HASH_H_
