#include "host/serve/serve_options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace tavik {

const char kServeUsage[] =
    "Usage: tavik-serve [OPTION]...\n"
    "\n"
    "Serves a site over HTTP/1.1 with the Tavik search extension loaded:\n"
    "requests for the mount (/search) and below it run the extension, whose\n"
    "search root is the document root followed by the rest of the path;\n"
    "everything else is a static file of the document root, but for two\n"
    "paths of the server's own: /healthz answers 200 while the server can\n"
    "read its site (503 otherwise), and /metrics gives its counters in\n"
    "Prometheus' text format.\n"
    "\n"
    "  --port N          the port to listen on (default 8080; 0 picks a\n"
    "                    free one)\n"
    "  --bind ADDRESS    the IPv4 address to listen on (default 127.0.0.1)\n"
    "  --docroot DIR     the site to serve and search, a folder the\n"
    "                    server's user may list and read (default: the\n"
    "                    bundled demo site)\n"
    "  --extension PATH  the extension library (default: libtavik.so next\n"
    "                    to this program, or where it is installed)\n"
    "  --mount PREFIX    the URL path of the extension (default /search)\n"
    "  --threads N       worker threads: connections served at once, each\n"
    "                    held until it closes (default 1024)\n"
    "  --access-log FILE\n"
    "                    append a Common Log Format line per request to\n"
    "                    FILE (- for standard output)\n"
    "  --head-timeout SECONDS\n"
    "                    a request head must have come this long after the\n"
    "                    server starts waiting for it (default 10)\n"
    "  --body-timeout SECONDS\n"
    "                    a request body may keep the server waiting this\n"
    "                    long (default 20), and a second more for every\n"
    "                    --body-min-rate bytes it sends\n"
    "  --body-min-rate BYTES\n"
    "                    the bytes of body that earn a second more (default\n"
    "                    500; 0: none); a client that falls behind gets 408\n"
    "  --trusted-proxy ADDRESS[/BITS]\n"
    "                    a front server (or network of them) whose\n"
    "                    X-Forwarded-For names the client, for REMOTE_ADDR\n"
    "                    and the access log; may be repeated (default: none,\n"
    "                    the header is ignored)\n"
    "  --health-path PATH\n"
    "                    the URL path of the health check (default /healthz)\n"
    "  --metrics-path PATH\n"
    "                    the URL path of the metrics (default /metrics)\n"
    "  --whole-answer-limit BYTES\n"
    "                    hold each answer of the extension until it is done\n"
    "                    and send it whole, with its length, so that a front\n"
    "                    server can pass the request of a backend that died\n"
    "                    to another; an answer past BYTES goes as it is\n"
    "                    written (default 4194304; 0: every answer does)\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "It will not start on a site its user cannot list and read, nor on an\n"
    "address it cannot listen on: it says why on standard error and exits\n"
    "with status 1. SIGINT or SIGTERM stops the server once the requests in\n"
    "flight end (status 0); SIGHUP opens the access log again (after it was\n"
    "rotated).\n";

namespace {

bool ParseInteger(std::string_view text, int lowest, int highest, int* value) {
  int parsed = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() ||
      text.empty() || parsed < lowest || parsed > highest) {
    return false;
  }
  *value = parsed;
  return true;
}

bool IsIpv4Address(const std::string& text) {
  in_addr address;
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Checks a URL path (the mount, the health or metrics path) and strips its
// trailing slashes.
bool NormalizeUrlPath(std::string* path) {
  while (path->size() > 1 && path->back() == '/') path->pop_back();
  if (path->size() < 2 || path->front() != '/') return false;
  for (char c : *path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '?' || c == '#') return false;
  }
  return true;
}

