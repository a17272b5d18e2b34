// tavik-batch: runs a list of requests through an extension library and
// writes each full response to a file of its own, so that the answers of the
// same library built for different systems can be compared byte for byte.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "host/captured_request.h"
#include "host/extension_library.h"
#include "host/program_failure.h"
#include "host/request_list.h"

namespace {

constexpr char kUsage[] =
    "usage: tavik-batch LIBRARY LIST OUTDIR\n"
    "       tavik-batch --help | --version\n"
    "\n"
    "Loads the extension LIBRARY, runs every request of LIST (lines of\n"
    "NAME<TAB>EXTRA-PATH<TAB>POSTED-DATA, or ? and a GET's query string in\n"
    "place of the posted data, with \\\\ \\t \\r \\n \\xHH escapes)\n"
    "and writes each response, status line, head and body, to OUTDIR/NAME.\n";

constexpr tavik::ProgramFailure Fail("tavik-batch", 2);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "tavik-batch " TAVIK_VERSION "\n";
    return 0;
  }
  if (argc != 4) return Fail("expected LIBRARY LIST OUTDIR (see --help)");

  std::ifstream list_file(argv[2], std::ios::binary);
  if (!list_file) return Fail(std::string("cannot read ") + argv[2]);
  std::stringstream list_text;
  list_text << list_file.rdbuf();
  std::vector<tavik::ListedRequest> requests;
  std::string error;
  if (!tavik::ParseRequestList(list_text.str(), &requests, &error)) {
    return Fail(std::string(argv[2]) + ": " + error);
  }

  auto library = tavik::ExtensionLibrary::Load(argv[1], &error);
  if (!library) return Fail(error);

  for (const tavik::ListedRequest& request : requests) {
    const std::string response =
        (request.is_get ? tavik::RunCapturedGet(*library, request.query_string,
                                                request.path_info)
                        : tavik::RunCapturedRequest(*library, request.posted,
                                                    request.path_info))
            .AsHttp();
    const std::string path = std::string(argv[3]) + "/" + request.name;
    std::ofstream out(path, std::ios::binary);
    out.write(response.data(), static_cast<std::streamsize>(response.size()));
    if (!out) return Fail("cannot write " + path);
  }
  return 0;
}
