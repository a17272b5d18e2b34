// Fuzzes what tavik-serve does with a request once civetweb has parsed it:
// the routing, the mapping of the URL to a folder and its confinement to
// the document root, the body limits, the control block and every callback
// of a stand-in extension that the input scripts (server variables with any
// name and buffer size, reads of any size, heads and writes of any bytes),
// and the response head and framing. The request is parsed from raw bytes
// as civetweb parses it. After each request the bytes sent must be one
// well-formed response a client can delimit, the extension must only ever
// see paths inside the root, and a connection kept open must have had its
// whole request body read. The sanitizers catch out-of-bounds accesses.
//
// Input: a raw request (request line, header lines, an empty line, the
// body), then optionally a line "#extension" and the extension's script,
// one action a line:
//   head STATUS|HEADERS  send the head ("-" for a null text)
//   write BYTES          WriteClient
//   read N               ReadClient into a buffer of N bytes
//   var NAME N           GetServerVariable into a buffer of N bytes
//   support N            ServerSupportFunction with request N, no buffers
//   stranger             every callback with another ConnID: all must fail
//   gone                 the client disconnects: writes fail from now on
//   pieces N             (read first) the body arrives N bytes at a time
//   whole N              (read first) the host holds at most N body bytes
//                        to send the answer whole (default: the server's)
//   return N             what HttpExtensionProc returns (default 1)
// Texts take the escapes \r \n \t \0 \\ and \xHH.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/raw_request.h"
#include "fuzz/scripted_extension.h"
#include "fuzz/serve_oracle.h"
#include "host/serve/request_router.h"
#include "testing/fake_exchange.h"

namespace tavik::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMount = "/search";

// The document root: a small site with links that stay in it, links that
// leave it, a dangling link and a loop, next to a folder outside it.
std::string site_root;
std::string top_folder;

void MakeSite() {
  char pattern[] = "/tmp/tavik-serve-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("no temporary folder");
  top_folder = pattern;
  const fs::path top(top_folder);
  fs::create_directories(top / "site/guide/deep");
  fs::create_directories(top / "outside");
  std::ofstream(top / "site/content.htm") << "quokka\n";
  std::ofstream(top / "site/guide/intro.htm") << "guide\n";
  std::ofstream(top / "outside/secret.htm") << "secret\n";
  fs::create_directory_symlink("guide", top / "site/inside");
  fs::create_directory_symlink("..", top / "site/guide/up");
  fs::create_directory_symlink("../..", top / "site/guide/upup");
  fs::create_directory_symlink("../outside", top / "site/outside");
  fs::create_directory_symlink("/tmp", top / "site/tmp");
  fs::create_symlink("guide/intro.htm", top / "site/page");
  fs::create_symlink("missing", top / "site/dangling");
  fs::create_symlink("loop", top / "site/loop");
  site_root = fs::canonical(top / "site").string();
}

void RemoveSite() { fs::remove_all(top_folder); }

bool IsInside(const std::string& root, const std::string& path) {
  return path == root || path.compare(0, root.size() + 1, root + "/") == 0;
}

// Reads the extension's script after the "#extension" line at `marker`
// into `run` and the whole-answer bound into `*whole_answer_bytes`; returns
// the size of the pieces the body arrives in.
size_t ReadScript(std::string_view input, size_t marker, Script* run,
                  size_t* whole_answer_bytes) {
  size_t pieces = 1 << 20;
  if (marker == std::string_view::npos) return pieces;
  std::string_view rest = input.substr(marker + 12);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view action = rest.substr(0, end);
    if (action.substr(0, 7) == "pieces ") {
      pieces = std::max<size_t>(1, Number(action.substr(7), 1 << 20));
    } else if (action.substr(0, 6) == "whole ") {
      *whole_answer_bytes = Number(action.substr(6), 1 << 20);
    } else {
      run->actions.push_back(action);
    }
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  return pieces;
}

// Where the judges say the request's path leads.
struct PathJudgement {
  bool below_mount = false;
  std::optional<std::string> normalized;  // nullopt: it climbs out
  Confinement confinement = Confinement::kOutside;
};

