#include "host/control_block.h"

#include <cstring>

namespace tavik {

ControlBlock::ControlBlock(const ControlBlockRequest& request,
                           const ControlBlockCallbacks& callbacks)
    : method_(request.method),
      query_string_(request.query_string),
      path_info_(request.path_info),
      path_translated_(request.path_translated),
      content_type_(request.content_type) {
  std::memset(&block_, 0, sizeof block_);
  block_.cbSize = sizeof block_;
  block_.dwVersion = kInterfaceVersion;
  block_.ConnID = request.connection;
  block_.dwHttpStatusCode = 200;
  block_.lpszMethod = method_.data();
  block_.lpszQueryString = query_string_.data();
  block_.lpszPathInfo = path_info_.data();
  block_.lpszPathTranslated = path_translated_.data();
  block_.cbTotalBytes = request.total_bytes;
  block_.cbAvailable = request.available;
  block_.lpbData = request.data;
  block_.lpszContentType = content_type_.data();
  block_.GetServerVariable = callbacks.get_server_variable;
  block_.WriteClient = callbacks.write_client;
  block_.ReadClient = callbacks.read_client;
  block_.ServerSupportFunction = callbacks.server_support_function;
}

}  // namespace tavik
