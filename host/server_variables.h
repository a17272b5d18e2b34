// The server variables an extension reads with GetServerVariable, named as
// a Windows server names them, answered by the same rules in every host
// from what the host knows of the request.
#ifndef TAVIK_HOST_SERVER_VARIABLES_H_
#define TAVIK_HOST_SERVER_VARIABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavik {

// The request's facts the variables are made of. The views must outlive
// each lookup.
struct RequestVariables {
  std::string_view method;           // REQUEST_METHOD
  std::string_view query_string;     // QUERY_STRING
  std::string_view url;              // URL: the decoded path
  std::string_view path_info;        // the extension's extra path
  std::string_view path_translated;  // the same with its links resolved
  std::string_view script_name;      // the mount, "/search"
  std::string_view content_type;     // empty without one
  uint64_t content_length = 0;       // 0 without one
  std::string_view server_name;      // the host the client asked for
  int server_port = 0;
  std::string_view http_version;  // "1.1"
  std::string_view server_software;
  bool https = false;
  std::string_view remote_address;  // the client's, as the host judges it
  int remote_port = 0;
  // The request's header fields in the order they came.
  const std::vector<std::pair<std::string_view, std::string_view>>* headers =
      nullptr;
};

// The value of the variable `name`: REQUEST_METHOD, QUERY_STRING, URL,
// PATH_INFO, PATH_TRANSLATED, CONTENT_LENGTH, CONTENT_TYPE, SCRIPT_NAME,
// SERVER_NAME, SERVER_PORT, SERVER_PROTOCOL ("HTTP/" and the version),
// SERVER_SOFTWARE, GATEWAY_INTERFACE, HTTPS ("on" or "off"), REMOTE_ADDR,
// REMOTE_HOST (the address: no name is looked up), REMOTE_PORT, ALL_HTTP
// ("HTTP_NAME:value" and LF for each field), or HTTP_ and a field's name
// upper-cased with "-" as "_" (repeated fields joined by ", "). Returns
// nullopt for any other name, and for an HTTP_ name the request lacks.
std::optional<std::string> LookUpRequestVariable(
    const RequestVariables& request, std::string_view name);

// Copies `value` and a NUL into `buffer`, whose size in bytes is `*size`,
// and sets `*size` to the bytes copied, the NUL included. Returns false,
// copying nothing, when they do not fit; `*size` is then the size needed.
bool CopyVariableValue(std::string_view value, void* buffer, uint32_t* size);

}  // namespace tavik

#endif  // TAVIK_HOST_SERVER_VARIABLES_H_
