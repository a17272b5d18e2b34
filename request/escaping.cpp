#include "request/escaping.h"

#include <cstring>

#include "platform/hex_digits.h"
#include "platform/html_escape.h"

namespace tavik {
namespace {

// Appends the bytes of `piece` to `out` while room is left for the NUL.
class BoundedWriter {
 public:
  BoundedWriter(char* out, size_t size) : out_(out), limit_(size - 1) {}
  ~BoundedWriter() { out_[length_] = '\0'; }
  void Append(std::string_view piece) {
    for (char c : piece) {
      if (length_ == limit_) return;
      out_[length_++] = c;
    }
  }

 private:
  char* out_;
  size_t limit_;
  size_t length_ = 0;
};

bool IsLinkSafe(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
      (c >= '0' && c <= '9')) {
    return true;
  }
  return c != '\0' && std::strchr("-._~/!$()*+,;:@", c) != nullptr;
}

}  // namespace

void HtmlEscape(std::string_view text, char* out, size_t out_size) {
  BoundedWriter writer(out, out_size);
  EscapeHtml(text, [&writer](std::string_view piece) { writer.Append(piece); });
}

void PercentEncodeLink(std::string_view text, char* out, size_t out_size) {
  BoundedWriter writer(out, out_size);
  for (char c : text) {
    if (IsLinkSafe(c)) {
      writer.Append(std::string_view(&c, 1));
    } else {
      writer.Append(PercentEscaped(c).view());
    }
  }
}

}  // namespace tavik
