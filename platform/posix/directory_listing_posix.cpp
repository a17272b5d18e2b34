#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <new>

#include "platform/directory_listing.h"
#include "platform/pattern_match.h"

namespace tavik {

struct DirectoryListing::State {
  DIR* directory;
  const char* pattern;
};

DirectoryListing::~DirectoryListing() {
  if (state_ == nullptr) return;
  closedir(state_->directory);
  delete state_;
}

bool DirectoryListing::Open(const char* directory, const char* pattern) {
  if (state_ != nullptr) return false;
  DIR* handle = opendir(directory);
  if (handle == nullptr) return false;
  state_ = new (std::nothrow) State{handle, pattern};
  if (state_ == nullptr) {
    closedir(handle);
    return false;
  }
  return true;
}

bool DirectoryListing::Next(DirectoryEntry* entry) {
  if (state_ == nullptr) return false;
  while (const dirent* found = readdir(state_->directory)) {
    if (!NameMatchesPattern(found->d_name, state_->pattern)) continue;
    bool is_directory = found->d_type == DT_DIR;
    if (found->d_type == DT_UNKNOWN) {
      // Some file systems leave the type out of the listing; ask for it,
      // without following a link.
      struct stat status;
      is_directory = fstatat(dirfd(state_->directory), found->d_name, &status,
                             AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISDIR(status.st_mode);
    }
    entry->name = found->d_name;
    entry->is_directory = is_directory;
    return true;
  }
  return false;
}

}  // namespace tavik
