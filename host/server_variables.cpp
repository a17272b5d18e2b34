#include "host/server_variables.h"

#include <cstring>

#include "platform/ascii.h"

namespace tavik {
namespace {

constexpr std::string_view kFieldPrefix = "HTTP_";

// The variable name of header field `field`: "User-Agent" gives
// "HTTP_USER_AGENT".
std::string FieldVariableName(std::string_view field) {
  std::string name(kFieldPrefix);
  for (char c : field) name += c == '-' ? '_' : AsciiUpper(c);
  return name;
}

std::optional<std::string> FieldValues(const RequestVariables& request,
                                       std::string_view variable) {
  std::optional<std::string> joined;
  if (request.headers == nullptr) return joined;
  for (const auto& [field, value] : *request.headers) {
    if (FieldVariableName(field) != variable) continue;
    if (joined.has_value()) {
      *joined += ", ";
      *joined += value;
    } else {
      joined.emplace(value);
    }
  }
  return joined;
}

}  // namespace

std::optional<std::string> LookUpRequestVariable(
    const RequestVariables& request, std::string_view name) {
  auto text = [](std::string_view value) {
    return std::optional<std::string>(std::in_place, value);
  };
  if (name == "REQUEST_METHOD") return text(request.method);
  if (name == "QUERY_STRING") return text(request.query_string);
  if (name == "URL") return text(request.url);
  if (name == "PATH_INFO") return text(request.path_info);
  if (name == "PATH_TRANSLATED") return text(request.path_translated);
  if (name == "SCRIPT_NAME") return text(request.script_name);
  if (name == "CONTENT_LENGTH") return std::to_string(request.content_length);
  if (name == "CONTENT_TYPE") return text(request.content_type);
  if (name == "SERVER_NAME") return text(request.server_name);
  if (name == "SERVER_PORT") return std::to_string(request.server_port);
  if (name == "SERVER_PROTOCOL") {
    return "HTTP/" + std::string(request.http_version);
  }
  if (name == "SERVER_SOFTWARE") return text(request.server_software);
  if (name == "GATEWAY_INTERFACE") return text("CGI/1.1");
  if (name == "HTTPS") return text(request.https ? "on" : "off");
  if (name == "REMOTE_ADDR" || name == "REMOTE_HOST") {
    return text(request.remote_address);
  }
  if (name == "REMOTE_PORT") return std::to_string(request.remote_port);
  if (name == "ALL_HTTP") {
    std::string all;
    if (request.headers != nullptr) {
      for (const auto& [field, value] : *request.headers) {
        all += FieldVariableName(field);
        all += ':';
        all += value;
        all += '\n';
      }
    }
    return all;
  }
  if (name.size() > kFieldPrefix.size() &&
      name.substr(0, kFieldPrefix.size()) == kFieldPrefix) {
    return FieldValues(request, name);
  }
  return std::nullopt;
}

bool CopyVariableValue(std::string_view value, void* buffer, uint32_t* size) {
  const uint64_t needed = uint64_t{value.size()} + 1;
  if (buffer == nullptr || *size < needed) {
    *size = static_cast<uint32_t>(needed);
    return false;
  }
  std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *size = static_cast<uint32_t>(needed);
  return true;
}

}  // namespace tavik
