#include "host/serve/listen_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavik {

std::string ListenRefusal(const std::string& address, int port) {
  sockaddr_in socket_address;
  std::memset(&socket_address, 0, sizeof socket_address);
  socket_address.sin_family = AF_INET;
  socket_address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &socket_address.sin_addr) != 1) {
    return "'" + address + "' is not an IPv4 address";
  }
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return std::string("no socket: ") + std::strerror(errno);
  const int on = 1;
  setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const bool bound =
      bind(probe, reinterpret_cast<const sockaddr*>(&socket_address),
           sizeof socket_address) == 0;
  const int error = errno;
  close(probe);
  if (bound) return "";
  switch (error) {
    case EADDRINUSE:
      return "the address is in use: another program listens on port " +
             std::to_string(port);
    case EACCES:
      return "permission denied: ports below 1024 need privileges (root, "
             "or the capability CAP_NET_BIND_SERVICE)";
    case EADDRNOTAVAIL:
      return "the address is not available: " + address +
             " is not an address of this machine";
    default:
      return std::strerror(error);
  }
}

}  // namespace tavik
