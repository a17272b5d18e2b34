// tavik-search: runs one search through the extension library from the
// command line, loading it as a web server would, and prints the response.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/captured_request.h"
#include "host/extension_library.h"
#include "host/form_encoding.h"
#include "host/program_failure.h"
#include "host/program_folder.h"

namespace {

constexpr char kUsage[] =
    "Usage: tavik-search [--library PATH] [--posted DATA] [--query QUERY] "
    "[--repeat N] ROOT [TERM]\n"
    "\n"
    "Loads the search extension and runs one request, as a web server would:\n"
    "the extra path is ROOT, the folder tree to search, and the posted data\n"
    "is \"q=\" and TERM form-encoded as a browser sends it. Prints the\n"
    "response: the status line, the head text and the body, byte for byte.\n"
    "\n"
    "  --library PATH  the extension to load (default: libtavik.so next to\n"
    "                  this program, or where it is installed)\n"
    "  --posted DATA   post DATA exactly as given instead of a TERM\n"
    "  --query QUERY   search by URL instead: a GET whose query string is\n"
    "                  QUERY, as given (\"q=quokka+island&page=2\",\n"
    "                  \"q=cafe&format=json\")\n"
    "  --repeat N      run the request N times in this process and print the\n"
    "                  last response; the time per request goes to standard\n"
    "                  error\n"
    "  --help          show this text\n"
    "  --version       show the version\n";

struct Arguments {
  std::string library;
  std::string posted;
  bool has_posted = false;
  std::string query;
  bool has_query = false;
  long repeat = 0;  // 0: once, and no timing
  std::vector<std::string> positional;
};

constexpr tavik::ProgramFailure Fail("tavik-search", 2);

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (argument == "--version") {
      std::cout << "tavik-search " TAVIK_VERSION "\n";
      return 0;
    }
    if (argument == "--library" || argument == "--posted" ||
        argument == "--query" || argument == "--repeat") {
      if (i + 1 == argc) return Fail(argument + " needs a value");
      if (argument == "--library") {
        arguments.library = argv[++i];
      } else if (argument == "--repeat") {
        char* end = nullptr;
        arguments.repeat = std::strtol(argv[++i], &end, 10);
        if (*end != '\0' || arguments.repeat < 1) {
          return Fail("--repeat takes a count of at least 1");
        }
      } else if (argument == "--query") {
        arguments.query = argv[++i];
        arguments.has_query = true;
      } else {
        arguments.posted = argv[++i];
        arguments.has_posted = true;
      }
    } else if (argument.size() > 1 && argument[0] == '-' &&
               arguments.positional.empty()) {
      return Fail("unknown option " + argument + " (see --help)");
    } else {
      arguments.positional.push_back(argument);
    }
  }
  if (arguments.positional.empty()) return Fail("ROOT is missing (see --help)");
  if (arguments.positional.size() > 2) {
    return Fail("too many arguments (see --help)");
  }
  if ((arguments.has_posted || arguments.has_query) &&
      arguments.positional.size() == 2) {
    return Fail("give either --posted, --query or TERM, not more");
  }
  if (arguments.has_posted && arguments.has_query) {
    return Fail("give either --posted or --query, not both");
  }
  if (arguments.library.empty()) arguments.library = tavik::DefaultExtensionPath();

  std::string error;
  auto library = tavik::ExtensionLibrary::Load(arguments.library, &error);
  if (!library) return Fail(error);

  const std::string posted =
      arguments.has_posted
          ? arguments.posted
          : "q=" + tavik::FormEncode(arguments.positional.size() == 2
                                         ? arguments.positional[1]
                                         : "");
  tavik::CapturedResponse response;
  const auto started = std::chrono::steady_clock::now();
  for (long run = 0; run < std::max(arguments.repeat, 1L); ++run) {
    response = arguments.has_query
                   ? tavik::RunCapturedGet(*library, arguments.query,
                                           arguments.positional[0])
                   : tavik::RunCapturedRequest(*library, posted,
                                               arguments.positional[0]);
  }
  if (arguments.repeat > 0) {
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - started;
    std::fprintf(stderr,
                 "tavik-search: %ld requests in %.3f ms, %.4f ms each\n",
                 arguments.repeat, elapsed.count(),
                 elapsed.count() / static_cast<double>(arguments.repeat));
  }
  const std::string http = response.AsHttp();
  std::fwrite(http.data(), 1, http.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
