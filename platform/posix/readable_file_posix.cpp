#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/readable_file.h"

namespace tavik {

ReadableFile::~ReadableFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool ReadableFile::Open(const char* path) {
  if (handle_ >= 0) return false;
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; the
  // type check below then refuses it. Regular files ignore the flag.
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return false;
  }
  handle_ = descriptor;
  return true;
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
