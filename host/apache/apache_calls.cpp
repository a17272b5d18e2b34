#include "host/apache/apache_calls.h"

#include <cstring>

#include "host/http_text.h"
#include "host/server_variables.h"

namespace tavik {
namespace {

std::string_view TextOrEmpty(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

std::optional<std::string> ApacheCalls::ServerVariable(std::string_view name) {
  if (!headers_.has_value()) {
    headers_.emplace();
    const apr_array_header_t* fields = apr_table_elts(r_->headers_in);
    const auto* entries =
        reinterpret_cast<const apr_table_entry_t*>(fields->elts);
    for (int i = 0; i < fields->nelts; ++i) {
      if (entries[i].key == nullptr) continue;
      headers_->emplace_back(entries[i].key, TextOrEmpty(entries[i].val));
    }
  }
  RequestVariables variables;
  variables.method = TextOrEmpty(r_->method);
  variables.query_string = TextOrEmpty(r_->args);
  variables.url = TextOrEmpty(r_->uri);
  variables.path_info = folder_->path_info;
  variables.path_translated = folder_->path_translated;
  variables.script_name = mount_;
  variables.content_type =
      TextOrEmpty(apr_table_get(r_->headers_in, "Content-Type"));
  const int64_t length = body_->content_length();
  variables.content_length = length > 0 ? static_cast<uint64_t>(length) : 0;
  variables.server_name = TextOrEmpty(ap_get_server_name_for_url(r_));
  variables.server_port = ap_get_server_port(r_);
  // "HTTP/1.1": the version after the slash.
  std::string_view protocol = TextOrEmpty(r_->protocol);
  const size_t slash = protocol.find('/');
  variables.http_version =
      slash == std::string_view::npos ? protocol : protocol.substr(slash + 1);
  variables.server_software = TextOrEmpty(ap_get_server_banner());
  variables.https = std::strcmp(ap_http_scheme(r_), "https") == 0;
  variables.remote_address = TextOrEmpty(r_->useragent_ip);
  variables.remote_port =
      r_->useragent_addr != nullptr ? r_->useragent_addr->port : 0;
  variables.headers = &*headers_;
  return LookUpRequestVariable(variables, name);
}

bool ApacheCalls::WriteClient(const void* data, size_t size) {
  return answer_->WriteBody(data, size);
}

int64_t ApacheCalls::ReadClient(void* buffer, size_t size) {
  return body_->Read(buffer, size);
}

bool ApacheCalls::SendResponseHeader(std::string_view status,
                                     std::string_view header_text) {
  return answer_->SendHead(status, header_text);
}

}  // namespace tavik
