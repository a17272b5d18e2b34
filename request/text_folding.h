// Turning a block of a document's bytes, as they are on disk, into text as
// the reading rules give it: each CR LF pair becomes one LF, a CR not
// followed by LF stays, and the first byte 0x1A ends the document. NUL bytes
// and every other byte pass unchanged.
#ifndef TAVIK_REQUEST_TEXT_FOLDING_H_
#define TAVIK_REQUEST_TEXT_FOLDING_H_

namespace tavik {

struct FoldedBlock {
  // The folded text is [begin, end), where `begin` is the block's start.
  char* end;
  // True when a 0x1A was met: nothing after it belongs to the document.
  bool ended;
  // True when the block's last byte is a CR that was left out of the text:
  // whether it stays or folds into an LF depends on the next byte, so the
  // caller puts it back in front of the next block (or keeps it as text when
  // the document ends first).
  bool held_cr;
};

// Folds the bytes [begin, end), read in that order from the file, in place
// and says where the text ends; bytes after the text are unspecified. A
// block without CR and 0x1A, the common one, is left as it is after one
// search. `use_simd` as for the byte searches.
FoldedBlock FoldBlock(char* begin, char* end, bool use_simd);

}  // namespace tavik

#endif  // TAVIK_REQUEST_TEXT_FOLDING_H_
