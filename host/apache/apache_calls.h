// The extension's callbacks answered inside Apache httpd for one request:
// the server variables from the request_rec, the body through ApacheBody,
// the answer through ApacheAnswer.
#ifndef TAVIK_HOST_APACHE_APACHE_CALLS_H_
#define TAVIK_HOST_APACHE_APACHE_CALLS_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/apache/apache_answer.h"
#include "host/apache/apache_body.h"
#include "host/apache/apache_headers.h"
#include "host/extension_invocation.h"
#include "host/url_mapping.h"

namespace tavik {

class ApacheCalls : public ExtensionHostCalls {
 public:
  // REQUIRES: every argument outlives the object.
  ApacheCalls(request_rec* r, std::string_view mount,
              const MountedFolder* folder, ApacheBody* body,
              ApacheAnswer* answer)
      : r_(r), mount_(mount), folder_(folder), body_(body), answer_(answer) {}

  // LookUpRequestVariable's names, from the request as Apache holds it:
  // SERVER_NAME and SERVER_PORT as Apache names itself to the client
  // (UseCanonicalName), SERVER_SOFTWARE its banner, HTTPS "on" for an https
  // request, REMOTE_ADDR and REMOTE_PORT the client's as Apache judges it
  // (mod_remoteip's when it is loaded), SCRIPT_NAME the mount.
  std::optional<std::string> ServerVariable(std::string_view name) override;
  bool WriteClient(const void* data, size_t size) override;
  int64_t ReadClient(void* buffer, size_t size) override;
  bool SendResponseHeader(std::string_view status,
                          std::string_view header_text) override;

 private:
  request_rec* r_;
  std::string_view mount_;
  const MountedFolder* folder_;
  ApacheBody* body_;
  ApacheAnswer* answer_;
  // The request's header fields, listed at the first lookup.
  std::optional<std::vector<std::pair<std::string_view, std::string_view>>>
      headers_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_APACHE_APACHE_CALLS_H_
