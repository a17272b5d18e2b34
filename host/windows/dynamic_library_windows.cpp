#include <windows.h>

#include "host/dynamic_library.h"

namespace tavik {

void* OpenDynamicLibrary(const std::string& path, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    *error = "cannot load the extension: " + path + " (error " +
             std::to_string(GetLastError()) + ")";
  }
  return library;
}

void* FindDynamicSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseDynamicLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace tavik
