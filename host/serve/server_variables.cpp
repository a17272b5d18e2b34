#include "host/serve/server_variables.h"

#include "host/serve/response_head.h"

namespace tavik {
namespace {

// The Host field without its port, or nullopt without a Host field.
std::optional<std::string_view> HostName(const HttpRequestFacts& request) {
  const std::string_view* host = request.FindHeader("Host");
  if (host == nullptr || host->empty()) return std::nullopt;
  std::string_view name = *host;
  if (name.front() == '[') {
    // An IPv6 literal keeps its brackets and colons.
    const size_t close = name.find(']');
    return close == std::string_view::npos ? name : name.substr(0, close + 1);
  }
  return name.substr(0, name.find(':'));
}

}  // namespace

std::optional<std::string> LookUpServerVariable(
    const ServerVariableSource& source, std::string_view name) {
  const HttpRequestFacts& request = *source.request;
  const std::string_view* type = request.FindHeader("Content-Type");
  RequestVariables variables;
  variables.method = request.method;
  variables.query_string = request.query_string;
  variables.url = request.path;
  variables.path_info = source.path_info;
  variables.path_translated = source.path_translated;
  variables.script_name = source.script_name;
  variables.content_type = type != nullptr ? *type : std::string_view();
  variables.content_length = request.content_length > 0
                                 ? static_cast<uint64_t>(request.content_length)
                                 : 0;
  variables.server_name =
      HostName(request).value_or(source.default_server_name);
  variables.server_port = request.server_port;
  variables.http_version = request.http_version;
  variables.server_software = kServerSoftware;
  variables.remote_address = request.remote_address;
  variables.remote_port = request.remote_port;
  variables.headers = &request.headers;
  return LookUpRequestVariable(variables, name);
}

}  // namespace tavik
