#include "host/serve/request_router.h"

#include <optional>
#include <string_view>
#include <utility>

#include "host/serve/extension_call.h"
#include "host/serve/response_head.h"
#include "host/serve/simple_page.h"
#include "host/serve/site_access.h"
#include "host/url_mapping.h"

namespace tavik {
namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// True when the request's body could be delimited in more than one way: a
// Content-Length beside a Transfer-Encoding, a Content-Length that is not a
// plain decimal number, or two that differ. A proxy in front that read the
// same bytes another way would take part of a body for the next request.
bool HasAmbiguousFraming(const HttpRequestFacts& request) {
  std::optional<std::string_view> length;
  bool coded = false;
  for (const auto& [field, value] : request.headers) {
    if (EqualsIgnoringCase(field, "Transfer-Encoding")) coded = true;
    if (!EqualsIgnoringCase(field, "Content-Length")) continue;
    const std::string_view digits = TrimWhitespace(value);
    if (!IsPlainDecimal(digits) || (length.has_value() && digits != *length)) {
      return true;
    }
    length = digits;
  }
  return coded && length.has_value();
}

RouteOutcome Forbidden(const HttpRequestFacts& request,
                       HttpConnection* connection) {
  return AnswerWithOwnPage(request, connection, "403 Forbidden",
                           "The path leads outside the site.");
}

RouteOutcome RunExtension(const RouterConfig& config,
                          const HttpRequestFacts& request,
                          HttpConnection* connection, std::string_view rest) {
  if (request.method != "GET" && request.method != "HEAD" &&
      request.method != "POST") {
    return AnswerWithOwnPage(request, connection, "405 Method Not Allowed",
                             "Search with GET, HEAD or POST.",
                             "Allow: GET, HEAD, POST");
  }
  std::optional<MountedFolder> folder =
      FolderBelowRoot(config.document_root, rest);
  if (!folder.has_value()) return Forbidden(request, connection);
  if (request.content_length > 0 &&
      static_cast<uint64_t>(request.content_length) > kMaxBodyBytes) {
    return AnswerWithOwnPage(
        request, connection, "413 Content Too Large",
        "The request body is larger than the server accepts.");
  }
  if (const std::string_view* expect = request.FindHeader("Expect")) {
    if (!EqualsIgnoringCase(*expect, "100-continue")) {
      return AnswerWithOwnPage(request, connection, "417 Expectation Failed",
                               "Only 100-continue is understood.");
    }
    // The client waits for this before it sends the body.
    if (request.HasBody() && request.http_version == "1.1" &&
        !connection->Write(kContinue.data(), kContinue.size())) {
      // The client is gone; the log shows the request as a bad one.
      connection->CloseAfterResponse();
      return {true, 400, 0};
    }
  }

  // Whether the folder searched can be read, told before the search.
  const bool refused = ReadingIsRefused(folder->path_translated);
  ExtensionCallSetup setup;
  setup.extension = config.extension;
  setup.script_name = config.mount;
  setup.folder = std::move(*folder);
  setup.default_server_name = config.default_server_name;
  setup.max_body_bytes = kMaxBodyBytes;
  setup.whole_answer_bytes = config.whole_answer_bytes;
  const ExtensionCallOutcome call =
      RunExtensionCall(setup, request, connection);
  RouteOutcome outcome{true, call.status_code, call.body_bytes};
  outcome.streamed_past_bound = call.streamed_past_bound;
  if (refused) {
    outcome.unreadable = Unreadable::kSearchFolder;
  }
  return outcome;
}

}  // namespace

RouteOutcome AnswerWithOwnPage(const HttpRequestFacts& request,
                               HttpConnection* connection,
                               std::string_view status,
                               std::string_view message,
                               std::string_view extra_field, bool close) {
  RouteOutcome outcome;
  outcome.answered = true;
  outcome.status_code = ParseStatusCode(status);
  outcome.body_bytes = AnswerWithPage(
      request,
      {.status = status, .message = message, .extra_field = extra_field},
      connection, close);
  return outcome;
}

RouteOutcome RouteRequest(const RouterConfig& config,
                          const HttpRequestFacts& request,
                          HttpConnection* connection) {
  // A NUL would end the path wherever the system reads it as text: the
  // folder searched or the file sent would not be the one the URL names.
  if (request.path.find('\0') != std::string_view::npos) {
    return AnswerWithOwnPage(request, connection, "400 Bad Request",
                             "The path holds a NUL byte.");
  }
  if (HasAmbiguousFraming(request)) {
    return AnswerWithOwnPage(
        request, connection, "400 Bad Request",
        "The request gives its length in more than one way.", {},
        /*close=*/true);
  }
  if (const std::optional<std::string_view> rest =
          PathBelowMount(request.path, config.mount)) {
    return RunExtension(config, request, connection, *rest);
  }
  if (request.method != "GET" && request.method != "HEAD") {
    return AnswerWithOwnPage(
        request, connection, "405 Method Not Allowed",
        "Only searches take other methods than GET and HEAD.",
        "Allow: GET, HEAD");
  }
  const std::optional<std::string> file =
      JoinBelowRoot(config.document_root, request.path);
  std::string resolved;
  if (!file.has_value() ||
      !StaysInsideRoot(config.document_root, *file, &resolved)) {
    return Forbidden(request, connection);
  }
  RouteOutcome outcome;
  outcome.static_file = std::move(resolved);
  return outcome;
}

}  // namespace tavik
