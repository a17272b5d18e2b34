#include "request/escaping.h"

#include <cstring>

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

const char* HtmlEntity(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

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
  for (char c : text) {
    const char* entity = HtmlEntity(c);
    writer.Append(entity != nullptr ? std::string_view(entity)
                                    : std::string_view(&c, 1));
  }
}

void PercentEncodeLink(std::string_view text, char* out, size_t out_size) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  BoundedWriter writer(out, out_size);
  for (char c : text) {
    if (IsLinkSafe(c)) {
      writer.Append(std::string_view(&c, 1));
    } else {
      const auto byte = static_cast<unsigned char>(c);
      const char encoded[3] = {'%', kHexDigits[byte >> 4],
                               kHexDigits[byte & 0xF]};
      writer.Append(std::string_view(encoded, 3));
    }
  }
}

}  // namespace tavik
