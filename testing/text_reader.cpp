#include "testing/text_reader.h"

namespace tavik {

int TextReader::PeekFileByte() {
  if (ended_) return kEnd;
  if (next_ == end_) {
    next_ = 0;
    end_ = file_.Read(buffer_, kBufferSize);
    if (end_ == 0) {
      ended_ = true;
      return kEnd;
    }
  }
  return buffer_[next_];
}

int TextReader::NextTextByte() {
  const int byte = PeekFileByte();
  if (byte == kEnd) return kEnd;
  if (byte == kEndOfText) {
    ended_ = true;
    return kEnd;
  }
  ++next_;
  // A CR followed by LF is read as the LF alone; the peek may refill the
  // buffer, so a pair split between two reads folds as well.
  if (byte == '\r' && PeekFileByte() == '\n') {
    ++next_;
    return '\n';
  }
  return byte;
}

size_t TextReader::ReadLine(char* line) {
  size_t length = 0;
  while (length < kMaxPieceLength) {
    const int byte = NextTextByte();
    if (byte == kEnd) break;
    line[length++] = static_cast<char>(byte);
    if (byte == '\n') break;
  }
  line[length] = '\0';
  return length;
}

}  // namespace tavik
