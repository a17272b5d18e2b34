// From a request path to a folder on disk, for every host alike: whether
// the path is the extension's mount, the folder it names below the root the
// mount searches, and whether that folder stays inside the root once links
// are resolved. (POSIX only: it resolves links with realpath.)
#ifndef TAVIK_HOST_URL_MAPPING_H_
#define TAVIK_HOST_URL_MAPPING_H_

#include <optional>
#include <string>
#include <string_view>

namespace tavik {

// The request path `raw` as sent, percent-decoded: each "%" followed by two
// hexadecimal digits gives that byte, "%00" a NUL included; any other "%"
// and every "+" stay as they are.
std::string DecodeUrlPath(std::string_view raw);

// The part of the decoded request path `path` after the mount `mount`
// ("/search", no trailing slash): "" for the mount itself, "/guide" for
// "/search/guide". Returns nullopt when `path` is neither the mount nor
// below it: "/searchx" is not below "/search".
std::optional<std::string_view> PathBelowMount(std::string_view path,
                                               std::string_view mount);

// Joins the folder `root` (absolute, no trailing slash) and the URL path
// `rest`, dropping empty and "." segments and letting ".." remove the
// segment before it. The result has no trailing slash. Returns nullopt when
// a ".." would climb above `root`.
std::optional<std::string> JoinBelowRoot(std::string_view root,
                                         std::string_view rest);

// True when `path` (from JoinBelowRoot on `root`) is `root` or lies inside
// it once every symbolic link in it is resolved. A path that does not exist
// is judged by its longest existing leading part, as what follows that part
// can only go down; a dangling link, or any other failure to resolve,
// gives false. Stores the
// resolved path in `resolved` when it returns true.
// REQUIRES: `root` is a real path: absolute, without links or a trailing
// slash.
bool StaysInsideRoot(const std::string& root, const std::string& path,
                     std::string* resolved);

// The folder a request below a mount searches, as the control block gives
// it: lpszPathInfo and lpszPathTranslated.
struct MountedFolder {
  std::string path_info;        // JoinBelowRoot(root, rest)
  std::string path_translated;  // the same with its links resolved
};

// The folder that `rest` (the decoded path below the mount, from
// PathBelowMount) names below `root`, confined to it: nullopt when a ".."
// would climb above `root` or the folder leads out of it through a link
// (see JoinBelowRoot and StaysInsideRoot). A NUL in `rest` is the caller's
// to refuse first (it would name another folder than the system reads).
// REQUIRES: `root` is a real path, as for StaysInsideRoot.
std::optional<MountedFolder> FolderBelowRoot(const std::string& root,
                                             std::string_view rest);

}  // namespace tavik

#endif  // TAVIK_HOST_URL_MAPPING_H_
