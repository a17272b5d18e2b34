// The summary cache's settings, read from the environment once, when the
// library is loaded:
//   TAVIK_CACHE_MB     the bound on the cache's memory in MiB; 0 turns the
//                      cache off; missing or not a plain decimal: 256
//   TAVIK_CACHE_WATCH  0 checks every document by its stamps and lists every
//                      folder, instead of watching folders and files for
//                      changes (which only Linux offers); missing or
//                      anything else: watch
#ifndef TAVIK_EXTENSION_CACHE_SETTING_H_
#define TAVIK_EXTENSION_CACHE_SETTING_H_

#include <memory>

#include "corpus/summary_cache.h"

namespace tavik {

inline constexpr size_t kDefaultCacheMegabytes = 256;

// The options the two settings' texts give (nullptr: not set).
SummaryCache::Options CacheOptionsFrom(const char* megabytes,
                                       const char* watch);

// The cache the environment asks for now; nullptr when it is turned off or
// cannot be made.
std::unique_ptr<SummaryCache> CacheFromEnvironment();

}  // namespace tavik

#endif  // TAVIK_EXTENSION_CACHE_SETTING_H_
