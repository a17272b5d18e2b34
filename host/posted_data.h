// The rules by which every host fills the request's part of the control
// block: what it says of the request (lpszMethod, lpszQueryString,
// lpszContentType, cbTotalBytes) and the data handed over before the call
// (lpbData, cbAvailable). tavik-serve and the Apache module both fill their
// blocks here, so that a change of rule reaches both.
#ifndef TAVIK_HOST_POSTED_DATA_H_
#define TAVIK_HOST_POSTED_DATA_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "interface/server_interface.h"

namespace tavik {

// The first part of the body read before the extension is called and
// handed over in lpbData, as a Windows server reads ahead.
inline constexpr size_t kReadAheadBytes = 48 * 1024;
// cbTotalBytes of a body whose length is not known in advance (chunked).
inline constexpr DWORD kUnknownTotalBytes = 0xFFFFFFFF;
// The largest request body a host accepts for a search; a longer one is
// refused (413) or, when its length is not known in advance, cut off.
inline constexpr uint64_t kMaxBodyBytes = 1024 * 1024;
static_assert(kMaxBodyBytes >= kReadAheadBytes);

// What a host knows of a request before it calls the extension. The views
// must outlive the call.
struct RequestSummary {
  std::string_view method;        // "GET", "POST", ...
  std::string_view query_string;  // as sent, without the "?"; may be empty
  std::string_view content_type;  // empty without one
  int64_t content_length = -1;    // the Content-Length given, -1 without
  // A Content-Length above zero, or a chunked transfer coding.
  bool has_body = false;
};

// Reads at most `size` bytes of the request body into `buffer`: returns
// the count, 0 at the end of the body, a negative value when it cannot be
// read.
using BodyReader = std::function<int64_t(void* buffer, size_t size)>;

// The bytes a control block carries in lpbData and cbAvailable, and its
// cbTotalBytes.
class PostedData {
 public:
  // Fills the data for `request`: the first kReadAheadBytes of its body,
  // read through `read` until it ends, and its Content-Length as its total
  // (kUnknownTotalBytes for a chunked body, 0 without a body). A query
  // string is no posted data: a search by URL reaches the extension in
  // lpszQueryString alone. Returns false when the body could not be read;
  // the data is then empty.
  bool Fill(const RequestSummary& request, const BodyReader& read);

  // Never null, even with no bytes; valid while this object lives.
  unsigned char* data() { return bytes_.data(); }
  DWORD available() const { return available_; }
  DWORD total_bytes() const { return total_bytes_; }

 private:
  // At least one byte, so that data() is never null.
  std::vector<unsigned char> bytes_ = std::vector<unsigned char>(1);
  DWORD available_ = 0;
  DWORD total_bytes_ = 0;
};

}  // namespace tavik

#endif  // TAVIK_HOST_POSTED_DATA_H_
