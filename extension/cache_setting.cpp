#include "extension/cache_setting.h"

#include <cstdint>
#include <cstdlib>

namespace tavik {
namespace {

// Larger bounds are taken as this one: half the address space.
constexpr size_t kMaxMegabytes = (SIZE_MAX / 2) >> 20;

// The value of a plain decimal (digits only), or `fallback`.
size_t MegabytesOr(const char* text, size_t fallback) {
  if (text == nullptr || *text == '\0') return fallback;
  size_t value = 0;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at < '0' || *at > '9') return fallback;
    value = value * 10 + static_cast<size_t>(*at - '0');
    if (value > kMaxMegabytes) value = kMaxMegabytes;
  }
  return value;
}

}  // namespace

SummaryCache::Options CacheOptionsFrom(const char* megabytes,
                                       const char* watch) {
  SummaryCache::Options options;
  options.max_bytes = MegabytesOr(megabytes, kDefaultCacheMegabytes) << 20;
  options.watch_changes = watch == nullptr || watch[0] != '0' || watch[1] != '\0';
  return options;
}

std::unique_ptr<SummaryCache> CacheFromEnvironment() {
  return SummaryCache::Create(CacheOptionsFrom(
      std::getenv("TAVIK_CACHE_MB"), std::getenv("TAVIK_CACHE_WATCH")));
}

}  // namespace tavik
