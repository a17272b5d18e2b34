#include "host/extension_head.h"

#include <array>

#include "host/http_text.h"

namespace tavik {
namespace {

// The fields the server writes or controls itself: an extension's own copy
// would contradict the server's framing or its connection handling.
constexpr std::array<std::string_view, 9> kServerFields = {
    "Connection",        "Keep-Alive", "Proxy-Connection",
    "Transfer-Encoding", "TE",         "Trailer",
    "Upgrade",           "Date",       "Server"};

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
      (c >= '0' && c <= '9')) {
    return true;
  }
  return c != '\0' &&
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A field value may hold tabs and bytes from 0x20 up, DEL excepted.
bool IsValueChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
}

// Records the field `line` in `head`. Returns false when it is malformed.
bool AddField(std::string_view line, ExtensionHead* head) {
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  const std::string_view name = line.substr(0, colon);
  for (char c : name) {
    if (!IsTokenChar(c)) return false;
  }
  const std::string_view value = TrimWhitespace(line.substr(colon + 1));
  for (char c : value) {
    if (!IsValueChar(c)) return false;
  }
  for (std::string_view own : kServerFields) {
    if (EqualsIgnoringCase(name, own)) return true;
  }
  if (EqualsIgnoringCase(name, "Content-Length")) {
    uint64_t length = 0;
    if (!ParseDecimal(value, &length)) return false;
    if (head->content_length.has_value()) {
      // A repeated field is one value; two different ones frame nothing.
      return *head->content_length == length;
    }
    head->content_length = length;
  }
  head->fields.push_back(line);
  return true;
}

}  // namespace

bool ParseExtensionHead(std::string_view text, ExtensionHead* head) {
  *head = ExtensionHead();
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size()
                                                         : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      head->body_start = text;
      return true;
    }
    if (!AddField(line, head)) return false;
  }
  return true;
}

HeaderField SplitHeaderField(std::string_view field) {
  const size_t colon = field.find(':');
  return {field.substr(0, colon), TrimWhitespace(field.substr(colon + 1))};
}

int ParseStatusCode(std::string_view status) {
  if (status.size() < 3) return 0;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (status[i] < '0' || status[i] > '9') return 0;
    code = code * 10 + (status[i] - '0');
  }
  if (code < 100 || code > 599) return 0;
  if (status.size() == 3) return code;
  if (status[3] != ' ') return 0;
  for (char c : status.substr(4)) {
    if (!IsValueChar(c) || c == '\t') return 0;
  }
  return code;
}

}  // namespace tavik
