#include "testing/search_page.h"

#include <cstdio>

#include "platform/page_sink.h"
#include "request/search_request.h"

namespace tavik::testing {
namespace {

class CapturedPage : public PageSink {
 public:
  void SendHead(const char* status, const char* head) override {
    text += status;
    text += '\n';
    text += head;
  }
  void Write(const char* bytes, size_t length) override {
    text.append(bytes, length);
  }
  std::string text;
};

}  // namespace

std::string SearchPage(const std::string& root, const std::string& term,
                       SummaryCache* cache) {
  // Every byte percent-encoded: the decoded search string is `term` itself.
  std::string value;
  for (const char c : term) {
    char encoded[4];
    std::snprintf(encoded, sizeof encoded, "%%%02X",
                  static_cast<unsigned char>(c));
    value += encoded;
  }
  CapturedPage page;
  auto request = SearchRequest::Create(value.data(), &page);
  if (!request) return "no record";
  request->SetRoot(root.c_str());
  request->SetCache(cache);
  request->SearchDirectory(nullptr, root.c_str(), kDocumentPattern);
  request->SendResults();
  return page.text;
}

}  // namespace tavik::testing
