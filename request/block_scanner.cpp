#include "request/block_scanner.h"

#include <cstring>

#include "request/byte_search.h"
#include "request/text_folding.h"

namespace tavik {
namespace {

constexpr ptrdiff_t kPiece = static_cast<ptrdiff_t>(kMaxPieceLength);

// The start of the line that holds a position, for positions asked in
// increasing order; the searches behind them cover the text once in all.
class LineStarts {
 public:
  LineStarts(const char* text, bool use_simd)
      : start_(text), scanned_(text), use_simd_(use_simd) {}

  // REQUIRES: `at` is no lower than any position asked before.
  const char* StartOf(const char* at) {
    if (at > scanned_) {
      if (const char* lf = FindLastLineFeed(scanned_, at, use_simd_)) {
        start_ = lf + 1;
      }
      scanned_ = at;
    }
    return start_;
  }

 private:
  // [start_, scanned_) holds no line feed; start_ follows a line feed or is
  // the start of the text, which starts a piece.
  const char* start_;
  const char* scanned_;
  bool use_simd_;
};

// The start of the piece that holds `at` in the line (or run of pieces)
// that starts at `line`: a line is cut every kMaxPieceLength bytes.
const char* PieceStart(const char* line, const char* at) {
  return line + (at - line) / kPiece * kPiece;
}

// The end of the piece that starts at `piece`, given that [piece, from)
// holds no line feed: just after its line feed, or kMaxPieceLength bytes on.
// Returns nullptr when the piece is not finished within [piece, end).
const char* PieceEnd(const char* piece, const char* from, const char* end) {
  const bool full = end - piece >= kPiece;
  const char* limit = full ? piece + kPiece : end;
  if (const void* lf =
          std::memchr(from, '\n', static_cast<size_t>(limit - from))) {
    return static_cast<const char*>(lf) + 1;
  }
  return full ? limit : nullptr;
}

}  // namespace

BlockScanner::BlockScanner(size_t block_size)
    : buffer_(kCarrySize + block_size), block_size_(block_size) {}

size_t BlockScanner::CountHits(ReadableFile& file, const TermFinder& finder,
                               size_t limit, SummaryBuilder* summary) {
  if (!buffer_ || !finder.CanMatch() || limit == 0) return 0;
  const bool simd = finder.use_simd();
  const auto length = static_cast<ptrdiff_t>(finder.length());
  char* const block = buffer_.data() + kCarrySize;

  // Carried from one block to the next: the unfinished piece at the end of
  // the text, `kept` bytes that stand right before the held CR, if any,
  // which stands right before `block`; and whether that piece has its hit.
  ptrdiff_t kept = 0;
  bool kept_is_hit = false;
  bool held_cr = false;
  size_t hits = 0;
  for (;;) {
    // The text of this round is [text, end); a piece starts at `text`.
    char* const text = block - kept - (held_cr ? 1 : 0);
    // The text this round adds: [fresh, end), after the kept piece.
    char* const fresh = block - (held_cr ? 1 : 0);
    const size_t count = file.Read(block, block_size_);
    char* end = block;
    bool ended = count == 0;  // a held CR then stays as text
    if (!ended) {
      const FoldedBlock folded =
          FoldBlock(block - (held_cr ? 1 : 0), block + count, simd);
      end = folded.end;
      ended = folded.ended;
      held_cr = folded.held_cr;
    }
    if (summary != nullptr) summary->Add(fresh, end);

    LineStarts lines(text, simd);
    // A piece with its hit that runs on past `end`.
    const char* open_hit = nullptr;
    // Occurrences that start before `at` are dealt with: the kept piece was
    // searched as far as its bytes allowed, or has its hit already.
    const char* at = text;
    if (kept_is_hit) {
      at = PieceEnd(text, text + kept, end);
      if (at == nullptr) {
        open_hit = text;
        at = end;
      }
    } else if (length > 0 && kept >= length) {
      at = text + (kept - length + 1);
    }
    while (at < end) {
      // The empty term is in every piece, at its start.
      const char* found = length == 0 ? at : finder.Find(at, end);
      if (found == nullptr) break;
      const char* piece = PieceStart(lines.StartOf(found), found);
      if (found + length - piece > kPiece) {
        // It straddles two pieces; a later one may not.
        at = found + 1;
        continue;
      }
      const char* piece_end = PieceEnd(piece, found, end);
      // A NUL before the occurrence ends the searched part of the piece
      // first, and hides every later occurrence in that piece too.
      const auto searched = static_cast<size_t>(found - piece);
      if (std::memchr(piece, '\0', searched) == nullptr) {
        if (++hits == limit) return hits;
        if (piece_end == nullptr) open_hit = piece;
      }
      if (piece_end == nullptr) break;
      at = piece_end;
    }
    if (ended) {
      if (summary != nullptr) summary->Finish();
      return hits;
    }

    const char* piece = PieceStart(lines.StartOf(end), end);
    kept = end - piece;
    kept_is_hit = kept > 0 && piece == open_hit;
    char* const kept_at = block - kept - (held_cr ? 1 : 0);
    std::memmove(kept_at, piece, static_cast<size_t>(kept));
    if (held_cr) block[-1] = '\r';
  }
}

}  // namespace tavik
