#include "host/url_mapping.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/hex_digits.h"

namespace tavik {
namespace {

bool IsInside(std::string_view root, std::string_view path) {
  if (root == "/") return !path.empty() && path.front() == '/';
  return path.size() >= root.size() &&
         path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

// realpath(3) into a string. Returns false with errno set when it fails.
bool RealPath(const std::string& path, std::string* out) {
  std::unique_ptr<char, decltype(&std::free)> resolved(
      realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return false;
  *out = resolved.get();
  return true;
}

}  // namespace

std::string DecodeUrlPath(std::string_view raw) {
  std::string decoded;
  decoded.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size()) {
      const int high = HexDigitValue(raw[i + 1]);
      const int low = HexDigitValue(raw[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += raw[i];
  }
  return decoded;
}

std::optional<std::string_view> PathBelowMount(std::string_view path,
                                               std::string_view mount) {
  if (path.substr(0, mount.size()) != mount) return std::nullopt;
  std::string_view rest = path.substr(mount.size());
  if (!rest.empty() && rest.front() != '/') return std::nullopt;
  return rest;
}

std::optional<std::string> JoinBelowRoot(std::string_view root,
                                         std::string_view rest) {
  // The top of the file system is the one root that ends in a slash.
  std::string joined(root == "/" ? std::string_view() : root);
  const size_t root_length = joined.size();
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size()
                                                       : slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (joined.size() == root_length) return std::nullopt;
      joined.resize(joined.rfind('/'));
      continue;
    }
    joined += '/';
    joined += segment;
  }
  if (joined.empty()) joined = "/";
  return joined;
}

bool StaysInsideRoot(const std::string& root, const std::string& path,
                     std::string* resolved) {
  if (!IsInside(root, path)) return false;
  // Resolve the longest leading part that exists; the segments after it
  // hold no "..", so they cannot lead out of what it resolves to.
  std::string existing = path;
  std::string rest;
  std::string real;
  while (!RealPath(existing, &real)) {
    if ((errno != ENOENT && errno != ENOTDIR) ||
        existing.size() <= root.size()) {
      return false;
    }
    // An entry that is there but does not resolve is a dangling link: its
    // target, wherever it is, may appear later.
    struct stat entry;
    if (lstat(existing.c_str(), &entry) == 0) return false;
    const size_t slash = existing.rfind('/');
    rest.insert(0, existing, slash, std::string::npos);
    existing.resize(slash);
  }
  if (!IsInside(root, real)) return false;
  *resolved = real + rest;
  return true;
}

std::optional<MountedFolder> FolderBelowRoot(const std::string& root,
                                             std::string_view rest) {
  std::optional<std::string> path_info = JoinBelowRoot(root, rest);
  std::string translated;
  if (!path_info.has_value() ||
      !StaysInsideRoot(root, *path_info, &translated)) {
    return std::nullopt;
  }
  return MountedFolder{std::move(*path_info), std::move(translated)};
}

}  // namespace tavik
