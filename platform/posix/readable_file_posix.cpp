#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/readable_file.h"

namespace tavik {

ReadableFile::~ReadableFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

namespace {

// Opens `path` with `flags` added to a read-only open and returns the
// descriptor, or -1 with errno set. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer; the type check then refuses it (errno EINVAL).
// Regular files ignore the flag.
int OpenRegularFile(const char* path, int flags) {
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
  if (descriptor < 0) return -1;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    errno = EINVAL;
    return -1;
  }
  return descriptor;
}

}  // namespace

bool ReadableFile::Open(const char* path) {
  if (handle_ >= 0) return false;
  const int descriptor = OpenRegularFile(path, 0);
  if (descriptor < 0) return false;
  handle_ = descriptor;
  return true;
}

ReadableFile::Found ReadableFile::OpenUnlessLink(const char* path) {
  if (handle_ >= 0) return Found::kNothing;
  // With O_NOFOLLOW a link as the last component fails with ELOOP.
  const int descriptor = OpenRegularFile(path, O_NOFOLLOW);
  if (descriptor < 0) return errno == ELOOP ? Found::kLink : Found::kNothing;
  handle_ = descriptor;
  return Found::kFile;
}

size_t ReadableFile::Read(void* buffer, size_t size) {
  if (handle_ < 0) return 0;
  for (;;) {
    const ssize_t count = read(static_cast<int>(handle_), buffer, size);
    if (count >= 0) return static_cast<size_t>(count);
    if (errno != EINTR) return 0;
  }
}

}  // namespace tavik
