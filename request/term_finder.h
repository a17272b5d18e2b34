// TermFinder: finds the match term in text, comparing as the search does:
// each text byte upper-cased ("a" to "z" only) against the term byte for
// byte. Built once per request from the term; afterwards it is read only,
// so one finder serves every document of the request.
//
// The search: a prefilter compares the term's two rarest bytes (by a table
// of byte frequencies in HTML text; a letter stands for both its cases) at
// their offsets against 16 positions at once, and only positions where both
// agree are compared whole. Portable code, with SSE2 where the compiler
// targets it.
#ifndef TAVIK_REQUEST_TERM_FINDER_H_
#define TAVIK_REQUEST_TERM_FINDER_H_

#include <cstddef>

#include "request/reading_rules.h"

namespace tavik {

class TermFinder {
 public:
  // Builds the finder for the NUL-terminated match term `term` (any length;
  // it is upper-cased already, as the request's term is). `use_simd` false
  // takes the portable path everywhere (the tests compare the two).
  explicit TermFinder(const char* term, bool use_simd = true);

  // False when no piece of any document can contain the term: it is longer
  // than a piece, holds a line feed before its last byte (a line feed ends
  // its piece), or holds a letter "a" to "z" (pieces are searched
  // upper-cased).
  bool CanMatch() const { return can_match_; }

  // The term's length in bytes; 0 for the empty term, which every piece
  // contains. REQUIRES: CanMatch().
  size_t length() const { return length_; }

  bool use_simd() const { return use_simd_; }

  // Returns the first position p in [from, end) with p + length() <= end
  // whose bytes [p, p + length()), upper-cased, equal the term; nullptr when
  // there is none. REQUIRES: CanMatch() and length() > 0.
  const char* Find(const char* from, const char* end) const;

 private:
  // True when the length() bytes at `at` match the term.
  bool MatchesAt(const unsigned char* at) const;
  const char* FindPortable(const char* from, const char* end) const;
  const char* FindSse2(const char* from, const char* end) const;

  // A text byte c matches term byte i when (c | fold_[i]) == lower_[i]:
  // fold_ is 0x20 for a letter, which makes both cases equal, else 0.
  unsigned char lower_[kMaxPieceLength] = {};
  unsigned char fold_[kMaxPieceLength] = {};
  size_t length_ = 0;
  // Offsets of the two rarest bytes; equal for a term of one byte.
  size_t rare_ = 0;
  size_t second_rare_ = 0;
  bool can_match_ = false;
  bool use_simd_;
};

}  // namespace tavik

#endif  // TAVIK_REQUEST_TERM_FINDER_H_
