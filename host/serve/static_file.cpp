#include "host/serve/static_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <utility>
#include <vector>

#include "host/serve/response_head.h"
#include "host/serve/simple_page.h"
#include "host/url_mapping.h"
#include "platform/hex_digits.h"

namespace tavik {
namespace {

// Bytes read from the file and written to the client at a time.
constexpr size_t kSendPieceBytes = 64 * 1024;

constexpr std::pair<std::string_view, std::string_view> kContentTypes[] = {
    {"HTM", "text/html"},
    {"HTML", "text/html"},
    {"CSS", "text/css"},
    {"JS", "text/javascript"},
    {"MJS", "text/javascript"},
    {"JSON", "application/json"},
    {"XML", "application/xml"},
    {"TXT", "text/plain"},
    {"PDF", "application/pdf"},
    {"PNG", "image/png"},
    {"JPG", "image/jpeg"},
    {"JPEG", "image/jpeg"},
    {"GIF", "image/gif"},
    {"SVG", "image/svg+xml"},
    {"ICO", "image/vnd.microsoft.icon"},
    {"WEBP", "image/webp"},
    {"WOFF", "font/woff"},
    {"WOFF2", "font/woff2"},
};

// A file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~FileDescriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

RouteOutcome NotFound(const HttpRequestFacts& request,
                      HttpConnection* connection) {
  return AnswerWithOwnPage(request, connection, "404 Not Found",
                           "There is no such page on this server.");
}

RouteOutcome NotSent(const HttpRequestFacts& request,
                     HttpConnection* connection) {
  return AnswerWithOwnPage(request, connection, "403 Forbidden",
                           "The server does not send this file.");
}

// Sends the regular file open at `file`, whose status is `status`.
RouteOutcome SendFile(const HttpRequestFacts& request, const std::string& path,
                      int file, const struct stat& status,
                      HttpConnection* connection) {
  const bool keep_alive = request.KeepsAlive() && !request.HasBody();
  if (!keep_alive) connection->CloseAfterResponse();
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  const std::string type = "Content-Type: " + std::string(ContentTypeOf(path));
  const std::string length = "Content-Length: " + std::to_string(size);
  const std::string modified = "Last-Modified: " + HttpDate(status.st_mtime);
  std::string bytes;
  AppendResponseHead("200 OK", {type, length, modified},
                     BodyFraming::kContentLength, keep_alive,
                     std::time(nullptr), &bytes);
  RouteOutcome outcome{.answered = true, .status_code = 200};
  if (request.method == "HEAD") {
    if (!connection->Write(bytes.data(), bytes.size())) {
      connection->CloseAfterResponse();
    }
    return outcome;
  }
  // The head goes out with the first piece of the file.
  std::vector<char> piece(kSendPieceBytes);
  uint64_t left = size;
  do {
    const size_t wanted =
        left < piece.size() ? static_cast<size_t>(left) : piece.size();
    ssize_t count = 0;
    if (wanted > 0) {
      do {
        count = read(file, piece.data(), wanted);
      } while (count < 0 && errno == EINTR);
    }
    if (count > 0) {
      bytes.append(piece.data(), static_cast<size_t>(count));
      left -= static_cast<uint64_t>(count);
    }
    if (!bytes.empty() && !connection->Write(bytes.data(), bytes.size())) {
      connection->CloseAfterResponse();
      return outcome;
    }
    outcome.body_bytes += static_cast<uint64_t>(count > 0 ? count : 0);
    bytes.clear();
    if (wanted > 0 && count <= 0) {
      // The file shrank, or could not be read on: the client can only
      // tell the body is short by the end of the connection.
      connection->CloseAfterResponse();
      return outcome;
    }
  } while (left > 0);
  return outcome;
}

// Opens `path` for reading without following a link or waiting on a FIFO,
// and reads its status. Returns -1 with errno set when it cannot.
int OpenWithStatus(const std::string& path, struct stat* status) {
  const int file =
      open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file >= 0 && fstat(file, status) != 0) {
    const int error = errno;
    close(file);
    errno = error;
    return -1;
  }
  return file;
}

RouteOutcome SendFolder(const std::string& document_root,
                        const HttpRequestFacts& request,
                        const std::string& folder, HttpConnection* connection) {
  if (request.path.empty() || request.path.back() != '/') {
    // Relative links in the index page are relative to the folder.
    std::string location = "Location: " + EncodeUrlPath(request.path) + "/";
    if (!request.query_string.empty()) {
      location += '?';
      location += request.query_string;
    }
    return AnswerWithOwnPage(request, connection, "301 Moved Permanently",
                             "The folder's address ends with a slash.",
                             location);
  }
  for (std::string_view name : kIndexPages) {
    std::string page = folder + "/" + std::string(name);
    std::string resolved;
    if (!StaysInsideRoot(document_root, page, &resolved)) continue;
    struct stat status;
    const FileDescriptor file(OpenWithStatus(resolved, &status));
    if (file.get() >= 0 && S_ISREG(status.st_mode)) {
      return SendFile(request, resolved, file.get(), status, connection);
    }
  }
  return AnswerWithOwnPage(
      request, connection, "403 Forbidden",
      "The folder has no index page, and folders are not listed.");
}

}  // namespace

std::string_view ContentTypeOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  const size_t slash = name.rfind('/');
  if (dot == std::string_view::npos ||
      (slash != std::string_view::npos && slash > dot)) {
    return "application/octet-stream";
  }
  const std::string_view extension = name.substr(dot + 1);
  for (const auto& [known, type] : kContentTypes) {
    if (EqualsIgnoringCase(extension, known)) return type;
  }
  return "application/octet-stream";
}

std::string EncodeUrlPath(std::string_view path) {
  std::string encoded;
  for (char c : path) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') ||
        std::string_view("-._~/").find(c) != std::string_view::npos;
    if (plain) {
      encoded += c;
    } else {
      encoded += PercentEscaped(c).view();
    }
  }
  return encoded;
}

RouteOutcome SendStaticFile(const std::string& document_root,
                            const HttpRequestFacts& request,
                            const std::string& file,
                            HttpConnection* connection) {
  struct stat status;
  const FileDescriptor opened(OpenWithStatus(file, &status));
  if (opened.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return NotFound(request, connection);
    }
    const bool refused = errno == EACCES;
    RouteOutcome outcome = NotSent(request, connection);
    if (refused) outcome.unreadable = Unreadable::kFile;
    return outcome;
  }
  if (S_ISDIR(status.st_mode)) {
    return SendFolder(document_root, request, file, connection);
  }
  if (!S_ISREG(status.st_mode)) return NotSent(request, connection);
  return SendFile(request, file, opened.get(), status, connection);
}

}  // namespace tavik
