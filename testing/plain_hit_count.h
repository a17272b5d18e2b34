// The reference the block scanner is held to: the document read piece by
// piece with the plain TextReader, each piece upper-cased up to its first NUL
// and searched for the term with strstr, one hit per piece.
#ifndef TAVIK_TESTING_PLAIN_HIT_COUNT_H_
#define TAVIK_TESTING_PLAIN_HIT_COUNT_H_

#include <cstddef>
#include <cstring>

#include "platform/ascii.h"
#include "platform/readable_file.h"
#include "testing/text_reader.h"

namespace tavik::testing {

// The pieces of the document at `path` that contain the NUL-terminated
// `term`, reading no further once they number `limit`; -1 when the document
// cannot be opened.
inline long PlainHitCount(const char* path, const char* term,
                          long limit = -1) {
  ReadableFile file;
  if (!file.Open(path)) return -1;
  TextReader reader(file);
  char line[kMaxPieceLength + 1];
  long hits = 0;
  while (reader.ReadLine(line) > 0) {
    AsciiUpperInPlace(line);
    if (std::strstr(line, term) != nullptr && ++hits == limit) break;
  }
  return hits;
}

}  // namespace tavik::testing

#endif  // TAVIK_TESTING_PLAIN_HIT_COUNT_H_
