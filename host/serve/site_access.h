// Whether this process may read its site: reach the top folder, list it
// and open what it holds. tavik-serve checks its document root when it
// starts and at every health check, and each folder it is asked to search:
// the extension skips, without a word, what it cannot read, so a site its
// user cannot read would be answered with empty result pages.
#ifndef TAVIK_HOST_SERVE_SITE_ACCESS_H_
#define TAVIK_HOST_SERVE_SITE_ACCESS_H_

#include <string>

namespace tavik {

// The process's effective user as a message names it: "nobody (uid
// 65534)", or "uid 61184" for a user without a name.
std::string EffectiveUserName();

// Resolves the document root `folder` into `real_path` (absolute, no
// links) and checks that the effective user can reach it, list it and open
// what it holds. Returns "" when it can; otherwise a one-line reason that
// names the folder, the user and what is missing (the search permission of
// a folder above it, or its own read or search permission), or the
// system's reason when it does not exist or is not a folder.
std::string CheckSiteFolder(const std::string& folder, std::string* real_path);

// The same check for `real_folder`, a real path that was a folder: "" when
// the effective user can list it and open what it holds, else the reason.
std::string SiteReadProblem(const std::string& real_folder);

// True when the effective user is refused the reading of `path`: a folder
// it may not list or enter, a file it may not read, or a path it may not
// reach. False when it may, and when `path` is missing.
bool ReadingIsRefused(const std::string& path);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SITE_ACCESS_H_
