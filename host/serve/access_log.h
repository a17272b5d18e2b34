// The access log: one line per request in the Common Log Format,
//   127.0.0.1 - - [08/Dec/2026:01:23:18 +0000] "POST /search HTTP/1.1" 200 512
// written to a file or to standard output.
#ifndef TAVIK_HOST_SERVE_ACCESS_LOG_H_
#define TAVIK_HOST_SERVE_ACCESS_LOG_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tavik {

struct AccessRecord {
  std::string_view remote_address;
  std::time_t time = 0;  // when the request came
  std::string_view method;
  std::string_view path;          // decoded; encoded again for the line
  std::string_view query_string;  // as sent
  std::string_view http_version;  // "1.1"
  int status_code = 0;
  // Body bytes sent; nullopt when not known, written as "-" (as is 0).
  std::optional<uint64_t> body_bytes;
};

// The record's line with its LF. The time is local, with its offset from
// UTC. Spaces, quotes, backslashes, control bytes and bytes from 0x7F up in
// the request line are written as "%XX" (and "%" in the path as well), so
// the line always splits into its fields.
std::string FormatAccessLine(const AccessRecord& record);

class AccessLog {
 public:
  // Opens `path` for appending, or standard output for "-". Returns nullptr
  // and a one-line reason in `error` when the file cannot be opened.
  static std::unique_ptr<AccessLog> Open(const std::string& path,
                                         std::string* error);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  // Writes the record's line and flushes it. Safe on several threads.
  void Write(const AccessRecord& record);

  // Opens the file again by its path, so that lines go to a new file once
  // the old one has been renamed (log rotation); later lines go to the new
  // file. Returns false with a one-line reason in `error`, writing on to
  // the file it had, when the path cannot be opened. Does nothing for
  // standard output. Safe beside Write.
  bool Reopen(std::string* error);

 private:
  AccessLog(std::string path, std::FILE* file, bool owned)
      : path_(std::move(path)), file_(file), owned_(owned) {}

  const std::string path_;
  std::mutex mutex_;
  std::FILE* file_;
  const bool owned_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_ACCESS_LOG_H_
