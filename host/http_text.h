// Small readers of HTTP text that every host shares: letters compared
// without case, the blanks around a field value, comma-separated lists and
// decimal lengths.
#ifndef TAVIK_HOST_HTTP_TEXT_H_
#define TAVIK_HOST_HTTP_TEXT_H_

#include <cstdint>
#include <string_view>

namespace tavik {

// True when `a` and `b` are equal, ASCII letters compared without case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// `text` without the spaces and tabs at its ends.
std::string_view TrimWhitespace(std::string_view text);

// True when the comma-separated header value `list` holds `token` (letters
// compared without case, spaces around items ignored).
bool HeaderListHas(std::string_view list, std::string_view token);

// True when `text` is a plain decimal number as HTTP writes lengths: one or
// more digits 0-9 and nothing else (no sign, no spaces), of any length.
bool IsPlainDecimal(std::string_view text);

// Stores the plain decimal number `text` in `value`. Returns false, leaving
// `value` unspecified, when `text` is not one (see IsPlainDecimal) or does
// not fit 64 bits.
bool ParseDecimal(std::string_view text, uint64_t* value);

}  // namespace tavik

#endif  // TAVIK_HOST_HTTP_TEXT_H_
