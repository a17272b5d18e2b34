// The server variables tavik-serve answers, made from the request as
// civetweb parsed it (see host/server_variables.h for the names).
#ifndef TAVIK_HOST_SERVE_SERVER_VARIABLES_H_
#define TAVIK_HOST_SERVE_SERVER_VARIABLES_H_

#include <optional>
#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"
#include "host/server_variables.h"

namespace tavik {

// Everything the variables are made from, for one request. The views must
// outlive each lookup.
struct ServerVariableSource {
  const HttpRequestFacts* request = nullptr;
  std::string_view script_name;      // the mount, "/search"
  std::string_view path_info;        // the extension's extra path
  std::string_view path_translated;  // the same with its links resolved
  // SERVER_NAME when the request has no Host field: the listening address.
  std::string_view default_server_name;
};

// The value of the variable `name` (see LookUpRequestVariable): SERVER_NAME
// is the Host field without its port (an IPv6 literal keeps its brackets),
// SERVER_SOFTWARE tavik-serve's, HTTPS "off", CONTENT_LENGTH the one given
// (0 without one) and REMOTE_ADDR the client's address as ClientAddress
// judged it.
std::optional<std::string> LookUpServerVariable(
    const ServerVariableSource& source, std::string_view name);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SERVER_VARIABLES_H_
