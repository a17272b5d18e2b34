#include "testing/fake_exchange.h"

#include <algorithm>
#include <cstring>

namespace tavik::testing {

FakeRequest::FakeRequest(std::string method, std::string path,
                         std::string version)
    : method_(std::move(method)),
      path_(std::move(path)),
      version_(std::move(version)) {}

FakeRequest& FakeRequest::Header(std::string name, std::string value) {
  headers_.emplace_back(std::move(name), std::move(value));
  return *this;
}

FakeRequest& FakeRequest::WithContentLength(int64_t length) {
  content_length_ = length;
  return Header("Content-Length", std::to_string(length));
}

FakeRequest& FakeRequest::Query(std::string query) {
  query_ = std::move(query);
  return *this;
}

FakeRequest& FakeRequest::ServerCloses() {
  server_closes_ = true;
  return *this;
}

const HttpRequestFacts& FakeRequest::facts() {
  facts_ = LoopbackFacts(method_, path_, query_, version_, headers_,
                         content_length_);
  facts_.server_keeps_alive = !server_closes_;
  return facts_;
}

int64_t FakeConnection::ReadBody(void* buffer, size_t size) {
  const size_t count = std::min({size, piece_, body_.size() - read_at_});
  if (count == 0 && size > 0 && too_slow_) return kBodyTooSlow;
  std::memcpy(buffer, body_.data() + read_at_, count);
  read_at_ += count;
  return static_cast<int64_t>(count);
}

bool FakeConnection::Write(const void* data, size_t size) {
  if (disconnected_) return false;
  writes_.emplace_back(static_cast<const char*>(data), size);
  return true;
}

std::string FakeConnection::written() const {
  std::string all;
  for (const std::string& piece : writes_) all += piece;
  return all;
}

std::string ParsedResponse::Field(const std::string& name) const {
  for (const auto& [field, value] : fields) {
    if (EqualsIgnoringCase(field, name)) return value;
  }
  return "";
}

bool ParsedResponse::HasField(const std::string& name) const {
  for (const auto& field : fields) {
    if (EqualsIgnoringCase(field.first, name)) return true;
  }
  return false;
}

ParsedResponse ParseResponse(const std::string& bytes) {
  ParsedResponse response;
  const size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return response;
  const std::string head = bytes.substr(0, end + 2);
  response.raw_body = bytes.substr(end + 4);
  size_t at = head.find("\r\n");
  response.status_line = head.substr(0, at);
  at += 2;
  while (at < head.size()) {
    const size_t line_end = head.find("\r\n", at);
    const std::string line = head.substr(at, line_end - at);
    const size_t colon = line.find(':');
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    response.fields.emplace_back(line.substr(0, colon), value);
    at = line_end + 2;
  }
  return response;
}

bool Dechunk(const std::string& raw, std::string* body) {
  body->clear();
  size_t at = 0;
  for (;;) {
    const size_t line_end = raw.find("\r\n", at);
    if (line_end == std::string::npos || line_end == at) return false;
    size_t size = 0;
    for (size_t i = at; i < line_end; ++i) {
      const char c = raw[i];
      const int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
      if (digit < 0) return false;
      size = size * 16 + static_cast<size_t>(digit);
    }
    at = line_end + 2;
    if (size == 0) return raw.compare(at, std::string::npos, "\r\n") == 0;
    if (raw.size() < at + size + 2 || raw.compare(at + size, 2, "\r\n") != 0) {
      return false;
    }
    body->append(raw, at, size);
    at += size + 2;
  }
}

}  // namespace tavik::testing
