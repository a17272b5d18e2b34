#include "host/serve/extension_call.h"

#include "host/extension_invocation.h"
#include "host/serve/request_body.h"
#include "host/serve/response_head.h"
#include "host/serve/response_writer.h"
#include "host/serve/server_variables.h"
#include "host/serve/simple_page.h"

namespace tavik {
namespace {

// The extension's callbacks answered on the request's connection.
class ConnectionCalls : public ExtensionHostCalls {
 public:
  ConnectionCalls(ResponseWriter* writer, RequestBody* body,
                  const ServerVariableSource* variables)
      : writer_(writer), body_(body), variables_(variables) {}

  std::optional<std::string> ServerVariable(std::string_view name) override {
    return LookUpServerVariable(*variables_, name);
  }

  bool WriteClient(const void* data, size_t size) override {
    return writer_->WriteBody(data, size);
  }

  int64_t ReadClient(void* buffer, size_t size) override {
    const int64_t count = body_->Read(buffer, size);
    // What is left of a body that cannot be read would be taken for the
    // next request.
    if (count < 0) writer_->CloseAfterResponse();
    return count;
  }

  bool SendResponseHeader(std::string_view status,
                          std::string_view header_text) override {
    return writer_->SendHead(status, header_text);
  }

 private:
  ResponseWriter* writer_;
  RequestBody* body_;
  const ServerVariableSource* variables_;
};

RequestSummary SummaryOf(const HttpRequestFacts& request) {
  const std::string_view* type = request.FindHeader("Content-Type");
  return {.method = request.method,
          .query_string = request.query_string,
          .content_type = type != nullptr ? *type : std::string_view(),
          .content_length = request.content_length,
          .has_body = request.HasBody()};
}

}  // namespace

ExtensionCallOutcome RunExtensionCall(const ExtensionCallSetup& setup,
                                      const HttpRequestFacts& request,
                                      HttpConnection* connection) {
  ExtensionCallOutcome outcome;
  ResponseWriter writer(connection, &request, setup.whole_answer_bytes);
  RequestBody body(&request, connection, setup.max_body_bytes);

  const RequestSummary summary = SummaryOf(request);
  PostedData posted;
  if (!posted.Fill(summary, [&body](void* buffer, size_t size) {
        return body.Read(buffer, size);
      })) {
    // The client stopped sending, sent too slowly or sent too much:
    // nothing to search.
    connection->CloseAfterResponse();
    const SimplePage page =
        body.too_slow()
            ? SimplePage{.status = "408 Request Timeout",
                         .message = "The request body came too slowly."}
            : SimplePage{.status = "400 Bad Request",
                         .message = "The request body could not be read."};
    outcome.status_code = ParseStatusCode(page.status);
    outcome.body_bytes = AnswerWithPage(request, page, connection, true);
    return outcome;
  }

  const ServerVariableSource variables{
      &request, setup.script_name, setup.folder.path_info,
      setup.folder.path_translated, setup.default_server_name};
  ConnectionCalls calls(&writer, &body, &variables);
  outcome.return_value =
      InvokeExtension(setup.extension, summary, &posted, setup.folder, &calls);
  outcome.extension_called = true;

  // Asynchronous completion (HSE_STATUS_PENDING) is not offered: the
  // request ends here whatever the extension returned.
  if (outcome.return_value != HSE_STATUS_SUCCESS &&
      outcome.return_value != HSE_STATUS_SUCCESS_AND_KEEP_CONN) {
    writer.CloseAfterResponse();
  }
  writer.Finish();
  if (!body.Drain()) writer.CloseAfterResponse();
  outcome.status_code = writer.status_code();
  outcome.body_bytes = writer.body_bytes();
  outcome.streamed_past_bound = writer.streamed_past_bound();
  return outcome;
}

}  // namespace tavik
