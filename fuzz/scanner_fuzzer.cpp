// libFuzzer target: for any document and term, the block scanner counts what
// the plain reader counts. The input is read as
//   byte 0     block size (low 4 bits index kBlockSizes), bit 4: portable
//              path instead of SIMD, bit 5: term used as given instead of
//              upper-cased (as the request holds it)
//   byte 1     the limit on hits, 0 for none
//   bytes 2-3  the term's length, little-endian, taken modulo 301
//   then       the term (cut at a NUL, as the request's term is), then the
//              document.
// A difference aborts with both counts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ascii.h"
#include "request/block_scanner.h"
#include "testing/plain_hit_count.h"

namespace {

constexpr size_t kBlockSizes[16] = {
    1,    2,    3,    4,
    5,    7,    16,   64,
    254,  255,  256,  257,
    1000, 4096, 8192, tavik::BlockScanner::kDefaultBlockSize};

// The document goes to one file, rewritten for every input.
const std::string& DocumentPath() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder ? folder : "/tmp") + "/tavik-fuzz-XXXXXX";
    const int file = mkstemp(pattern.data());
    if (file < 0) std::abort();
    close(file);
    std::atexit([] { unlink(DocumentPath().c_str()); });
    return pattern;
  }();
  return path;
}

void WriteDocument(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(DocumentPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t block_size = kBlockSizes[data[0] & 0x0F];
  const bool use_simd = (data[0] & 0x10) == 0;
  const bool upper_case = (data[0] & 0x20) == 0;
  const size_t limit = data[1] == 0 ? SIZE_MAX : data[1];
  size_t term_length = (data[2] | (data[3] << 8)) % 301;
  data += 4;
  size -= 4;
  if (term_length > size) term_length = size;
  std::string term(reinterpret_cast<const char*>(data), term_length);
  term.resize(term.find('\0') == std::string::npos ? term.size()
                                                   : term.find('\0'));
  if (upper_case) tavik::AsciiUpperInPlace(term.data());
  WriteDocument(data + term_length, size - term_length);

  const long plain =
      tavik::testing::PlainHitCount(DocumentPath().c_str(), term.c_str());
  if (plain < 0) std::abort();
  const size_t expected =
      static_cast<size_t>(plain) < limit ? static_cast<size_t>(plain) : limit;

  const tavik::TermFinder finder(term.c_str(), use_simd);
  tavik::BlockScanner scanner(block_size);
  tavik::ReadableFile file;
  if (!scanner || !file.Open(DocumentPath().c_str())) std::abort();
  const size_t hits = scanner.CountHits(file, finder, limit);
  if (hits != expected) {
    std::fprintf(stderr,
                 "scanner %zu hits, plain reader %zu (term of %zu bytes, "
                 "block size %zu, %s, limit %zu)\n",
                 hits, expected, term.size(), block_size,
                 use_simd ? "SIMD" : "portable", limit);
    std::abort();
  }
  return 0;
}
