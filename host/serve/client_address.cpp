#include "host/serve/client_address.h"

#include <arpa/inet.h>

#include <charconv>
#include <string>

namespace tavik {
namespace {

// The address `text` in host byte order, or false when it is not a plain
// dotted IPv4 address.
bool ParseIpv4(std::string_view text, uint32_t* address) {
  const std::string terminated(text);
  in_addr parsed;
  if (inet_pton(AF_INET, terminated.c_str(), &parsed) != 1) return false;
  *address = ntohl(parsed.s_addr);
  return true;
}

bool IsIpv6(std::string_view text) {
  const std::string terminated(text);
  in6_addr parsed;
  return inet_pton(AF_INET6, terminated.c_str(), &parsed) == 1;
}

}  // namespace

bool ParseIpv4Network(std::string_view text, Ipv4Network* out) {
  const size_t slash = text.find('/');
  uint32_t address = 0;
  if (!ParseIpv4(text.substr(0, slash), &address)) return false;
  int bits = 32;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), bits);
    if (digits.empty() || error != std::errc() ||
        end != digits.data() + digits.size() || bits < 0 || bits > 32) {
      return false;
    }
  }
  out->mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  out->network = address & out->mask;
  return true;
}

bool IsInNetworks(const std::vector<Ipv4Network>& networks,
                  std::string_view address) {
  uint32_t value = 0;
  if (!ParseIpv4(address, &value)) return false;
  for (const Ipv4Network& network : networks) {
    if ((value & network.mask) == network.network) return true;
  }
  return false;
}

std::string_view ClientAddress(const std::vector<Ipv4Network>& trusted_proxies,
                               std::string_view peer,
                               const HttpRequestFacts& request) {
  if (!IsInNetworks(trusted_proxies, peer)) return peer;
  std::string_view client = peer;
  for (auto field = request.headers.rbegin(); field != request.headers.rend();
       ++field) {
    if (!EqualsIgnoringCase(field->first, "X-Forwarded-For")) continue;
    std::string_view list = field->second;
    for (;;) {
      const size_t comma = list.rfind(',');
      const std::string_view entry = TrimWhitespace(
          comma == std::string_view::npos ? list : list.substr(comma + 1));
      uint32_t ignored = 0;
      const bool ipv4 = ParseIpv4(entry, &ignored);
      if (!ipv4 && !IsIpv6(entry)) return peer;
      client = entry;
      if (!IsInNetworks(trusted_proxies, entry)) return client;
      if (comma == std::string_view::npos) break;
      list = list.substr(0, comma);
    }
  }
  return client;
}

}  // namespace tavik