PathJudgement JudgePath(std::string_view path) {
  PathJudgement judgement;
  judgement.below_mount =
      path.substr(0, kMount.size()) == kMount &&
      (path.size() == kMount.size() || path[kMount.size()] == '/');
  const std::string_view rest =
      judgement.below_mount ? path.substr(kMount.size()) : path;
  judgement.normalized = NormalizeBelow(site_root, rest);
  if (judgement.normalized.has_value()) {
    judgement.confinement = Confine(site_root, *judgement.normalized);
  }
  return judgement;
}

// The router's choice against the judges: what went to the file server,
// what the extension was given, and whom 403 went to.
void CheckRouting(const ParsedRequest& request, const RouteOutcome& outcome,
                  const Script& run, const testing::FakeConnection& connection,
                  const PathJudgement& path) {
  if (!outcome.answered) {
    Check(connection.written().empty(), "a static file with bytes sent");
    Check(
        !path.below_mount && (request.method == "GET" || request.method == "HEAD"),
        "a request other than a static GET left to the file server");
    Check(path.confinement != Confinement::kOutside,
          "a static path out of the site left to the file server");
    return;
  }
  if (run.called) {
    Check(path.below_mount, "the extension called off its mount");
    Check(request.method == "GET" || request.method == "HEAD" ||
              request.method == "POST",
          "the extension called for method " + request.method);
    Check(path.normalized.has_value() && run.path_info == *path.normalized,
          "lpszPathInfo is not the normalized path: " + run.path_info);
    Check(path.confinement != Confinement::kOutside,
          "the extension was given a path that leads out: " + run.path_info);
    Check(IsInside(site_root, run.path_translated),
          "lpszPathTranslated out of the site: " + run.path_translated);
    Check(request.content_length <= 1 << 20, "a body over the limit taken");
  } else if (outcome.status_code == 403) {
    Check(path.confinement != Confinement::kInside,
          "403 for a path inside the site");
  }
}

// The bytes sent against the judges: one well-formed response, with the
// outcome's status, whose body is what the extension wrote.
void CheckResponse(const ParsedRequest& request, const RouteOutcome& outcome,
                   const Script& run,
                   const testing::FakeConnection& connection) {
  const std::string_view* expect = request.facts.FindHeader("Expect");
  const ResponseReading reading =
      ReadResponse(connection.written(), request.method == "HEAD",
                   expect != nullptr && EqualsLower(*expect, "100-continue"),
                   connection.closes());
  Check(reading.fault.empty(), "the response: " + reading.fault);
  if (run.closed_by_script) return;  // what went before the end is checked
  Check(reading.status_code == outcome.status_code,
        "the outcome's status is not the one sent");
  if (!connection.closes()) {
    Check(reading.complete, "an incomplete response on an open connection");
    Check(connection.body_bytes_read() == request.body.size(),
          "a connection kept open with its body unread");
  }
  if (run.called && !run.head_accepted) {
    Check(reading.status_code == 500, "no head, yet not 500");
  }
  if (run.head_accepted) {
    Check(reading.status_code == run.head_status, "not the extension's status");
    Check(run.offered.compare(0, reading.body.size(), reading.body) == 0,
          "the body holds bytes the extension did not write");
    if (reading.chunked && reading.complete) {
      Check(reading.body == run.accepted, "the body lacks bytes the host took");
    }
  }
}

void CheckRequest(std::string_view input) {
  const size_t marker = input.find("\n#extension\n");
  std::optional<ParsedRequest> request = ParseRequest(input.substr(0, marker));
  if (!request.has_value()) return;
  request->MakeFacts();

  Script run;
  size_t whole_answer_bytes = kWholeAnswerBytes;
  testing::FakeConnection connection(
      request->body, ReadScript(input, marker, &run, &whole_answer_bytes));
  run.request = &*request;
  run.connection = &connection;
  script = &run;
  RouterConfig config;
  config.document_root = site_root;
  config.mount = std::string(kMount);
  config.extension = ScriptedExtension;
  config.default_server_name = "127.0.0.1";
  config.whole_answer_bytes = whole_answer_bytes;
  const RouteOutcome outcome =
      RouteRequest(config, request->facts, &connection);
  script = nullptr;

  CheckRouting(*request, outcome, run, connection, JudgePath(request->path));
  if (outcome.answered) CheckResponse(*request, outcome, run, connection);
}

}  // namespace
}  // namespace tavik::fuzz

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tavik::fuzz::MakeSite();
  std::atexit(tavik::fuzz::RemoveSite);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavik::fuzz::CheckRequest(
      std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
