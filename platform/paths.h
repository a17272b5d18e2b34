// Full paths: absolute, canonical, at most kMaxPathLength characters, with
// no "." or ".." component, no repeated and no trailing separator (the top
// of the file system, or of a drive, is the only path that ends in one).
#ifndef TAVIK_PLATFORM_PATHS_H_
#define TAVIK_PLATFORM_PATHS_H_

#include <cstddef>

namespace tavik {

inline constexpr size_t kPathBufferSize = 256;
inline constexpr size_t kMaxPathLength = kPathBufferSize - 1;

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
// Full paths start with a drive letter and a colon, which links leave out.
inline constexpr size_t kDrivePrefixLength = 2;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr size_t kDrivePrefixLength = 0;
#endif

// Resolves `path` against the process's current directory into the full
// form and stores it with its NUL in `out`. Returns false, leaving `out`
// unspecified, when the path is empty, cannot be resolved or its full form
// would not fit.
bool ResolveFullPath(const char* path, char (&out)[kPathBufferSize]);

// Stores in `out` the full path of entry `name` inside the directory whose
// full path is `directory`: the two joined by one separator, none after a
// path that already ends in one. Returns false when the result would not fit
// `out_size` bytes with its NUL.
bool JoinPath(const char* directory, const char* name, char* out,
              size_t out_size);

// True when `full_path` names an existing directory (following a link).
bool IsExistingDirectory(const char* full_path);

// Room for a real path: where a path leads once every link in it is
// followed. Real paths are not cut to kMaxPathLength.
inline constexpr size_t kRealPathBufferSize = 4096;

// Stores in `out` the real path of the existing file or directory at
// `full_path`: absolute, every symbolic link (on Windows, every reparse
// point) followed, in the form the system itself gives for it. Returns false
// when the path leads nowhere (a missing target, a loop) or the result does
// not fit.
bool ResolveRealPath(const char* full_path, char (&out)[kRealPathBufferSize]);

// True when `path` is `ancestor` itself or lies below it, comparing whole
// components: "/srv/site/a" lies below "/srv/site", "/srv/site2" does not.
// Both are real paths of the same system.
bool IsSameOrBelow(const char* ancestor, const char* path);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_PATHS_H_
