// PageSink: where a search sends its response. The searches know nothing
// of the server they run in; the extension implements this over the
// server's control block, and tests implement it in memory.
#ifndef TAVIK_PLATFORM_PAGE_SINK_H_
#define TAVIK_PLATFORM_PAGE_SINK_H_

#include <cstddef>

namespace tavik {

class PageSink {
 public:
  virtual ~PageSink() = default;

  // Sends the status text `status` ("200 OK") and then `head`, the header
  // lines, the empty line that ends them and the start of the page, both
  // NUL-terminated. Called once per request, before any Write. A failure is
  // not reported: the request runs to its end either way.
  virtual void SendHead(const char* status, const char* head) = 0;

  // Sends the `length` bytes at `bytes` as the next part of the page, all
  // of them, before it returns. Failures are not reported, as above.
  virtual void Write(const char* bytes, size_t length) = 0;
};

}  // namespace tavik

#endif  // TAVIK_PLATFORM_PAGE_SINK_H_
