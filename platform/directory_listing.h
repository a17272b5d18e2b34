// Lists the entries of one directory, hidden ones included, in the order the
// file system returns them. Only the names that match a wildcard pattern are
// returned; see NameMatchesPattern for how a pattern matches.
#ifndef TAVIK_PLATFORM_DIRECTORY_LISTING_H_
#define TAVIK_PLATFORM_DIRECTORY_LISTING_H_

#include <cstdint>

namespace tavik {

// The pattern that every entry's name matches.
inline constexpr char kEveryEntryPattern[] = "*.*";

// What an entry is, as the listing tells it, a link not followed.
enum class EntryKind {
  kFile,    // a regular file
  kFolder,  // a directory itself
  kLink,    // a symbolic link (on Windows, a reparse point), to anything
  kOther,   // a FIFO, socket or device, or an entry gone before it was told
};

struct DirectoryEntry {
  // The entry's name within the directory; valid until the next call of
  // DirectoryListing::Next or the listing's end.
  const char* name;
  // A link to a directory is kLink, not kFolder, so a walk that descends
  // only into kFolder entries never loops.
  EntryKind kind;
  // The entry's number on the folder's file system (its inode), where the
  // listing gives it; 0 where it does not (Windows).
  uint64_t number;
};

// One open listing; it is closed when the object goes out of scope.
class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Starts listing the directory whose full path is `directory`, keeping the
  // entries whose names match `pattern`. Returns false when the directory
  // cannot be listed; the listing is then empty.
  bool Open(const char* directory, const char* pattern);

  // Stores the next matching entry in `entry` and returns true, or returns
  // false when there is none left (or the listing fails midway).
  bool Next(DirectoryEntry* entry);

  // True when the listing ended because it failed midway, not because the
  // folder had no more entries: what it gave may be only part of them.
  bool failed() const;

 private:
  struct State;
  State* state_ = nullptr;
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_DIRECTORY_LISTING_H_
