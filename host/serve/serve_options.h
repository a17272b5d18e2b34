// tavik-serve's command line.
#ifndef TAVIK_HOST_SERVE_SERVE_OPTIONS_H_
#define TAVIK_HOST_SERVE_SERVE_OPTIONS_H_

#include <string>
#include <vector>

#include "host/serve/client_address.h"
#include "host/whole_answer.h"

namespace tavik {

// The most worker threads --threads accepts.
inline constexpr int kMaxThreads = 4096;

struct ServeOptions {
  int port = 8080;  // 0: any free port
  std::string bind_address = "127.0.0.1";
  std::string document_root;  // empty: the caller's default
  std::string extension;      // empty: the caller's default
  std::string mount = "/search";
  // Worker threads, each holding one connection, busy or idle: enough that
  // hundreds of idle connections leave room for the clients that send
  // requests. An idle worker costs about 20 KiB of memory.
  int threads = 1024;
  std::string access_log;  // empty: none; "-": standard output
  // Peers whose X-Forwarded-For names the client (--trusted-proxy, given
  // once per address or network); none by default.
  std::vector<Ipv4Network> trusted_proxies;
  // A request head must have come this long after a worker starts waiting
  // for it.
  int head_timeout_seconds = 10;
  // A body may keep the server waiting this long, and one second more for
  // every body_min_rate bytes it has sent (0: no more).
  int body_timeout_seconds = 20;
  int body_min_rate = 500;
  // The URL paths of the health check and of the metrics, off the mount.
  std::string health_path = "/healthz";
  std::string metrics_path = "/metrics";
  // The most body bytes of an answer held to send it whole, with its
  // length, once the extension is done (0: every answer goes as it is
  // written).
  int whole_answer_bytes = static_cast<int>(kWholeAnswerBytes);
};

// The largest bound --whole-answer-limit accepts, in bytes (1 GiB).
inline constexpr int kMaxWholeAnswerBytes = 1 << 30;

// The longest timeout the options accept, in seconds.
inline constexpr int kMaxTimeoutSeconds = 3600;

enum class OptionsOutcome { kRun, kHelp, kVersion, kError };

// Reads `arguments` (without the program name) into `options`, each option
// as "--name VALUE" or "--name=VALUE". Returns kHelp for --help or -h,
// kVersion for --version,
// kError with a one-line reason in `error` for an unknown option, a missing
// or bad value, a stray argument, a --docroot given twice or empty (the
// site is set in one place), or a health or metrics path that is the
// other's or lies at or below the mount; and kRun otherwise. A mount and
// the two paths lose their trailing slashes. --trusted-proxy may be given
// many times; every other option once counts, the last if repeated.
OptionsOutcome ParseServeOptions(const std::vector<std::string>& arguments,
                                 ServeOptions* options, std::string* error);

// The text --help prints.
extern const char kServeUsage[];

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_SERVE_OPTIONS_H_
