#include "host/extension_library.h"

#include "host/dynamic_library.h"

namespace tavik {

std::unique_ptr<ExtensionLibrary> ExtensionLibrary::Load(
    const std::string& path, std::string* error) {
  void* handle = OpenDynamicLibrary(path, error);
  if (handle == nullptr) return nullptr;
  auto get_version = reinterpret_cast<GetExtensionVersionFn>(
      FindDynamicSymbol(handle, "GetExtensionVersion"));
  auto extension_proc = reinterpret_cast<HttpExtensionProcFn>(
      FindDynamicSymbol(handle, "HttpExtensionProc"));
  if (get_version == nullptr || extension_proc == nullptr) {
    *error = path + " is not a server extension: it lacks " +
             (get_version == nullptr ? "GetExtensionVersion"
                                     : "HttpExtensionProc");
    CloseDynamicLibrary(handle);
    return nullptr;
  }
  return std::unique_ptr<ExtensionLibrary>(
      new ExtensionLibrary(handle, get_version, extension_proc));
}

ExtensionLibrary::~ExtensionLibrary() { CloseDynamicLibrary(handle_); }

}  // namespace tavik
