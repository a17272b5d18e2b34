#include "host/apache/loaded_extensions.h"

#include <map>
#include <memory>

#include "host/extension_library.h"

namespace tavik {
namespace {

struct Entry {
  std::unique_ptr<ExtensionLibrary> library;
  LoadedExtension outcome;
};

// Filled before the process serves requests and emptied after: requests
// only read it.
std::map<std::string, Entry>& Loaded() {
  static std::map<std::string, Entry> loaded;
  return loaded;
}

}  // namespace

const LoadedExtension& LoadExtensionOnce(const std::string& path) {
  auto [at, added] = Loaded().try_emplace(path);
  Entry& entry = at->second;
  if (!added) return entry.outcome;
  std::string error;
  entry.library = ExtensionLibrary::Load(path, &error);
  if (!entry.library) {
    entry.outcome.error = error;
    return entry.outcome;
  }
  HSE_VERSION_INFO version = {};
  if (!entry.library->GetExtensionVersion()(&version)) {
    entry.library.reset();
    entry.outcome.error = path + ": GetExtensionVersion refused to load";
    return entry.outcome;
  }
  version.lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN - 1] = '\0';
  entry.outcome.description = version.lpszExtensionDesc;
  entry.outcome.extension = entry.library->HttpExtensionProc();
  return entry.outcome;
}

const LoadedExtension* FindExtension(const std::string& path) {
  const auto at = Loaded().find(path);
  return at != Loaded().end() ? &at->second.outcome : nullptr;
}

void UnloadExtensions() { Loaded().clear(); }

bool CheckExtension(const std::string& path, std::string* error) {
  return ExtensionLibrary::Load(path, error) != nullptr;
}

}  // namespace tavik
