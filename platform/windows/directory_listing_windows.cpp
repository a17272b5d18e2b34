#include <windows.h>

#include <new>

#include "platform/directory_listing.h"
#include "platform/paths.h"

namespace tavik {

struct DirectoryListing::State {
  HANDLE find;
  WIN32_FIND_DATAA data;
  // True while `data` holds an entry not yet returned.
  bool pending;
  bool failed;
};

DirectoryListing::~DirectoryListing() {
  if (state_ == nullptr) return;
  if (state_->find != INVALID_HANDLE_VALUE) FindClose(state_->find);
  delete state_;
}

bool DirectoryListing::Open(const char* directory, const char* pattern) {
  if (state_ != nullptr) return false;
  // The listing takes the folder and the pattern as one path.
  char search[MAX_PATH];
  if (!JoinPath(directory, pattern, search, sizeof search)) return false;
  state_ = new (std::nothrow) State{};
  if (state_ == nullptr) return false;
  state_->find = FindFirstFileA(search, &state_->data);
  if (state_->find == INVALID_HANDLE_VALUE) {
    // No matching entry is an empty listing, not a failure.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  state_->pending = true;
  return true;
}

bool DirectoryListing::Next(DirectoryEntry* entry) {
  if (state_ == nullptr || state_->find == INVALID_HANDLE_VALUE) return false;
  if (!state_->pending && !FindNextFileA(state_->find, &state_->data)) {
    state_->failed = GetLastError() != ERROR_NO_MORE_FILES;
    return false;
  }
  state_->pending = false;
  const DWORD attributes = state_->data.dwFileAttributes;
  entry->name = state_->data.cFileName;
  entry->number = 0;
  // A junction or a link to a folder carries the reparse attribute; it is
  // not descended into, so the walk cannot loop.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    entry->kind = EntryKind::kLink;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    entry->kind = EntryKind::kFolder;
  } else {
    entry->kind = EntryKind::kFile;
  }
  return true;
}

bool DirectoryListing::failed() const {
  return state_ != nullptr && state_->failed;
}

}  // namespace tavik
