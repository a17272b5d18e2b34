// A document opened for reading its bytes as they are on disk.
#ifndef TAVIK_PLATFORM_READABLE_FILE_H_
#define TAVIK_PLATFORM_READABLE_FILE_H_

#include <cstddef>
#include <cstdint>

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

 private:
  intptr_t handle_ = -1;
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_READABLE_FILE_H_
