#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "host/program_folder.h"

namespace tavik {
namespace {

// The build's layout if `built` exists below the program's folder, else
// the install's, `installed`, its ".." resolved when it exists.
std::string BuiltOrInstalled(const char* built, const char* installed) {
  const std::string folder = ProgramFolder();
  const std::string in_build = folder + built;
  if (access(in_build.c_str(), F_OK) == 0) return in_build;
  const std::string in_install = folder + installed;
  std::vector<char> resolved(PATH_MAX);
  if (realpath(in_install.c_str(), resolved.data()) == nullptr) {
    return in_install;
  }
  return resolved.data();
}

}  // namespace

std::string ProgramFolder() {
  std::vector<char> self(PATH_MAX);
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0 || static_cast<size_t>(length) >= self.size()) return "";
  const std::string path(self.data(), static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string DefaultExtensionPath() {
  return BuiltOrInstalled("libtavik.so", TAVIK_INSTALLED_LIBRARY);
}

std::string DefaultDemoSite() {
  return BuiltOrInstalled("site", TAVIK_INSTALLED_SITE);
}

}  // namespace tavik
