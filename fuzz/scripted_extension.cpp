#include "fuzz/scripted_extension.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavik::fuzz {

Script* script = nullptr;

void Fail(const std::string& what) {
  std::fprintf(stderr, "serve fuzzer: %s\n", what.c_str());
  std::abort();
}

std::string Unescape(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char next = text[++i];
    if (next == 'r') {
      bytes += '\r';
    } else if (next == 'n') {
      bytes += '\n';
    } else if (next == 't') {
      bytes += '\t';
    } else if (next == '0') {
      bytes += '\0';
    } else if (next == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(
          std::strtol(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
      i += 2;
    } else {
      bytes += next;
    }
  }
  return bytes;
}

size_t Number(std::string_view text, size_t highest) {
  size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min(highest, value * 10 + static_cast<size_t>(c - '0'));
  }
  return value;
}

namespace {

// What the extension is handed as posted data: the body, or for a GET or
// HEAD without one, its query string (a search by its URL).
std::string_view PostedData(const ParsedRequest& request) {
  const HttpRequestFacts& facts = request.facts;
  if ((facts.method == "GET" || facts.method == "HEAD") && !facts.HasBody() &&
      !facts.query_string.empty()) {
    return facts.query_string;
  }
  return request.body;
}

// What the harness knows of a server variable on its own.
struct KnownValue {
  bool told = false;  // false: the harness cannot tell
  bool exists = false;
  std::string value;
};

KnownValue KnownVariable(const ParsedRequest& request, std::string_view name) {
  const auto value = [](std::string text) {
    return KnownValue{true, true, std::move(text)};
  };
  if (name == "REQUEST_METHOD") return value(request.method);
  if (name == "QUERY_STRING") return value(request.query);
  if (name == "URL") return value(request.path);
  if (name == "CONTENT_LENGTH") {
    return value(std::to_string(std::max<int64_t>(request.content_length, 0)));
  }
  if (name.substr(0, 5) != "HTTP_" || name.size() == 5) return {};
  KnownValue joined{true, false, ""};
  for (const auto& [field, text] : request.headers) {
    std::string variable = "HTTP_";
    for (char c : field) {
      variable += c == '-'                 ? '_'
                  : (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A')
                                           : c;
    }
    if (variable != name) continue;
    if (joined.exists) joined.value += ", ";
    joined.value += text;
    joined.exists = true;
  }
  return joined;
}

void AskVariable(EXTENSION_CONTROL_BLOCK* block, const std::string& name,
                 size_t room) {
  constexpr char kUntouched = '\x5a';
  std::vector<char> buffer(room, kUntouched);
  DWORD size = static_cast<DWORD>(room);
  std::string c_name = name;  // the callback takes a NUL-terminated name
  const BOOL found = block->GetServerVariable(
      block->ConnID, c_name.data(), room > 0 ? buffer.data() : nullptr, &size);
  const std::string shown = UpToNul(name);
  const KnownValue known = KnownVariable(*script->request, shown);
  if (found) {
    Check(size >= 1 && size <= room, "a variable larger than its buffer");
    Check(buffer[size - 1] == '\0' && std::strlen(buffer.data()) == size - 1,
          "a variable not ended by its NUL at its size");
    Check(!known.told || (known.exists &&
                          std::string(buffer.data(), size - 1) == known.value),
          "the wrong value for " + shown);
    return;
  }
  for (char c : buffer) Check(c == kUntouched, "a refused variable written");
  if (size != room) {
    // Refused for want of room: the size asked for is the value's and more
    // than was given.
    Check(size > room, "a shortened size reported");
    Check(!known.told || (known.exists && size == known.value.size() + 1),
          "the wrong size asked for " + shown);
  } else {
    Check(!known.told || !known.exists || known.value.size() + 1 > room,
          "a variable refused though it fits: " + shown);
  }
}

void RunAction(EXTENSION_CONTROL_BLOCK* block, std::string_view action) {
  const size_t space = action.find(' ');
  const std::string_view verb = action.substr(0, space);
  const std::string_view argument = space == std::string_view::npos
                                        ? std::string_view()
                                        : action.substr(space + 1);
  if (verb == "head") {
    const size_t bar = argument.find('|');
    std::string status = Unescape(argument.substr(0, bar));
    std::string header = bar == std::string_view::npos
                             ? std::string()
                             : Unescape(argument.substr(bar + 1));
    const bool no_status = status == "-";
    const bool no_header = header == "-";
    const BOOL sent = block->ServerSupportFunction(
        block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
        no_status ? nullptr : status.data(), nullptr,
        no_header ? nullptr : reinterpret_cast<LPDWORD>(header.data()));
    if (sent && !script->head_accepted) {
      script->head_accepted = true;
      status = no_status ? "" : UpToNul(status);
      script->head_status = status.empty() ? 200 : std::atoi(status.c_str());
      // The page starts after the first empty line of the head text.
      const std::string text = no_header ? "" : UpToNul(header);
      size_t at = 0;
      while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const bool empty = end == at || (end == at + 1 && text[at] == '\r');
        at = end + 1;
        if (empty) {
          if (at < text.size()) script->accepted = text.substr(at);
          break;
        }
      }
      script->offered = script->accepted;
    }
  } else if (verb == "write") {
    std::string bytes = Unescape(argument);
    DWORD count = static_cast<DWORD>(bytes.size());
    const BOOL written =
        block->WriteClient(block->ConnID, bytes.data(), &count, 0);
    if (script->head_accepted) script->offered += bytes;
    if (written) script->accepted += bytes;
  } else if (verb == "read") {
    const size_t room = Number(argument, 1 << 16);
    std::vector<char> buffer(room);
    DWORD size = static_cast<DWORD>(room);
    if (block->ReadClient(block->ConnID, room > 0 ? buffer.data() : nullptr,
                          &size)) {
      Check(size <= room, "ReadClient read past its buffer");
      script->body_read += size;
      Check(block->cbAvailable + script->body_read <=
                PostedData(*script->request).size(),
            "more body read than was sent");
    }
  } else if (verb == "var") {
    const size_t last = argument.rfind(' ');
    if (last == std::string_view::npos) return;
    AskVariable(block, Unescape(argument.substr(0, last)),
                Number(argument.substr(last + 1), 1 << 16));
  } else if (verb == "support") {
    const DWORD request = static_cast<DWORD>(Number(argument, 0xFFFFFFFF));
    if (request == HSE_REQ_SEND_RESPONSE_HEADER) return;  // that is "head"
    const BOOL done = block->ServerSupportFunction(block->ConnID, request,
                                                   nullptr, nullptr, nullptr);
    Check(done == (request == HSE_REQ_DONE_WITH_SESSION),
          "an unknown support request answered");
  } else if (verb == "stranger") {
    HCONN other =
        reinterpret_cast<HCONN>(reinterpret_cast<uintptr_t>(block->ConnID) + 1);
    char text[] = "x";
    DWORD size = 1;
    Check(!block->WriteClient(other, text, &size, 0) &&
              !block->ReadClient(other, text, &size) &&
              !block->GetServerVariable(other, text, text, &size) &&
              !block->ServerSupportFunction(other, HSE_REQ_DONE_WITH_SESSION,
                                            nullptr, nullptr, nullptr),
          "a callback took another request's ConnID");
  } else if (verb == "gone") {
    script->connection->Disconnect();
    script->closed_by_script = true;
  } else if (verb == "return") {
    script->result = static_cast<DWORD>(Number(argument, 0xFFFFFFFF));
  }
}

}  // namespace

DWORD TAVIK_CALLBACK ScriptedExtension(EXTENSION_CONTROL_BLOCK* block) {
  script->called = true;
  script->path_info = block->lpszPathInfo;
  script->path_translated = block->lpszPathTranslated;
  const std::string_view posted = PostedData(*script->request);
  Check(block->cbAvailable <= posted.size() &&
            std::string_view(reinterpret_cast<char*>(block->lpbData),
                             block->cbAvailable) ==
                posted.substr(0, block->cbAvailable),
        "lpbData is not the start of the body");
  for (std::string_view action : script->actions) RunAction(block, action);
  return script->result;
}

}  // namespace tavik::fuzz
