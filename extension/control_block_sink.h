// ControlBlockSink: a SearchRequest's page, sent through the server's
// callbacks in the request's control block.
#ifndef TAVIK_EXTENSION_CONTROL_BLOCK_SINK_H_
#define TAVIK_EXTENSION_CONTROL_BLOCK_SINK_H_

#include <cstddef>

#include "interface/server_interface.h"
#include "platform/page_sink.h"

namespace tavik {

class ControlBlockSink : public PageSink {
 public:
  // Sends through `pECB`, which must outlive the sink. Every call passes
  // the block's ConnID; the callbacks' answers are not examined.
  explicit ControlBlockSink(EXTENSION_CONTROL_BLOCK* pECB) : pECB(pECB) {}

  // ServerSupportFunction with HSE_REQ_SEND_RESPONSE_HEADER: the status as
  // the buffer, no size, and the head text as the data-type argument.
  void SendHead(const char* status, const char* head) override;

  // WriteClient with the bytes, a pointer to their count and the reserved
  // value 0.
  void Write(const char* bytes, size_t length) override;

 private:
  EXTENSION_CONTROL_BLOCK* pECB;
};

}  // namespace tavik

#endif  // TAVIK_EXTENSION_CONTROL_BLOCK_SINK_H_
