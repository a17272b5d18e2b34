// Matching of the wildcard patterns the walk uses, where the platform's
// listing does not match them itself.
#ifndef TAVIK_PLATFORM_PATTERN_MATCH_H_
#define TAVIK_PLATFORM_PATTERN_MATCH_H_

#include <string_view>

namespace tavik {

// True when `name` matches `pattern`. "*" and "*.*" match every name. A
// pattern "*.EXT" matches, as the Windows listing does, a name whose text
// after its last "." begins with EXT, letters compared without case: "*.htm"
// matches "a.htm", "A.HTM", "a.html" and ".htm", but not "a.htm.bak" or
// "htm". Any other pattern matches only the name equal to it.
bool NameMatchesPattern(std::string_view name, std::string_view pattern);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_PATTERN_MATCH_H_
