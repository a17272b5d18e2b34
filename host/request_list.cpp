#include "host/request_list.h"

#include "platform/hex_digits.h"

namespace tavik {
namespace {

bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': *out += '\\'; break;
      case 't': *out += '\t'; break;
      case 'r': *out += '\r'; break;
      case 'n': *out += '\n'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = HexDigitValue(text[i + 1]);
        const int low = HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *out += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

}  // namespace

bool ParseRequestList(std::string_view text, std::vector<ListedRequest>* out,
                      std::string* error) {
  size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view()
                                         : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;

    const size_t first_tab = line.find('\t');
    const size_t second_tab = first_tab == std::string_view::npos
                                  ? std::string_view::npos
                                  : line.find('\t', first_tab + 1);
    ListedRequest request;
    request.name = std::string(line.substr(0, first_tab));
    if (second_tab == std::string_view::npos || request.name.empty() ||
        !Unescape(line.substr(first_tab + 1, second_tab - first_tab - 1),
                  &request.path_info) ||
        !Unescape(line.substr(second_tab + 1), &request.posted)) {
      *error = "line " + std::to_string(line_number) +
               ": expected NAME<TAB>PATH<TAB>POSTED with valid escapes";
      return false;
    }
    if (!request.posted.empty() && request.posted[0] == '?') {
      request.is_get = true;
      request.query_string = request.posted.substr(1);
      request.posted.clear();
    }
    out->push_back(std::move(request));
  }
  return true;
}

}  // namespace tavik
