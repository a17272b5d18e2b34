// tavik-serve: an HTTP/1.1 server that loads the search extension as a
// Windows web server loads it and serves a site with it.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

namespace {

// How long a stop waits for the requests in flight.
constexpr std::chrono::seconds kDrainTimeout{30};

constexpr tavik::ProgramFailure Fail("tavik-serve", 1);

// The document root as a real path, or "" with the reason in `error`.
std::string RealFolder(const std::string& folder, std::string* error) {
  char resolved[PATH_MAX];
  struct stat status;
  if (realpath(folder.c_str(), resolved) == nullptr ||
      stat(resolved, &status) != 0) {
    *error =
        "cannot use the document root " + folder + ": " + std::strerror(errno);
    return "";
  }
  if (!S_ISDIR(status.st_mode)) {
    *error = "the document root " + folder + " is not a folder";
    return "";
  }
  return resolved;
}

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
  if (options.document_root.empty()) {
    options.document_root = tavik::DefaultDemoSite();
  }
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
  router.document_root = RealFolder(options.document_root, &error);
  if (router.document_root.empty()) return Fail(error);
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
  auto server = tavik::SearchServer::Start(listen, clients, router,
                                           access_log.get(), &error);
  if (!server) return Fail(error);

  // Only now, with nothing left to fail, does it speak: an error is one line.
  std::fprintf(stderr, "tavik-serve: loaded %s: %s\n",
               options.extension.c_str(), description.c_str());
  const std::string host =
      options.bind_address == "0.0.0.0" ? "127.0.0.1" : options.bind_address;
  std::printf("tavik-serve: serving %s on http://%s:%d/ (searches at %s)\n",
              router.document_root.c_str(), host.c_str(), server->port(),
              router.mount.c_str());
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
