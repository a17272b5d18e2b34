#include "host/serve/http_exchange.h"

namespace tavik {

const std::string_view* HttpRequestFacts::FindHeader(
    std::string_view name) const {
  for (const auto& [field, value] : headers) {
    if (EqualsIgnoringCase(field, name)) return &value;
  }
  return nullptr;
}

bool HttpRequestFacts::HasBody() const {
  if (content_length > 0) return true;
  const std::string_view* coding = FindHeader("Transfer-Encoding");
  return content_length < 0 && coding != nullptr &&
         HeaderListHas(*coding, "chunked");
}

bool HttpRequestFacts::ClientKeepsAlive() const {
  const std::string_view* connection = FindHeader("Connection");
  if (connection != nullptr) return HeaderListHas(*connection, "keep-alive");
  return http_version == "1.1";
}

}  // namespace tavik
