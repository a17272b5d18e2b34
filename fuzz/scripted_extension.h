// The stand-in extension of the serve fuzzer: HttpExtensionProc runs the
// actions the input scripts (see serve_fuzzer.cpp), checks what each
// callback gives back, and records what the host took from it.
#ifndef TAVIK_FUZZ_SCRIPTED_EXTENSION_H_
#define TAVIK_FUZZ_SCRIPTED_EXTENSION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "interface/server_interface.h"
#include "fuzz/raw_request.h"
#include "testing/fake_exchange.h"

namespace tavik::fuzz {

// Reports `what` and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

// What the stand-in extension does, and what it saw.
struct Script {
  std::vector<std::string_view> actions;
  const ParsedRequest* request = nullptr;
  testing::FakeConnection* connection = nullptr;
  bool called = false;
  std::string path_info, path_translated;
  bool head_accepted = false;
  int head_status = 0;
  bool closed_by_script = false;
  // Body bytes the host took (accepted) and was offered after a head.
  std::string accepted, offered;
  uint64_t body_read = 0;
  DWORD result = HSE_STATUS_SUCCESS;
};
// The script ScriptedExtension runs; set it before each request.
extern Script* script;

DWORD TAVIK_CALLBACK ScriptedExtension(EXTENSION_CONTROL_BLOCK* block);

// `text` with its escapes replaced by the bytes they stand for.
std::string Unescape(std::string_view text);

// The decimal number at the start of `text`, at most `highest`.
size_t Number(std::string_view text, size_t highest);

}  // namespace tavik::fuzz

#endif  // TAVIK_FUZZ_SCRIPTED_EXTENSION_H_
