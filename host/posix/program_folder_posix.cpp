#include <limits.h>
#include <unistd.h>

#include <vector>

#include "host/program_folder.h"

namespace tavik {

std::string ProgramFolder() {
  std::vector<char> self(PATH_MAX);
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0 || static_cast<size_t>(length) >= self.size()) return "";
  const std::string path(self.data(), static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string DefaultExtensionPath() { return ProgramFolder() + "libtavik.so"; }

}  // namespace tavik
