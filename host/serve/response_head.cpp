#include "host/serve/response_head.h"

#include <charconv>
#include <cstdio>

namespace tavik {
namespace {

constexpr char kDayNames[7][4] = {"Sun", "Mon", "Tue", "Wed",
                                  "Thu", "Fri", "Sat"};
constexpr char kMonthNames[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

bool StatusAllowsBody(int status_code) {
  return status_code >= 200 && status_code != 204 && status_code != 304;
}

std::string HttpDate(std::time_t when) {
  std::tm parts;
  gmtime_r(&when, &parts);
  char text[32];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                kDayNames[parts.tm_wday], parts.tm_mday,
                kMonthNames[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour,
                parts.tm_min, parts.tm_sec);
  return text;
}

void AppendResponseHead(std::string_view status,
                        const std::vector<std::string_view>& fields,
                        BodyFraming framing, bool keep_alive, std::time_t now,
                        std::string* out) {
  *out += "HTTP/1.1 ";
  *out += status;
  *out += "\r\nDate: ";
  *out += HttpDate(now);
  *out += "\r\nServer: ";
  *out += kServerSoftware;
  *out += keep_alive ? "\r\nConnection: keep-alive\r\n"
                     : "\r\nConnection: close\r\n";
  for (std::string_view field : fields) {
    *out += field;
    *out += "\r\n";
  }
  if (framing == BodyFraming::kChunked) {
    *out += "Transfer-Encoding: chunked\r\n";
  }
  *out += "\r\n";
}

void AppendChunk(const void* data, size_t size, std::string* out) {
  char length[2 * sizeof(size_t) + 1];
  const auto [end, error] =
      std::to_chars(length, length + sizeof length, size, 16);
  (void)error;  // the buffer holds any size_t in hexadecimal
  out->append(length, end);
  *out += "\r\n";
  out->append(static_cast<const char*>(data), size);
  *out += "\r\n";
}

}  // namespace tavik
