// tavik-serve: an HTTP/1.1 server that loads the search extension as a
// Windows web server loads it and serves a site with it.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/extension_library.h"
#include "host/program_failure.h"
#include "host/program_folder.h"
#include "host/serve/access_log.h"
#include "host/serve/search_server.h"
#include "host/serve/serve_options.h"
#include "host/serve/site_access.h"

namespace {

// How long a stop waits for the requests in flight.
constexpr std::chrono::seconds kDrainTimeout{30};

constexpr tavik::ProgramFailure Fail("tavik-serve", 1);

// Lets the process open as many descriptors as the system allows it: every
// connection a worker holds takes one, and every search in flight a few
// more. A search that runs out skips documents it cannot open.
void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// Loads the extension and has it start: GetExtensionVersion, once. Stores
// what the extension says of itself in `description`.
std::unique_ptr<tavik::ExtensionLibrary> StartExtension(
    const std::string& path, std::string* description, std::string* error) {
  auto library = tavik::ExtensionLibrary::Load(path, error);
  if (!library) return nullptr;
  HSE_VERSION_INFO version;
  std::memset(&version, 0, sizeof version);
  if (!library->GetExtensionVersion()(&version)) {
    *error = path + " refused to start: GetExtensionVersion returned FALSE";
    return nullptr;
  }
  const std::string name(
      version.lpszExtensionDesc,
      strnlen(version.lpszExtensionDesc, sizeof version.lpszExtensionDesc));
  *description = "\"" + name + "\", version " +
                 std::to_string(version.dwExtensionVersion >> 16) + "." +
                 std::to_string(version.dwExtensionVersion & 0xFFFF);
  return library;
}

}  // namespace

int main(int argc, char** argv) {
  tavik::ServeOptions options;
  std::string error;
  switch (tavik::ParseServeOptions(
      std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    case tavik::OptionsOutcome::kHelp:
      std::fputs(tavik::kServeUsage, stdout);
      return 0;
    case tavik::OptionsOutcome::kVersion:
      std::puts("tavik-serve " TAVIK_VERSION);
      return 0;
    case tavik::OptionsOutcome::kError:
      return Fail(error);
    case tavik::OptionsOutcome::kRun:
      break;
  }
  // Run by hand without a site, it serves the demo site, and says so; the
  // service always names one (see serve_options.cpp).
  const bool demo_site = options.document_root.empty();
  if (demo_site) options.document_root = tavik::DefaultDemoSite();
  if (options.extension.empty()) options.extension = tavik::DefaultExtensionPath();

  // The worker threads inherit this mask, so the signals reach sigwait
  // below and nothing else: SIGINT and SIGTERM stop the server, SIGHUP
  // reopens the access log.
  sigset_t handled_signals;
  sigemptyset(&handled_signals);
  sigaddset(&handled_signals, SIGINT);
  sigaddset(&handled_signals, SIGTERM);
  sigaddset(&handled_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &handled_signals, nullptr);

  tavik::RouterConfig router;
  // A site its user cannot read would be answered with empty pages.
  error = tavik::CheckSiteFolder(options.document_root, &router.document_root);
  if (!error.empty()) return Fail(error);
  router.mount = options.mount;
  router.default_server_name = options.bind_address;
  router.whole_answer_bytes = static_cast<size_t>(options.whole_answer_bytes);
  std::string description;
  const auto library = StartExtension(options.extension, &description, &error);
  if (!library) return Fail(error);
  router.extension = library->HttpExtensionProc();

  std::unique_ptr<tavik::AccessLog> access_log;
  if (!options.access_log.empty()) {
    access_log = tavik::AccessLog::Open(options.access_log, &error);
    if (!access_log) return Fail(error);
  }

  RaiseDescriptorLimit();
  const tavik::ListenSettings listen{options.bind_address, options.port,
                                     options.threads};
  const tavik::ClientRules clients{
      .trusted_proxies = options.trusted_proxies,
      .head_timeout = std::chrono::seconds(options.head_timeout_seconds),
      .body_timeout = std::chrono::seconds(options.body_timeout_seconds),
      .body_min_rate = static_cast<uint32_t>(options.body_min_rate)};
  const tavik::ServicePaths service{options.health_path, options.metrics_path};
  auto server = tavik::SearchServer::Start(listen, clients, router, service,
                                           access_log.get(), &error);
  if (!server) return Fail(error);

  // Only now, with nothing left to fail, does it speak: an error is one line.
  std::fprintf(stderr, "tavik-serve: loaded %s: %s\n",
               options.extension.c_str(), description.c_str());
  const std::string host =
      options.bind_address == "0.0.0.0" ? "127.0.0.1" : options.bind_address;
  const std::string site = demo_site ? "the demo site " + router.document_root +
                                           " (--docroot DIR serves yours)"
                                     : router.document_root;
  std::printf("tavik-serve: serving %s on http://%s:%d/ (searches at %s)\n",
              site.c_str(), host.c_str(), server->port(), router.mount.c_str());
  std::fflush(stdout);

  int signal_number = 0;
  while (sigwait(&handled_signals, &signal_number) == 0 &&
         signal_number == SIGHUP) {
    // Log rotation: the file was renamed, and lines go to a new one.
    if (access_log && !access_log->Reopen(&error)) {
      std::fprintf(stderr, "tavik-serve: %s\n", error.c_str());
    }
  }
  std::fprintf(stderr, "tavik-serve: %s: finishing the requests in flight\n",
               strsignal(signal_number));
  if (!server->Drain(kDrainTimeout)) {
    std::fprintf(stderr,
                 "tavik-serve: requests still running after %lld s are cut\n",
                 static_cast<long long>(kDrainTimeout.count()));
  }
  // The server stops before the library it calls is unloaded.
  server.reset();
  return 0;
}
