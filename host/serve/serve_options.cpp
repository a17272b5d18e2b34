#include "host/serve/serve_options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace tavik {

const char kServeUsage[] =
    "usage: tavik-serve [OPTION]...\n"
    "\n"
    "Serves a site over HTTP/1.1 with the Tavik search extension loaded:\n"
    "requests for the mount (/search) and below it run the extension, whose\n"
    "search root is the document root followed by the rest of the path;\n"
    "everything else is a static file of the document root.\n"
    "\n"
    "  --port N          the port to listen on (default 8080; 0 picks a\n"
    "                    free one)\n"
    "  --bind ADDRESS    the IPv4 address to listen on (default 127.0.0.1)\n"
    "  --docroot DIR     the site to serve and search (default: the bundled\n"
    "                    demo site)\n"
    "  --extension PATH  the extension library (default: libtavik.so next\n"
    "                    to this program, or where it is installed)\n"
    "  --mount PREFIX    the URL path of the extension (default /search)\n"
    "  --threads N       worker threads: connections served at once, each\n"
    "                    held until it closes (default 1024)\n"
    "  --access-log FILE append a Common Log Format line per request to\n"
    "                    FILE (- for standard output)\n"
    "  --head-timeout SECONDS\n"
    "                    a request head must have come this long after the\n"
    "                    server starts waiting for it (default 10)\n"
    "  --body-timeout SECONDS\n"
    "                    a request body may keep the server waiting this\n"
    "                    long (default 20), and a second more for every\n"
    "  --body-min-rate BYTES\n"
    "                    bytes it sends (default 500; 0: no more); a client\n"
    "                    that falls behind gets 408\n"
    "  --trusted-proxy ADDRESS[/BITS]\n"
    "                    a front server (or network of them) whose\n"
    "                    X-Forwarded-For names the client, for REMOTE_ADDR\n"
    "                    and the access log; may be repeated (default: none,\n"
    "                    the header is ignored)\n"
    "  --whole-answer-limit BYTES\n"
    "                    hold each answer of the extension until it is done\n"
    "                    and send it whole, with its length, so that a front\n"
    "                    server can pass the request of a backend that died\n"
    "                    to another; an answer past BYTES goes as it is\n"
    "                    written (default 4194304; 0: every answer does)\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "SIGINT or SIGTERM stops the server once the requests in flight end;\n"
    "SIGHUP opens the access log again (after it was rotated).\n";

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

// Checks the mount and strips its trailing slashes.
bool NormalizeMount(std::string* mount) {
  while (mount->size() > 1 && mount->back() == '/') mount->pop_back();
  if (mount->size() < 2 || mount->front() != '/') return false;
  for (char c : *mount) {
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
  } else if (name == "mount") {
    options->mount = value;
    if (NormalizeMount(&options->mount)) return true;
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
  } else if (value.empty()) {
    *error = shown + " needs a value";
  } else if (name == "docroot") {
    options->document_root = value;
    return true;
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
      "port",         "bind",         "docroot",       "extension",
      "mount",        "threads",      "access-log",    "trusted-proxy",
      "head-timeout", "body-timeout", "body-min-rate", "whole-answer-limit"};
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
  return OptionsOutcome::kRun;
}

}  // namespace tavik
