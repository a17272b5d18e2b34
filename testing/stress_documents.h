// Seeded random documents and terms built to stress the reading rules: lines
// near multiples of the piece length, CR runs and CR LF pairs, NUL, 0x1A,
// bytes above 0x7F, terms of 0 to 300 bytes that hold CR, LF and bytes above
// 0x7F, and the term planted in either case around piece boundaries.
#ifndef TAVIK_TESTING_STRESS_DOCUMENTS_H_
#define TAVIK_TESTING_STRESS_DOCUMENTS_H_

#include <cstdint>
#include <random>
#include <string>

namespace tavik::testing {

struct StressCase {
  std::string term;      // as the request holds it (NUL-free)
  std::string document;  // the bytes on disk
};

class StressDocuments {
 public:
  explicit StressDocuments(uint32_t seed) : random_(seed) {}

  // The next case; documents are mostly small, a few run past 64 KiB.
  StressCase Next();

 private:
  size_t Below(size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
  }
  bool Chance(unsigned percent) { return Below(100) < percent; }
  char TextByte();
  std::string Term();
  std::string Line(const std::string& term);
  std::string LineEnd();

  std::mt19937 random_;
};

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_STRESS_DOCUMENTS_H_
