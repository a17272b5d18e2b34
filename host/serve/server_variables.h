// The server variables an extension reads with GetServerVariable, named as
// a Windows server names them.
#ifndef TAVIK_HOST_SERVE_SERVER_VARIABLES_H_
#define TAVIK_HOST_SERVE_SERVER_VARIABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/serve/http_exchange.h"

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

// The value of the variable `name`: REQUEST_METHOD, QUERY_STRING, URL,
// PATH_INFO, PATH_TRANSLATED, CONTENT_LENGTH, CONTENT_TYPE, SCRIPT_NAME,
// SERVER_NAME, SERVER_PORT, SERVER_PROTOCOL, SERVER_SOFTWARE,
// GATEWAY_INTERFACE, HTTPS, REMOTE_ADDR, REMOTE_HOST, REMOTE_PORT, ALL_HTTP
// ("HTTP_NAME:value" and LF for each field), or HTTP_ and a field's name
// upper-cased with "-" as "_" (repeated fields joined by ", "). Returns
// nullopt for any other name, and for an HTTP_ name the request lacks.
std::optional<std::string> LookUpServerVariable(
    const ServerVariableSource& source, std::string_view name);

// Copies `value` and a NUL into `buffer`, whose size in bytes is `*size`,
// and sets `*size` to the bytes copied, the NUL included. Returns false,
// copying nothing, when they do not fit; `*size` is then the size needed.
bool CopyVariableValue(std::string_view value, void* buffer, uint32_t* size);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SERVER_VARIABLES_H_
