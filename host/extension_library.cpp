#include "host/extension_library.h"

#include <dlfcn.h>

namespace tavik {

std::unique_ptr<ExtensionLibrary> ExtensionLibrary::Load(
    const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load the extension: " +
             std::string(reason != nullptr ? reason : path);
    return nullptr;
  }
  auto get_version = reinterpret_cast<GetExtensionVersionFn>(
      dlsym(handle, "GetExtensionVersion"));
  auto extension_proc =
      reinterpret_cast<HttpExtensionProcFn>(dlsym(handle, "HttpExtensionProc"));
  if (get_version == nullptr || extension_proc == nullptr) {
    *error = path + " is not a server extension: it lacks " +
             (get_version == nullptr ? "GetExtensionVersion"
                                     : "HttpExtensionProc");
    dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<ExtensionLibrary>(
      new ExtensionLibrary(handle, get_version, extension_proc));
}

ExtensionLibrary::~ExtensionLibrary() { dlclose(handle_); }

}  // namespace tavik
