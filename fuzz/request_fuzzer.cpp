// Fuzzes whole requests through HttpExtensionProc: the input gives the extra
// path (below a small fixed tree) and the posted bytes. Every request must
// return success, send the status and a head text that shows the search
// string exactly as an independent decoding gives it, and write one of the
// three well-formed bodies. The sanitizers catch any read or write out of
// bounds and any leak.
//
// Input: one byte N (taken modulo 64), N bytes appended to the tree's path
// as the extra path, then the posted data.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "interface/server_interface.h"
#include "testing/page_check.h"

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);

namespace {

namespace fs = std::filesystem;

std::string tree_root;

void WriteFile(const fs::path& path, std::string_view content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

// A small tree with the cases the reading rules care about.
void MakeTree() {
  char pattern[] = "/tmp/tavik-request-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  tree_root = pattern;
  const fs::path root(tree_root);
  WriteFile(root / "a.htm", "Full Text Search\r\nfull text\r\nweb server\n");
  WriteFile(root / "sub/b.htm", std::string(600, 'x') + "\nWeb\rserver\n");
  WriteFile(root / "sub/c.HTML", std::string("abc\0def\n", 8) + "gh\x1a" "ij\n");
  WriteFile(root / "sub/deeper/d.htm", "caf\xe9 <b>&amp;</b> 1+1=2 %41\n");
  std::string many;
  for (int i = 0; i < 300; ++i) many += "line " + std::to_string(i) + "\n";
  WriteFile(root / "many/e.htm", many);
  WriteFile(root / "notes.txt", "full text\n");
}

struct Captured {
  int headers = 0;
  std::string status;
  std::string head;
  std::string body;
  bool wrong_connection = false;
};

BOOL WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD) {
  auto* captured = static_cast<Captured*>(connection);
  captured->body.append(static_cast<const char*>(buffer), *bytes);
  return 1;
}

BOOL ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer,
                           LPDWORD, LPDWORD data_type) {
  auto* captured = static_cast<Captured*>(connection);
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
  ++captured->headers;
  captured->status = static_cast<const char*>(buffer);
  captured->head = reinterpret_cast<const char*>(data_type);
  return 1;
}

BOOL ReadClient(HCONN, LPVOID, LPDWORD) { std::abort(); }
BOOL GetServerVariable(HCONN, LPSTR, LPVOID, LPDWORD) { std::abort(); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The search string of the posted text, decoded the plain way: the value
// after the first "=", "+" runs as one space, no space at the ends, a final
// line end dropped, then %XX decoded, a lone "%" dropped, NUL ending it.
std::string ExpectedSearchString(std::string_view posted) {
  const size_t equals = posted.find('=');
  if (equals == std::string_view::npos) return "";
  std::string_view value = posted.substr(equals + 1);
  size_t line_end = 0;
  if (value.ends_with("\r\n")) {
    line_end = 2;
  } else if (value.ends_with("\n")) {
    line_end = 1;
  }
  std::string joined;
  size_t at = 0;
  while (at < value.size()) {
    const size_t next = value.find('+', at);
    const std::string_view piece =
        value.substr(at, next == std::string_view::npos ? value.npos : next - at);
    if (!piece.empty()) joined += std::string(piece) + " ";
    if (next == std::string_view::npos) break;
    at = next + 1;
  }
  if (!joined.empty()) joined.pop_back();
  joined.resize(joined.size() >= line_end ? joined.size() - line_end : 0);

  std::string decoded;
  for (size_t i = 0; i < joined.size(); ++i) {
    if (joined[i] != '%') {
      decoded += joined[i];
    } else if (i + 2 < joined.size() && HexValue(joined[i + 1]) >= 0 &&
               HexValue(joined[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(joined[i + 1]) * 16 +
                                   HexValue(joined[i + 2]));
      i += 2;
    }
  }
  return decoded.substr(0, decoded.find('\0'));
}

std::string ExpectedHead(const std::string& search) {
  std::string escaped;
  for (char c : search) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  const std::string head =
      "Content-Type: text/html\r\n\r\n"
      "<head><title>Search Results</title></head>\n\n\r"
      "<body><H1><p align=center>Full Text Search</H1><p>"
      "<p align=center>Search string - " +
      escaped + "<p><A HREF=http:content.htm>Return to Content.HTM</A><p><hr>";
  return head.substr(0, 1023);
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "request fuzzer: %s\n", what);
    std::abort();
  }
}

bool HasDotDotComponent(std::string_view path) {
  size_t at = 0;
  while (at <= path.size()) {
    const size_t end = std::min(path.find('/', at), path.size());
    if (path.substr(at, end - at) == "..") return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeTree();
  std::atexit([] { fs::remove_all(tree_root); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t path_length = std::min<size_t>(data[0] % 64, size - 1);
  const std::string_view suffix(reinterpret_cast<const char*>(data + 1),
                                path_length);
  // Only the fixed tree is searched: a ".." could lead to the whole disk.
  if (HasDotDotComponent(suffix) || suffix.find('\0') != suffix.npos) return 0;
  std::string path = tree_root + "/" + std::string(suffix);
  // Exactly the posted bytes, so a read past them is caught.
  const size_t posted_size = size - 1 - path_length;
  auto* posted = static_cast<uint8_t*>(std::malloc(posted_size + 1));
  std::memcpy(posted, data + 1 + path_length, posted_size);

  Captured captured;
  EXTENSION_CONTROL_BLOCK block{};
  block.cbSize = sizeof block;
  block.ConnID = &captured;
  block.lpszPathInfo = path.data();
  block.cbTotalBytes = static_cast<DWORD>(posted_size);
  block.cbAvailable = static_cast<DWORD>(posted_size);
  block.lpbData = posted;
  block.WriteClient = WriteClient;
  block.ReadClient = ReadClient;
  block.GetServerVariable = GetServerVariable;
  block.ServerSupportFunction = ServerSupportFunction;
  Check(HttpExtensionProc(&block) == HSE_STATUS_SUCCESS, "not success");

  // The extension sees the posted bytes as text: up to a NUL, 1,023 at most.
  std::string_view text(reinterpret_cast<const char*>(posted), posted_size);
  text = text.substr(0, std::min<size_t>(text.find('\0'), 1023));
  Check(captured.headers == 1, "not exactly one header");
  Check(captured.status == "200 OK", "wrong status");
  Check(captured.head == ExpectedHead(ExpectedSearchString(text)),
        "head text differs from the plain decoding");
  int total = 0;
  Check(tavik::testing::IsWellFormedBody(captured.body, &total),
        "malformed body");
  if (text.find('=') == std::string_view::npos) {
    Check(captured.body == tavik::testing::kNoHitsMessage,
          "a request without a form value searched");
  }
  std::free(posted);
  return 0;
}
