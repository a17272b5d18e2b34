// Making text safe to place in the result page.
#ifndef TAVIK_REQUEST_ESCAPING_H_
#define TAVIK_REQUEST_ESCAPING_H_

#include <cstddef>
#include <string_view>

namespace tavik {

// Writes `text` into `out` with & < > " ' replaced by &amp; &lt; &gt;
// &quot; &#39;, cut to `out_size` - 1 characters (an entity may be cut in
// the middle), and a NUL. REQUIRES: out_size >= 1.
void HtmlEscape(std::string_view text, char* out, size_t out_size);

// Writes `text` into `out` percent-encoded for use as an unquoted link
// target: every byte except A-Z a-z 0-9 - . _ ~ / ! $ ( ) * + , ; : @ becomes
// "%" and two upper-case hexadecimal digits. Cut and ended as HtmlEscape.
void PercentEncodeLink(std::string_view text, char* out, size_t out_size);

}  // namespace tavik

#endif  // TAVIK_REQUEST_ESCAPING_H_
