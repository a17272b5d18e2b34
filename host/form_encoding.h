// Form encoding of a field value, as a browser posts it.
#ifndef TAVIK_HOST_FORM_ENCODING_H_
#define TAVIK_HOST_FORM_ENCODING_H_

#include <string>
#include <string_view>

namespace tavik {

// Encodes `value` as a browser encodes a form field: letters and digits stay,
// a space becomes "+", every other byte "%" and two upper-case hexadecimal
// digits.
std::string FormEncode(std::string_view value);

}  // namespace tavik

#endif  // TAVIK_HOST_FORM_ENCODING_H_
