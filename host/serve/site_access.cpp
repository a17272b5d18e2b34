#include "host/serve/site_access.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tavik {
namespace {

bool Allows(const std::string& path, int mode) {
  return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// The first folder above `folder` that the effective user may not pass
// through (no search permission), or "" when there is none.
std::string FirstClosedFolderAbove(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.front() != '/') {
    std::vector<char> current(PATH_MAX);
    if (getcwd(current.data(), current.size()) == nullptr) return "";
    path = std::string(current.data()) + "/" + path;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  // "/", then "/srv", then "/srv/www" for "/srv/www/site".
  std::string above = "/";
  size_t at = 1;
  for (;;) {
    if (!Allows(above, X_OK) && errno == EACCES) return above;
    const size_t slash = path.find('/', at);
    if (slash == std::string::npos) return "";  // the rest is the folder
    above = path.substr(0, slash);
    at = slash + 1;
  }
}

}  // namespace

std::string EffectiveUserName() {
  const uid_t uid = geteuid();
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
  }
  return "uid " + std::to_string(uid);
}

std::string CheckSiteFolder(const std::string& folder, std::string* real_path) {
  char resolved[PATH_MAX];
  if (realpath(folder.c_str(), resolved) == nullptr) {
    const int error = errno;
    const std::string closed =
        error == EACCES ? FirstClosedFolderAbove(folder) : "";
    if (!closed.empty()) {
      return "user " + EffectiveUserName() + " cannot reach the document " +
             "root " + folder + ": the folder " + closed + " above it lacks " +
             "search permission (x) for that user";
    }
    return "cannot use the document root " + folder + ": " +
           std::strerror(error);
  }
  struct stat status;
  if (stat(resolved, &status) != 0) {
    return "cannot use the document root " + folder + ": " +
           std::strerror(errno);
  }
  if (!S_ISDIR(status.st_mode)) {
    return "the document root " + folder + " is not a folder";
  }
  *real_path = resolved;
  return SiteReadProblem(*real_path);
}

std::string SiteReadProblem(const std::string& real_folder) {
  const bool can_list = Allows(real_folder, R_OK);
  const int list_error = errno;
  const bool can_enter = Allows(real_folder, X_OK);
  const int enter_error = errno;
  if (can_list && can_enter) return "";
  if ((!can_list && list_error != EACCES) ||
      (!can_enter && enter_error != EACCES)) {
    return "cannot use the document root " + real_folder + ": " +
           std::strerror(!can_list ? list_error : enter_error);
  }
  const char* missing =
      !can_list && !can_enter
          ? "read and search permission (r-x): it can neither list the "
            "folder nor open what it holds"
      : !can_list ? "read permission (r): it cannot list the folder"
                  : "search permission (x): it cannot open what the folder "
                    "holds";
  return "user " + EffectiveUserName() + " cannot read the document root " +
         real_folder + ": the folder lacks " + missing;
}

bool ReadingIsRefused(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno == EACCES;
  const int needed = S_ISDIR(status.st_mode) ? R_OK | X_OK : R_OK;
  return !Allows(path, needed) && errno == EACCES;
}

}  // namespace tavik
