// The plain reader: reads a document as text lines, the way a buffered
// text-mode reader on Windows delivers them, on every platform:
//   - a line is returned in pieces of at most kMaxPieceLength bytes; a piece
//     ends after a line feed (which stays in it) or when it is full, and a
//     last line without a line feed is still returned;
//   - each CR LF pair becomes one LF, also where the pair straddles two reads
//     of the file; a CR not followed by LF stays;
//   - the first byte 0x1A ends the document;
//   - NUL bytes are passed on unchanged;
//   - a read error ends the document as its end does.
// It is the reference the block scanner is held to, simple enough to be
// plainly right; the tests, the fuzzers and the benchmark use it, the
// extension does not.
#ifndef TAVIK_TESTING_TEXT_READER_H_
#define TAVIK_TESTING_TEXT_READER_H_

#include <cstddef>

#include "platform/readable_file.h"
#include "request/reading_rules.h"

namespace tavik {

class TextReader {
 public:
  // Reads from `file`, which must stay open while the reader is used.
  explicit TextReader(ReadableFile& file) : file_(file) {}

  // Stores the next piece and a NUL in `line`, which holds
  // kMaxPieceLength + 1 bytes, and returns its length in bytes (NULs inside
  // it counted). Returns 0 at the end of the document.
  size_t ReadLine(char* line);

 private:
  static constexpr int kEnd = -1;
  static constexpr size_t kBufferSize = 4096;

  // The next byte of the document after CR LF folding, or kEnd.
  int NextTextByte();
  // The next byte of the file itself without consuming it, or kEnd.
  int PeekFileByte();

  ReadableFile& file_;
  // Bytes [next_, end_) of buffer_ are read from the file and not yet used.
  unsigned char buffer_[kBufferSize] = {};
  size_t next_ = 0;
  size_t end_ = 0;
  // Set once the file's end, a read error or 0x1A has been met.
  bool ended_ = false;
};

}  // namespace tavik

#endif  // TAVIK_TESTING_TEXT_READER_H_
