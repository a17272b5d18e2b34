#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "host/program_folder.h"

namespace tavik {

std::string BuiltOrInstalled(const std::string& folder, const char* built,
                             const char* installed) {
  const std::string in_build = folder + built;
  if (access(in_build.c_str(), F_OK) == 0) return in_build;
  const std::string in_install = folder + installed;
  std::vector<char> resolved(PATH_MAX);
  if (realpath(in_install.c_str(), resolved.data()) == nullptr) {
    return in_install;
  }
  return resolved.data();
}

std::string FolderOfCode(const void* address) {
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  std::vector<char> resolved(PATH_MAX);
  if (realpath(info.dli_fname, resolved.data()) == nullptr) return "";
  const std::string path = resolved.data();
  return path.substr(0, path.rfind('/') + 1);
}

std::string ProgramFolder() {
  std::vector<char> self(PATH_MAX);
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0 || static_cast<size_t>(length) >= self.size()) return "";
  const std::string path(self.data(), static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string DefaultExtensionPath() {
  return BuiltOrInstalled(ProgramFolder(), "libtavik.so",
                          TAVIK_INSTALLED_LIBRARY);
}

std::string DefaultDemoSite() {
  return BuiltOrInstalled(ProgramFolder(), "site", TAVIK_INSTALLED_SITE);
}

}  // namespace tavik
