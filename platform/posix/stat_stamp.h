// The stamp a status record gives, for the POSIX files that read one.
#ifndef TAVIK_PLATFORM_POSIX_STAT_STAMP_H_
#define TAVIK_PLATFORM_POSIX_STAT_STAMP_H_

#include <sys/stat.h>

#include "platform/file_stamp.h"

namespace tavik {

FileStamp StampFromStatus(const struct stat& status);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_POSIX_STAT_STAMP_H_