// Stores `value` for option `name`. Returns false with the reason in
// `error` when it is not a good value for it.
bool SetOption(std::string_view name, const std::string& value,
               ServeOptions* options, std::string* error) {
  const std::string shown = "--" + std::string(name);
  if (name == "port") {
    if (ParseInteger(value, 0, 65535, &options->port)) return true;
    *error =
        shown + " takes a port number from 0 to 65535, not '" + value + "'";
  } else if (name == "bind") {
    if (IsIpv4Address(value)) {
      options->bind_address = value;
      return true;
    }
    *error =
        shown + " takes an IPv4 address such as 127.0.0.1, not '" + value + "'";
  } else if (name == "threads") {
    if (ParseInteger(value, 1, kMaxThreads, &options->threads)) return true;
    *error = shown + " takes a number from 1 to " +
             std::to_string(kMaxThreads) + ", not '" + value + "'";
  } else if (name == "mount" || name == "health-path" ||
             name == "metrics-path") {
    std::string* path = name == "mount"         ? &options->mount
                        : name == "health-path" ? &options->health_path
                                                : &options->metrics_path;
    *path = value;
    if (NormalizeUrlPath(path)) return true;
    *error = shown + " takes a URL path such as /search, not '" + value + "'";
  } else if (name == "head-timeout" || name == "body-timeout") {
    int* seconds = name == "head-timeout" ? &options->head_timeout_seconds
                                          : &options->body_timeout_seconds;
    if (ParseInteger(value, 1, kMaxTimeoutSeconds, seconds)) return true;
    *error = shown + " takes a number of seconds from 1 to " +
             std::to_string(kMaxTimeoutSeconds) + ", not '" + value + "'";
  } else if (name == "body-min-rate") {
    if (ParseInteger(value, 0, 1000000000, &options->body_min_rate)) {
      return true;
    }
    *error = shown + " takes a number of bytes a second from 0 to " +
             "1000000000, not '" + value + "'";
  } else if (name == "whole-answer-limit") {
    if (ParseInteger(value, 0, kMaxWholeAnswerBytes,
                     &options->whole_answer_bytes)) {
      return true;
    }
    *error = shown + " takes a number of bytes from 0 to " +
             std::to_string(kMaxWholeAnswerBytes) + ", not '" + value + "'";
  } else if (name == "trusted-proxy") {
    Ipv4Network network;
    if (ParseIpv4Network(value, &network)) {
      options->trusted_proxies.push_back(network);
      return true;
    }
    *error = shown + " takes an IPv4 address or network such as 127.0.0.1 " +
             "or 10.0.0.0/8, not '" + value + "'";
  } else if (name == "docroot") {
    // The site is set in one place: a service whose settings file names it
    // and whose extra options name another would otherwise serve either.
    if (value.empty()) {
      *error =
          "--docroot is empty: no site is set (the service "
          "tavik-serve@PORT takes it from TAVIK_DOCROOT in "
          "/etc/default/tavik-serve)";
    } else if (!options->document_root.empty()) {
      *error = "--docroot is given twice ('" + options->document_root +
               "' and '" + value + "'): set the site in one place";
    } else {
      options->document_root = value;
      return true;
    }
  } else if (value.empty()) {
    *error = shown + " needs a value";
  } else if (name == "extension") {
    options->extension = value;
    return true;
  } else {
    options->access_log = value;
    return true;
  }
  return false;
}

}  // namespace

OptionsOutcome ParseServeOptions(const std::vector<std::string>& arguments,
                                 ServeOptions* options, std::string* error) {
  static constexpr std::string_view kNames[] = {
      "port",          "bind",
      "docroot",       "extension",
      "mount",         "threads",
      "access-log",    "trusted-proxy",
      "head-timeout",  "body-timeout",
      "body-min-rate", "health-path",
      "metrics-path",  "whole-answer-limit"};
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") return OptionsOutcome::kHelp;
    if (argument == "--version") return OptionsOutcome::kVersion;
    if (argument.size() < 3 || argument.compare(0, 2, "--") != 0) {
      *error = "unexpected argument '" + argument + "' (see --help)";
      return OptionsOutcome::kError;
    }
    std::string_view name = std::string_view(argument).substr(2);
    std::string value;
    const size_t equals = name.find('=');
    bool known = false;
    for (std::string_view candidate : kNames) {
      known = known || candidate == name.substr(0, equals);
    }
    if (!known) {
      *error = "unknown option " + argument + " (see --help)";
      return OptionsOutcome::kError;
    }
    if (equals != std::string_view::npos) {
      value = std::string(name.substr(equals + 1));
      name = name.substr(0, equals);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      *error = argument + " needs a value";
      return OptionsOutcome::kError;
    }
    if (!SetOption(name, value, options, error)) return OptionsOutcome::kError;
  }
  // The server's own paths answer before the extension's mount and the
  // site's files; a path of the mount's would take searches from it.
  for (const std::string* path :
       {&options->health_path, &options->metrics_path}) {
    const std::string& mount = options->mount;
    if (path->compare(0, mount.size(), mount) == 0 &&
        (path->size() == mount.size() || (*path)[mount.size()] == '/')) {
      *error = *path + " lies at or below the mount " + options->mount +
               ": give --health-path and --metrics-path paths off it";
      return OptionsOutcome::kError;
    }
  }
  if (options->health_path == options->metrics_path) {
    *error =
        "--health-path and --metrics-path are both " + options->health_path;
    return OptionsOutcome::kError;
  }
  return OptionsOutcome::kRun;
}

}  // namespace tavik
