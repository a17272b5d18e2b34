// A document opened for reading its bytes as they are on disk.
#ifndef TAVIK_PLATFORM_READABLE_FILE_H_
#define TAVIK_PLATFORM_READABLE_FILE_H_

#include <cstddef>
#include <cstdint>

#include "platform/file_stamp.h"

namespace tavik {

// One open file, closed when the object goes out of scope.
class ReadableFile {
 public:
  ReadableFile() = default;
  ~ReadableFile();
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  // Opens the file at full path `path` for reading, without locking other
  // readers or writers out. Succeeds only for a regular file (a link to one
  // included); a FIFO, socket, device or directory is refused without
  // blocking. Returns false when the file cannot be opened.
  bool Open(const char* path);

  // What OpenUnlessLink found at a path.
  enum class Found {
    kFile,     // a regular file, now open
    kLink,     // a symbolic link (on Windows, a reparse point); nothing open
    kNothing,  // no file that can be opened; nothing open
  };

  // Opens the file at full path `path` as Open does, unless the path's last
  // component is a symbolic link (a reparse point on Windows), which is not
  // followed: the caller decides whether to go where it leads. Costs no more
  // than Open for a file that is not a link.
  Found OpenUnlessLink(const char* path);

  // Reads up to `size` bytes into `buffer` and returns how many it read:
  // 0 at the end of the file, and also on a read error, which ends the file
  // as its end does.
  size_t Read(void* buffer, size_t size);

  // Reads the open file's stamp as it is now into `stamp`. Returns false
  // when no file is open or the system cannot tell.
  bool ReadStamp(FileStamp* stamp) const;

  // Stores the file's stamp as it was when opened (on Windows: when first
  // asked, which the caller does before reading). Costs no system call on
  // Linux, where opening reads it anyway. Returns false as ReadStamp does.
  bool OpenedStamp(FileStamp* stamp);

  // The bytes Read has delivered so far.
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  intptr_t handle_ = -1;
  uint64_t bytes_read_ = 0;
  FileStamp opened_;
  bool opened_known_ = false;
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_READABLE_FILE_H_
