#include "platform/pattern_match.h"

#include "platform/ascii.h"

namespace tavik {

bool NameMatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (!pattern.starts_with("*.")) return name == pattern;
  const std::string_view extension = pattern.substr(2);
  const size_t last_dot = name.rfind('.');
  if (last_dot == std::string_view::npos) return false;
  const std::string_view name_extension = name.substr(last_dot + 1);
  if (name_extension.size() < extension.size()) return false;
  for (size_t i = 0; i < extension.size(); ++i) {
    if (AsciiUpper(name_extension[i]) != AsciiUpper(extension[i])) return false;
  }
  return true;
}

}  // namespace tavik
