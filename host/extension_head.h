// The response head an extension hands its host with
// HSE_REQ_SEND_RESPONSE_HEADER: its status text and its header text, read
// by the same rules in every host. Pure functions over strings.
#ifndef TAVIK_HOST_EXTENSION_HEAD_H_
#define TAVIK_HOST_EXTENSION_HEAD_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavik {

// The header text an extension passes with its status, split in two.
struct ExtensionHead {
  // The header fields, "Name: value" without their line ends, less those
  // the server writes itself (Connection, Date, Server, Transfer-Encoding
  // and the other hop-by-hop fields).
  std::vector<std::string_view> fields;
  // What follows the empty line that ends the fields: the start of the body.
  std::string_view body_start;
  // The extension's Content-Length, when it gave one.
  std::optional<uint64_t> content_length;
};

// Splits the extension's header text `text` into `head`; the views point
// into `text`. The fields end at the first empty line (CR LF or a lone LF);
// a text without one is all fields and no body. Returns false, leaving
// `head` unspecified, when a line is not a header field (a token, a colon,
// a value without control characters) or a Content-Length is not a decimal
// number or disagrees with another one.
bool ParseExtensionHead(std::string_view text, ExtensionHead* head);

// One field of ExtensionHead::fields taken apart: the name before the
// colon and the value after it without the blanks around it.
struct HeaderField {
  std::string_view name;
  std::string_view value;
};
// REQUIRES: `field` is one of ExtensionHead::fields.
HeaderField SplitHeaderField(std::string_view field);

// The status code at the start of the status text `status` ("200 OK"):
// three digits from 100 to 599, then the end or a space and a reason of
// printable characters. Returns 0 for any other text, CR and LF included,
// so a status can never add lines to the head.
int ParseStatusCode(std::string_view status);

}  // namespace tavik

#endif  // TAVIK_HOST_EXTENSION_HEAD_H_
