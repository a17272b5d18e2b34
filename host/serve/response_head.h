// The bytes of a response head as tavik-serve writes them: the status line,
// the server's own header fields, the extension's header lines, and the
// framing of the body (chunks, a Content-Length, or the connection's end).
// Pure functions over strings; nothing here touches a connection.
#ifndef TAVIK_HOST_SERVE_RESPONSE_HEAD_H_
#define TAVIK_HOST_SERVE_RESPONSE_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "host/extension_head.h"

namespace tavik {

// The Server field's value: the program and its version.
inline constexpr char kServerSoftware[] = "tavik-serve/" TAVIK_VERSION;

// How the body of a response is delimited on the connection.
enum class BodyFraming {
  kChunked,        // "Transfer-Encoding: chunked", ended by the last chunk
  kContentLength,  // exactly the declared number of bytes
  kUntilClose,     // plain bytes; the connection closes after them
  kNone,           // no body may follow (1xx, 204, 304)
};

// True when a response with `status_code` may carry a body (not 1xx, 204
// or 304).
bool StatusAllowsBody(int status_code);

// The date in the form HTTP gives it, "Tue, 08 Dec 2026 01:23:18 GMT",
// whatever the locale.
std::string HttpDate(std::time_t when);

// Appends to `out` the status line "HTTP/1.1 " `status`, the server's own
// fields (Date for `now`, Server, Connection as `keep_alive` says), the
// `fields` as given, "Transfer-Encoding: chunked" when `framing` is
// kChunked, and the empty line that ends the head.
void AppendResponseHead(std::string_view status,
                        const std::vector<std::string_view>& fields,
                        BodyFraming framing, bool keep_alive, std::time_t now,
                        std::string* out);

// Appends one chunk holding the `size` bytes at `data` to `out`: the size
// in hexadecimal, CR LF, the bytes, CR LF. REQUIRES: size > 0 (a chunk of
// size 0 is the last chunk, which ends the body).
void AppendChunk(const void* data, size_t size, std::string* out);

// The last chunk with no trailer fields, which ends a chunked body.
inline constexpr std::string_view kLastChunk = "0\r\n\r\n";

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_RESPONSE_HEAD_H_
