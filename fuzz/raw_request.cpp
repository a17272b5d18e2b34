#include "fuzz/raw_request.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "testing/fake_exchange.h"

namespace tavik::fuzz {
namespace {

constexpr size_t kMaxHeaders = 64;  // civetweb keeps no more

// Percent-decodes `text` as civetweb decodes a path ("+" stays).
std::string DecodePath(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto hex = [](char c) {
      return std::string_view("0123456789abcdefABCDEF").find(c) !=
             std::string_view::npos;
    };
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) &&
        hex(text[i + 2])) {
      decoded += static_cast<char>(
          std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

}  // namespace

std::string UpToNul(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

bool EqualsLower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

std::optional<ParsedRequest> ParseRequest(std::string_view raw) {
  size_t head_end = raw.find("\r\n\r\n");
  size_t body_at = head_end + 4;
  if (head_end == std::string_view::npos) {
    head_end = raw.find("\n\n");
    body_at = head_end + 2;
  }
  if (head_end == std::string_view::npos) head_end = body_at = raw.size();
  std::string_view head = raw.substr(0, head_end);
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 1);
  }
  if (lines.empty()) return std::nullopt;

  ParsedRequest request;
  const std::string_view line = lines[0];
  const size_t space = line.find(' ');
  const size_t second = line.find(' ', space + 1);
  if (space == 0 || space == std::string_view::npos ||
      second == std::string_view::npos) {
    return std::nullopt;
  }
  request.method = UpToNul(line.substr(0, space));
  const std::string_view target = line.substr(space + 1, second - space - 1);
  const std::string_view version = line.substr(second + 1);
  if (version != "HTTP/1.0" && version != "HTTP/1.1") return std::nullopt;
  request.version = std::string(version.substr(5));
  if (target.empty() || target.front() != '/') return std::nullopt;
  const size_t question = target.find('?');
  request.path = UpToNul(DecodePath(target.substr(0, question)));
  if (question != std::string_view::npos) {
    request.query = UpToNul(target.substr(question + 1));
  }
  for (size_t i = 1; i < lines.size() && request.headers.size() < kMaxHeaders;
       ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view value = lines[i].substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    request.headers.emplace_back(UpToNul(lines[i].substr(0, colon)),
                                 UpToNul(value));
  }

  std::string_view body =
      body_at < raw.size() ? raw.substr(body_at) : std::string_view();
  const std::string* coding = nullptr;
  const std::string* length = nullptr;
  for (const auto& [name, value] : request.headers) {
    if (coding == nullptr && EqualsLower(name, "transfer-encoding")) {
      coding = &value;
    }
    if (length == nullptr && EqualsLower(name, "content-length")) {
      length = &value;
    }
  }
  if (coding != nullptr && !EqualsLower(*coding, "identity")) {
    if (!EqualsLower(*coding, "chunked")) return std::nullopt;
    request.body = std::string(body);  // the chunks, already taken apart
  } else if (length != nullptr) {
    char* end = nullptr;
    const long long parsed = std::strtoll(length->c_str(), &end, 10);
    if (end == length->c_str() || parsed < 0) return std::nullopt;
    request.content_length = parsed;
    request.body = std::string(body.substr(
        0, static_cast<size_t>(std::min<long long>(parsed, LLONG_MAX))));
  }
  return request;
}

void ParsedRequest::MakeFacts() {
  facts = testing::LoopbackFacts(method, path, query, version, headers,
                                 content_length);
}

}  // namespace tavik::fuzz
