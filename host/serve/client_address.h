// Who sent a request: the peer of the connection, or, behind a front server
// that the operator trusts, the client that front server names in
// X-Forwarded-For.
#ifndef TAVIK_HOST_SERVE_CLIENT_ADDRESS_H_
#define TAVIK_HOST_SERVE_CLIENT_ADDRESS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "host/serve/http_exchange.h"

namespace tavik {

// The IPv4 addresses whose first bits are those of `network` under `mask`
// (a run of ones from the high bit; all ones for a single address).
struct Ipv4Network {
  uint32_t network = 0;  // host byte order, bits outside the mask zero
  uint32_t mask = 0;
};

// Reads "A.B.C.D" (one address) or "A.B.C.D/N" (N from 0 to 32) into
// `out`. Returns false, leaving `out` unspecified, for any other text.
bool ParseIpv4Network(std::string_view text, Ipv4Network* out);

// True when `address` is an IPv4 address inside one of `networks`.
bool IsInNetworks(const std::vector<Ipv4Network>& networks,
                  std::string_view address);

// The address the request came from. When `peer` (the connection's
// address) is in `trusted_proxies` and the request carries
// X-Forwarded-For, its entries (the fields' comma-separated values, later
// fields after earlier ones) are read from the right: entries that are
// trusted proxies themselves are passed over, and the first that is not is
// the client; when every entry is trusted, the left-most. An entry met on
// the way that is not an IPv4 or IPv6 address (a port, a name, an empty
// entry) leaves `peer`, as does a peer that is not trusted: a client
// cannot name itself. The result views `peer` or the request's header.
std::string_view ClientAddress(const std::vector<Ipv4Network>& trusted_proxies,
                               std::string_view peer,
                               const HttpRequestFacts& request);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_CLIENT_ADDRESS_H_
