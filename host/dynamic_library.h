// The operating system's loader of shared libraries, behind one seam.
#ifndef TAVIK_HOST_DYNAMIC_LIBRARY_H_
#define TAVIK_HOST_DYNAMIC_LIBRARY_H_

#include <string>

namespace tavik {

// Loads the library at `path` and returns its handle, or nullptr with a
// one-line reason in `error`.
void* OpenDynamicLibrary(const std::string& path, std::string* error);

// The address of the exported function `name`, or nullptr.
void* FindDynamicSymbol(void* library, const char* name);

// Unloads a library from OpenDynamicLibrary.
void CloseDynamicLibrary(void* library);

}  // namespace tavik

#endif  // TAVIK_HOST_DYNAMIC_LIBRARY_H_
