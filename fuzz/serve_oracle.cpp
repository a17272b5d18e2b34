#include "fuzz/serve_oracle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tavik::fuzz {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsInside(const std::string& root, const std::string& path) {
  return path == root || StartsWith(path, root + "/");
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool IsToken(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                       (c >= 'A' && c <= 'Z');
    if (!alnum &&
        std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) ==
            std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// Field values and reason phrases: tabs, and bytes from 0x20 up but DEL.
bool IsFieldText(std::string_view text, bool tab_allowed) {
  for (unsigned char c : text) {
    if (c == '\t' ? !tab_allowed : (c < 0x20 || c == 0x7F)) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

// Reads the chunked body at the start of `bytes` into `body`. Returns the
// bytes it took, or 0 when they end first; sets `fault` when a chunk is
// malformed.
size_t ReadChunks(std::string_view bytes, std::string* body,
                  std::string* fault) {
  size_t at = 0;
  for (;;) {
    const size_t line_end = bytes.find("\r\n", at);
    if (line_end == std::string_view::npos) return 0;
    const std::string_view digits = bytes.substr(at, line_end - at);
    if (digits.empty() || digits.size() > 8) {
      *fault = "a malformed chunk size";
      return 0;
    }
    size_t size = 0;
    for (char c : digits) {
      const int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
      if (digit < 0) {
        *fault = "a malformed chunk size";
        return 0;
      }
      size = size * 16 + static_cast<size_t>(digit);
    }
    at = line_end + 2;
    if (size == 0) {
      if (bytes.size() < at + 2) return 0;
      if (bytes.substr(at, 2) != "\r\n") *fault = "trailer fields after chunks";
      return at + 2;
    }
    if (bytes.size() < at + size + 2) return 0;
    if (bytes.substr(at + size, 2) != "\r\n") {
      *fault = "a chunk longer than its size";
      return 0;
    }
    body->append(bytes.substr(at, size));
    at += size + 2;
  }
}

}  // namespace

std::optional<std::string> NormalizeBelow(std::string_view root,
                                          std::string_view rest) {
  std::vector<std::string_view> kept;
  size_t at = 0;
  while (at <= rest.size()) {
    size_t slash = rest.find('/', at);
    if (slash == std::string_view::npos) slash = rest.size();
    const std::string_view segment = rest.substr(at, slash - at);
    at = slash + 1;
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (kept.empty()) return std::nullopt;
      kept.pop_back();
    } else {
      kept.push_back(segment);
    }
  }
  std::string path(root == "/" ? "" : root);
  for (std::string_view segment : kept) {
    path += '/';
    path += segment;
  }
  return path.empty() ? "/" : path;
}

Confinement Confine(const std::string& root, const std::string& path) {
  if (!IsInside(root, path)) return Confinement::kOutside;
  // Each leading part below the root, shortest first, up to the first that
  // is not there: a dangling link among them may come to lead anywhere.
  std::string existing = root;
  for (size_t end = root.size(); end < path.size();) {
    end = path.find('/', end + 1);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(0, end);
    struct stat entry;
    if (lstat(part.c_str(), &entry) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) break;
      return Confinement::kUnknown;
    }
    existing = part;
    if (S_ISLNK(entry.st_mode) && access(part.c_str(), F_OK) != 0) {
      return errno == ENOENT ? Confinement::kOutside : Confinement::kUnknown;
    }
  }
  // The path leads where its longest existing part resolves to, so a link
  // that leads out of the root and back into it again ends inside; what
  // follows that part holds no "..", so it can only go further down.
  char target[PATH_MAX];
  if (realpath(existing.c_str(), target) == nullptr) {
    return Confinement::kUnknown;
  }
  return IsInside(root, target) ? Confinement::kInside : Confinement::kOutside;
}

