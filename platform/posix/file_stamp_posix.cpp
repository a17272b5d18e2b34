#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "platform/file_stamp.h"
#include "platform/posix/stat_stamp.h"

namespace tavik {

FileStamp StampFromStatus(const struct stat& status) {
  FileStamp stamp;
  stamp.device = static_cast<uint64_t>(status.st_dev);
  stamp.file = static_cast<uint64_t>(status.st_ino);
  stamp.size = static_cast<uint64_t>(status.st_size);
  stamp.modified = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                   status.st_mtim.tv_nsec;
  stamp.changed = static_cast<int64_t>(status.st_ctim.tv_sec) * 1000000000 +
                  status.st_ctim.tv_nsec;
  return stamp;
}

PathKind ReadPathStamp(const char* path, FileStamp* stamp) {
  struct stat status;
  if (fstatat(AT_FDCWD, path, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return PathKind::kNothing;
  }
  if (S_ISLNK(status.st_mode)) return PathKind::kLink;
  if (!S_ISREG(status.st_mode)) return PathKind::kOther;
  *stamp = StampFromStatus(status);
  return PathKind::kFile;
}

bool ReadFolderStamp(const char* path, FileStamp* stamp) {
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  *stamp = StampFromStatus(status);
  return true;
}

int64_t StampClockNow() {
  // File times come from the kernel's real-time clock.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace tavik
