#include <dlfcn.h>

#include "host/dynamic_library.h"

namespace tavik {

void* OpenDynamicLibrary(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load the extension: " +
             std::string(reason != nullptr ? reason : path);
  }
  return library;
}

void* FindDynamicSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseDynamicLibrary(void* library) { dlclose(library); }

}  // namespace tavik