namespace {

// The fields of a response head that frame it, counted.
struct HeadFields {
  int connections = 0, dates = 0, servers = 0, codings = 0, lengths = 0;
  std::string connection;  // the Connection value, lower-cased
  uint64_t length = 0;     // the Content-Length's value
};

// Reads the status code of `status_line` into `reading`. Returns false with
// the fault when the line is not "HTTP/1.1 ", a code and an optional reason.
bool ReadStatusLine(std::string_view status_line, ResponseReading* reading) {
  if (!StartsWith(status_line, "HTTP/1.1 ") || status_line.size() < 12 ||
      (status_line.size() > 12 && status_line[12] != ' ') ||
      !IsFieldText(status_line, false)) {
    reading->fault = "a malformed status line";
    return false;
  }
  for (int i = 9; i < 12; ++i) {
    if (status_line[i] < '0' || status_line[i] > '9') {
      reading->fault = "a malformed status code";
      return false;
    }
    reading->status_code = reading->status_code * 10 + (status_line[i] - '0');
  }
  if (reading->status_code < 100 || reading->status_code > 599) {
    reading->fault = "a status code out of range";
    return false;
  }
  return true;
}

// Reads the field lines of `head`, each ended by CR LF, into `fields`.
// Returns false with the fault when any is malformed or not the server's
// to send.
bool ReadFields(std::string_view head, HeadFields* fields,
                ResponseReading* reading) {
  while (!head.empty()) {
    const size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    head.remove_prefix(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)) ||
        !IsFieldText(line.substr(colon + 1), true)) {
      reading->fault = "a malformed header field";
      return false;
    }
    const std::string name = Lower(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (name == "connection") {
      ++fields->connections;
      fields->connection = Lower(value);
    } else if (name == "date") {
      ++fields->dates;
    } else if (name == "server") {
      ++fields->servers;
    } else if (name == "transfer-encoding") {
      ++fields->codings;
      if (Lower(value) != "chunked") reading->fault = "a coding not chunked";
    } else if (name == "content-length") {
      ++fields->lengths;
      fields->length = 0;
      if (value.empty()) reading->fault = "an empty length";
      for (char c : value) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (c < '0' || c > '9' || fields->length > (UINT64_MAX - digit) / 10) {
          reading->fault = "a length that is not a 64-bit number";
          break;
        }
        fields->length = fields->length * 10 + digit;
      }
    } else if (name == "keep-alive" || name == "te" || name == "trailer" ||
               name == "upgrade" || name == "proxy-connection") {
      reading->fault = "a hop-by-hop field the server owns";
    }
  }
  return reading->fault.empty();
}

// Checks that the head frames the response one way and says what becomes
// of the connection, as it must when the server `closes` it or not.
bool CheckFraming(const HeadFields& fields, bool closes,
                  ResponseReading* reading) {
  if (fields.connections != 1 || fields.dates != 1 || fields.servers != 1 ||
      fields.codings > 1 || fields.lengths > 1 ||
      (fields.codings == 1 && fields.lengths == 1)) {
    reading->fault = "repeated or conflicting framing fields";
    return false;
  }
  if (fields.connection != "keep-alive" && fields.connection != "close") {
    reading->fault = "a Connection field that is neither keep-alive nor close";
    return false;
  }
  reading->keep_alive = fields.connection == "keep-alive";
  if (!reading->keep_alive && !closes) {
    reading->fault = "Connection: close on a connection kept open";
    return false;
  }
  return true;
}

// Reads the body in `rest`, the bytes after the head, as `fields` frame it
// (none when `bodyless`), and requires that nothing follows it.
void ReadFramedBody(std::string_view rest, const HeadFields& fields,
                    bool bodyless, bool closes, ResponseReading* reading) {
  size_t framed = 0;
  if (bodyless) {
    reading->complete = true;
  } else if (fields.codings == 1) {
    reading->chunked = true;
    framed = ReadChunks(rest, &reading->body, &reading->fault);
    if (!reading->fault.empty()) return;
    reading->complete = framed > 0;
    if (!reading->complete) framed = rest.size();  // all of it unfinished
  } else if (fields.lengths == 1) {
    framed = static_cast<size_t>(std::min<uint64_t>(fields.length, rest.size()));
    reading->body.assign(rest.substr(0, framed));
    reading->complete = framed == fields.length;
  } else {
    // Delimited by the end of the connection alone.
    reading->body.assign(rest);
    framed = rest.size();
    reading->complete = closes;
  }
  if (framed < rest.size() && reading->complete) {
    reading->fault = "bytes after the end of the response";
  } else if (!reading->complete && !closes) {
    reading->fault = "an unfinished body on a connection kept open";
  } else if (framed < rest.size()) {
    reading->fault = "bytes the framing cannot account for";
  }
}

}  // namespace

ResponseReading ReadResponse(std::string_view bytes, bool head_request,
                             bool may_continue, bool closes) {
  ResponseReading reading;
  constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  if (may_continue && StartsWith(bytes, kContinue)) {
    bytes.remove_prefix(kContinue.size());
  }
  const size_t head_end = bytes.find("\r\n\r\n");
  if (head_end == std::string_view::npos) {
    if (!closes) reading.fault = "the head is incomplete on an open connection";
    return reading;
  }
  std::string_view head = bytes.substr(0, head_end + 2);
  const std::string_view rest = bytes.substr(head_end + 4);
  const size_t line_end = head.find("\r\n");
  const std::string_view status_line = head.substr(0, line_end);
  head.remove_prefix(line_end + 2);

  HeadFields fields;
  if (!ReadStatusLine(status_line, &reading) ||
      !ReadFields(head, &fields, &reading) ||
      !CheckFraming(fields, closes, &reading)) {
    return reading;
  }
  const bool bodyless = head_request || reading.status_code < 200 ||
                        reading.status_code == 204 ||
                        reading.status_code == 304;
  ReadFramedBody(rest, fields, bodyless, closes, &reading);
  return reading;
}

}  // namespace tavik::fuzz
