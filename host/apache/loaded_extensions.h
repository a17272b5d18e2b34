// The extensions one Apache process has loaded, by path: each library is
// opened once per process and its GetExtensionVersion called once, before
// the process serves requests; requests then only look them up.
#ifndef TAVIK_HOST_APACHE_LOADED_EXTENSIONS_H_
#define TAVIK_HOST_APACHE_LOADED_EXTENSIONS_H_

#include <string>

#include "interface/server_interface.h"

namespace tavik {

// One path's outcome: the entry point, or why there is none.
struct LoadedExtension {
  HttpExtensionProcFn extension = nullptr;  // null when loading failed
  std::string description;                  // what GetExtensionVersion gave
  std::string error;  // one line, naming the path, when it failed
};

// Loads the extension at `path` into this process unless it is there
// already, finds both entry points and calls GetExtensionVersion; a
// library whose GetExtensionVersion returns FALSE is unloaded and counts
// as failed. Returns the outcome, valid until UnloadExtensions. Not for
// use while requests run.
const LoadedExtension& LoadExtensionOnce(const std::string& path);

// The outcome of LoadExtensionOnce(path), or nullptr when it was never
// asked. Safe from any number of threads while nothing loads or unloads.
const LoadedExtension* FindExtension(const std::string& path);

// Unloads every library this process loaded. Not for use while requests
// run.
void UnloadExtensions();

// True when `path` can be loaded and has both entry points; otherwise
// false with a one-line reason naming the path in `error`. Nothing stays
// loaded.
bool CheckExtension(const std::string& path, std::string* error);

}  // namespace tavik

#endif  // TAVIK_HOST_APACHE_LOADED_EXTENSIONS_H_
