// The stamp of an open handle, for the Windows files that read one.
#ifndef TAVIK_PLATFORM_WINDOWS_HANDLE_STAMP_H_
#define TAVIK_PLATFORM_WINDOWS_HANDLE_STAMP_H_

#include <windows.h>

#include "platform/file_stamp.h"

namespace tavik {

// Fills `stamp` from the file behind `handle`: its volume and index, size
// and last-write time (GetFileInformationByHandle) and its change time
// (the basic information). Returns false when either query fails.
bool StampFromHandle(HANDLE handle, FileStamp* stamp);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_WINDOWS_HANDLE_STAMP_H_
