#include "host/serve/access_log.h"

#include <cerrno>
#include <cstring>

#include "platform/hex_digits.h"

namespace tavik {
namespace {

void AppendForLog(std::string_view text, bool encode_percent,
                  std::string* out) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\' ||
        (encode_percent && c == '%')) {
      *out += PercentEscaped(c).view();
    } else {
      *out += c;
    }
  }
}

// `path` opened for appending, not inherited by programs the server might
// start. Returns nullptr with the reason in `error`.
std::FILE* OpenForAppending(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "ae");
  if (file == nullptr) {
    *error = "cannot open the access log " + path + ": " + std::strerror(errno);
  }
  return file;
}

}  // namespace

std::string FormatAccessLine(const AccessRecord& record) {
  std::tm local;
  localtime_r(&record.time, &local);
  // The program never sets a locale, so month names are the C locale's.
  char date[40];
  std::strftime(date, sizeof date, "%d/%b/%Y:%H:%M:%S %z", &local);

  std::string line(record.remote_address.empty() ? std::string_view("-")
                                                 : record.remote_address);
  line += " - - [";
  line += date;
  line += "] \"";
  AppendForLog(record.method, true, &line);
  line += ' ';
  AppendForLog(record.path, true, &line);
  if (!record.query_string.empty()) {
    line += '?';
    AppendForLog(record.query_string, false, &line);
  }
  line += " HTTP/";
  AppendForLog(record.http_version, true, &line);
  line += "\" ";
  line += std::to_string(record.status_code);
  line += ' ';
  if (record.body_bytes.has_value() && *record.body_bytes > 0) {
    line += std::to_string(*record.body_bytes);
  } else {
    line += '-';
  }
  line += '\n';
  return line;
}

std::unique_ptr<AccessLog> AccessLog::Open(const std::string& path,
                                           std::string* error) {
  if (path == "-") {
    return std::unique_ptr<AccessLog>(new AccessLog(path, stdout, false));
  }
  std::FILE* file = OpenForAppending(path, error);
  if (file == nullptr) return nullptr;
  return std::unique_ptr<AccessLog>(new AccessLog(path, file, true));
}

bool AccessLog::Reopen(std::string* error) {
  if (!owned_) return true;
  std::FILE* file = OpenForAppending(path_, error);
  if (file == nullptr) return false;
  std::FILE* old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = file_;
    file_ = file;
  }
  std::fclose(old);
  return true;
}

AccessLog::~AccessLog() {
  if (owned_) std::fclose(file_);
}

void AccessLog::Write(const AccessRecord& record) {
  const std::string line = FormatAccessLine(record);
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace tavik
