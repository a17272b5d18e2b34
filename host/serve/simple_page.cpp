#include "host/serve/simple_page.h"

#include <vector>

#include "host/serve/response_head.h"
#include "platform/html_escape.h"

namespace tavik {

std::string SimpleResponse(const SimplePage& page, std::time_t now,
                           size_t* body_bytes) {
  std::string html;
  const auto append = [&html](std::string_view piece) { html += piece; };
  html += "<html><head><title>";
  EscapeHtml(page.status, append);
  html += "</title></head><body><h1>";
  EscapeHtml(page.status, append);
  html += "</h1><p>";
  EscapeHtml(page.message, append);
  html += "</p></body></html>\n";

  const std::string length = "Content-Length: " + std::to_string(html.size());
  std::vector<std::string_view> fields = {"Content-Type: text/html", length};
  if (!page.extra_field.empty()) fields.push_back(page.extra_field);
  std::string response;
  AppendResponseHead(page.status, fields, BodyFraming::kContentLength,
                     page.keep_alive, now, &response);
  *body_bytes = page.head_only ? 0 : html.size();
  if (!page.head_only) response += html;
  return response;
}

uint64_t SendSimplePage(const SimplePage& page, HttpConnection* connection) {
  size_t body_bytes = 0;
  const std::string response =
      SimpleResponse(page, std::time(nullptr), &body_bytes);
  return connection->Write(response.data(), response.size()) ? body_bytes : 0;
}

uint64_t AnswerWithPage(const HttpRequestFacts& request, SimplePage page,
                        HttpConnection* connection, bool close) {
  page.keep_alive = !close && request.KeepsAlive() && !request.HasBody();
  page.head_only = request.method == "HEAD";
  if (!page.keep_alive) connection->CloseAfterResponse();
  return SendSimplePage(page, connection);
}

}  // namespace tavik
