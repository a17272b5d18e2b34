// From the form value to the search string: the joining of the
// "+"-separated pieces and the percent-decoding.
#include <cstring>

#include "platform/hex_digits.h"
#include "request/search_request.h"

namespace tavik {
namespace {

bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }

// The length of the line end (CR LF or a lone LF) that ends `text` of
// `length` bytes, or 0 when it ends otherwise.
size_t TrailingLineEndLength(const char* text, size_t length) {
  if (length == 0 || text[length - 1] != '\n') return 0;
  return (length >= 2 && text[length - 2] == '\r') ? 2 : 1;
}

}  // namespace

void JoinFormValue(const char* value, char* joined) {
  const size_t value_length = std::strlen(value);
  const size_t line_end_length = TrailingLineEndLength(value, value_length);

  // Each piece between runs of "+" is followed by one space; "+" at either
  // end makes no empty piece. The read position is this call's own.
  size_t length = 0;
  size_t at = 0;
  while (at < value_length) {
    while (at < value_length && value[at] == '+') ++at;
    if (at == value_length) break;
    while (at < value_length && value[at] != '+') {
      joined[length++] = value[at++];
    }
    joined[length++] = ' ';
  }

  // Remove the space after the last piece, then the line end a browser may
  // send after the value. A value of "+" only joins to nothing, so nothing
  // is removed before the buffer's start.
  if (length > 0) --length;
  if (length >= line_end_length) length -= line_end_length;
  joined[length] = '\0';
}

char SearchRequest::HexToChar(const char* lpszDigits) {
  return static_cast<char>(16 * HexDigitValue(lpszDigits[0]) +
                           HexDigitValue(lpszDigits[1]));
}

void SearchRequest::DecodeQuery(char* lpszText) {
  // Reading and writing the same buffer: `write` never overtakes `read`.
  const char* read = lpszText;
  char* write = lpszText;
  while (*read != '\0') {
    if (*read != '%') {
      *write++ = *read++;
    } else if (IsHexDigit(read[1]) && IsHexDigit(read[2])) {
      *write++ = HexToChar(read + 1);
      read += 3;
    } else {
      ++read;  // a lone "%" is dropped; what follows is read as usual
    }
  }
  *write = '\0';
}

}  // namespace tavik
