#include "word_search/query_fields.h"

#include "platform/hex_digits.h"

namespace tavik {
namespace {

// Appends `text` form-decoded to `out`.
void AppendFormDecoded(std::string_view text, ByteString& out) {
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '+') {
      out.Append(' ');
    } else if (c == '%' && at + 2 < text.size() &&
               HexDigitValue(text[at + 1]) >= 0 &&
               HexDigitValue(text[at + 2]) >= 0) {
      out.Append(static_cast<char>(HexDigitValue(text[at + 1]) * 16 +
                                   HexDigitValue(text[at + 2])));
      at += 2;
    } else {
      out.Append(c);
    }
  }
}

// Calls `take` with each field's raw name and value.
template <typename Take>
void ForEachField(std::string_view query, Take&& take) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view field = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view()
                                          : query.substr(amp + 1);
    const size_t equals = field.find('=');
    take(field.substr(0, equals), equals == std::string_view::npos
                                      ? std::string_view()
                                      : field.substr(equals + 1));
  }
}

// True when the raw field name `raw` decodes to `name`.
bool NameIs(std::string_view raw, std::string_view name) {
  ByteString decoded;
  AppendFormDecoded(raw, decoded);
  return decoded.view() == name;
}

long PageNumber(std::string_view raw) {
  ByteString text;
  AppendFormDecoded(raw, text);
  const std::string_view digits = text.view();
  if (digits.empty() || digits.size() > 7) return 1;
  long value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 1;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= kMaxPageNumber ? value : 1;
}

}  // namespace

void ReadQueryFields(std::string_view query, QueryFields& fields) {
  bool page_seen = false;
  bool format_seen = false;
  ForEachField(query, [&](std::string_view name, std::string_view value) {
    if (!fields.has_q && NameIs(name, "q")) {
      fields.has_q = true;
      AppendFormDecoded(value, fields.q);
    } else if (!page_seen && NameIs(name, "page")) {
      page_seen = true;
      fields.page = PageNumber(value);
    } else if (!format_seen && NameIs(name, "format")) {
      format_seen = true;
      ByteString format;
      AppendFormDecoded(value, format);
      fields.json = format.view() == "json";
    }
  });
}

bool HasSearchField(std::string_view query) {
  bool found = false;
  ForEachField(query, [&](std::string_view name, std::string_view) {
    found = found || NameIs(name, "q");
  });
  return found;
}

}  // namespace tavik
