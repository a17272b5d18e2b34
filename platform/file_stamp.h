// File stamps: what the file system keeps about a file that changes whenever
// the file does (which file it is, its size, when it was last written and
// when its status last changed), and the clock those times come from. Two
// stamps of the same path that are equal say the file is the one read
// before, unless it changed within the file system's timestamp granularity;
// the caller guards against that by trusting only stamps old enough.
#ifndef TAVIK_PLATFORM_FILE_STAMP_H_
#define TAVIK_PLATFORM_FILE_STAMP_H_

#include <cstdint>

namespace tavik {

struct FileStamp {
  // The file system (st_dev; on Windows the volume serial number) and the
  // file's number on it (st_ino; on Windows the file index).
  uint64_t device = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  // Nanoseconds since 1970: the last write, and the last change of any kind
  // (write, truncation, rename, permissions, times, links). A program can
  // set the first back; on Linux nothing but the clock sets the second.
  int64_t modified = 0;
  int64_t changed = 0;

  // The later of the two times.
  int64_t LastChange() const {
    return modified > changed ? modified : changed;
  }
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// What a path names, its last component not followed.
enum class PathKind {
  kFile,     // a regular file; its stamp was read
  kLink,     // a symbolic link (on Windows, a reparse point)
  kOther,    // a folder, a device, a FIFO or a socket
  kNothing,  // nothing that can be examined: missing, or no access
};

// Reads what full path `path` names and, for a regular file, its stamp
// into `stamp`. A link as the last component is not followed. One system
// call on Linux; an open for attributes only and two queries on Windows.
PathKind ReadPathStamp(const char* path, FileStamp* stamp);

// Reads the stamp of the folder at full path `path`, following links.
// Returns false when the path names no folder that can be examined.
bool ReadFolderStamp(const char* path, FileStamp* stamp);

// Now, in nanoseconds since 1970, on the clock the system stamps files with.
int64_t StampClockNow();

}  // namespace tavik

#endif  // TAVIK_PLATFORM_FILE_STAMP_H_
