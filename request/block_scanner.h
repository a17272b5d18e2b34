// BlockScanner: counts the pieces of a document that contain the match term,
// reading the document in large blocks through one fixed buffer. It gives
// exactly the count that reading the document with TextReader, upper-casing
// each piece up to its first NUL and looking for the term in it would give:
// pieces of at most kMaxPieceLength bytes that end after a line feed, CR LF
// folded to LF also across blocks, the first 0x1A ending the document, a NUL
// ending the searched part of its piece, one hit per piece.
//
// How: each block is folded in place, the term is searched across the whole
// block with TermFinder, and each occurrence found is mapped back to its
// piece (the last line feed before it gives the line's start, and pieces cut
// a line every kMaxPieceLength bytes). After a hit the search goes on at the
// next piece. A block holding no CR, NUL or 0x1A costs one search for CR and
// 0x1A, one search for the term and a short search for the last line feed.
//
// One scanner serves one request: it is used by one thread at a time, and
// documents one after the other.
#ifndef TAVIK_REQUEST_BLOCK_SCANNER_H_
#define TAVIK_REQUEST_BLOCK_SCANNER_H_

#include <cstddef>

#include "platform/readable_file.h"
#include "platform/work_buffer.h"
#include "corpus/document_summary.h"
#include "request/reading_rules.h"
#include "request/term_finder.h"

namespace tavik {

class BlockScanner {
 public:
  // The bytes read from a file at once in the search path.
  static constexpr size_t kDefaultBlockSize = 64 * 1024;
  // Room in front of each block for the unfinished piece of the block before
  // (at most kMaxPieceLength - 1 bytes) and a CR held back from it.
  static constexpr size_t kCarrySize = 256;

  // Obtains the block buffer, a work buffer of kCarrySize + `block_size`
  // bytes, and keeps it until destruction. REQUIRES: block_size >= 1.
  explicit BlockScanner(size_t block_size = kDefaultBlockSize);

  // False when the buffer could not be obtained; CountHits then gives 0.
  explicit operator bool() const { return static_cast<bool>(buffer_); }

  // Reads `file` from its start to its end or its first 0x1A and returns the
  // number of its pieces that contain `finder`'s term. Stops reading as soon
  // as that number reaches `limit` and returns `limit`. A term that cannot
  // match gives 0 without a read.
  //
  // With `summary`, started by the caller, it also adds the document's text
  // to it as it is read, and finishes it when the whole text has been read;
  // a count stopped at `limit` leaves it unfinished.
  size_t CountHits(ReadableFile& file, const TermFinder& finder, size_t limit,
                   SummaryBuilder* summary = nullptr);

 private:
  // Layout: [0, kCarrySize) takes the kept piece and the held CR, which end
  // right where the block is read, [kCarrySize, kCarrySize + block_size_).
  WorkBuffer buffer_;
  size_t block_size_;
};

}  // namespace tavik

#endif  // TAVIK_REQUEST_BLOCK_SCANNER_H_
