// Why the system will not let tavik-serve listen where it was told: civetweb
// reports only that it could not set up its ports, so the server asks the
// system itself once civetweb has failed.
#ifndef TAVIK_HOST_SERVE_LISTEN_PROBE_H_
#define TAVIK_HOST_SERVE_LISTEN_PROBE_H_

#include <string>

namespace tavik {

// Binds a TCP socket to the IPv4 `address` and `port` as civetweb does
// (with SO_REUSEADDR) and closes it again. Returns "" when the bind works
// now; otherwise the system's reason in words an operator can act on: the
// address in use, permission denied (ports below 1024 need privileges),
// the address not one of this machine's, or the system's own text.
std::string ListenRefusal(const std::string& address, int port);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_LISTEN_PROBE_H_
