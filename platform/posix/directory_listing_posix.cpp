#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "platform/directory_listing.h"
#include "platform/pattern_match.h"

namespace tavik {
namespace {

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

// The kind of `found`, an entry of the directory open as `directory`.
EntryKind KindOf(int directory, const dirent& found) {
  switch (found.d_type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kFolder;
    case DT_LNK:
      return EntryKind::kLink;
    case DT_UNKNOWN: {
      // Some file systems leave the type out of the listing; ask for it,
      // without following a link.
      struct stat status;
      if (fstatat(directory, found.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryKind::kOther;
      }
      return KindOfMode(status.st_mode);
    }
    default:
      return EntryKind::kOther;
  }
}

}  // namespace

struct DirectoryListing::State {
  DIR* directory;
  const char* pattern;
  bool failed;
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
  state_ = new (std::nothrow) State{handle, pattern, false};
  if (state_ == nullptr) {
    closedir(handle);
    return false;
  }
  return true;
}

bool DirectoryListing::Next(DirectoryEntry* entry) {
  if (state_ == nullptr) return false;
  for (;;) {
    // readdir tells its end from its failure by errno alone.
    errno = 0;
    const dirent* found = readdir(state_->directory);
    if (found == nullptr) {
      state_->failed = errno != 0;
      return false;
    }
    if (!NameMatchesPattern(found->d_name, state_->pattern)) continue;
    entry->name = found->d_name;
    entry->kind = KindOf(dirfd(state_->directory), *found);
    entry->number = static_cast<uint64_t>(found->d_ino);
    return true;
  }
}

bool DirectoryListing::failed() const {
  return state_ != nullptr && state_->failed;
}

}  // namespace tavik
