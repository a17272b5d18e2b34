// A server extension loaded the way a web server loads one: by path, with
// its two entry points found by name.
#ifndef TAVIK_HOST_EXTENSION_LIBRARY_H_
#define TAVIK_HOST_EXTENSION_LIBRARY_H_

#include <memory>
#include <string>

#include "interface/server_interface.h"

namespace tavik {

class ExtensionLibrary {
 public:
  // Loads the library at `path` and finds GetExtensionVersion and
  // HttpExtensionProc. Returns nullptr and stores a one-line reason in
  // `error` when the library cannot be loaded or lacks either entry point.
  static std::unique_ptr<ExtensionLibrary> Load(const std::string& path,
                                                std::string* error);
  // Unloads the library; no call into it may be running.
  ~ExtensionLibrary();
  ExtensionLibrary(const ExtensionLibrary&) = delete;
  ExtensionLibrary& operator=(const ExtensionLibrary&) = delete;

  GetExtensionVersionFn GetExtensionVersion() const { return get_version_; }
  HttpExtensionProcFn HttpExtensionProc() const { return extension_proc_; }

 private:
  ExtensionLibrary(void* handle, GetExtensionVersionFn get_version,
                   HttpExtensionProcFn extension_proc)
      : handle_(handle),
        get_version_(get_version),
        extension_proc_(extension_proc) {}

  void* handle_;
  GetExtensionVersionFn get_version_;
  HttpExtensionProcFn extension_proc_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_EXTENSION_LIBRARY_H_
