#include "testing/stress_documents.h"

#include "platform/ascii.h"
#include "request/reading_rules.h"

namespace tavik::testing {
namespace {

constexpr size_t kPiece = kMaxPieceLength;

std::string Upper(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

}  // namespace

// A small alphabet, so that terms and their parts recur by chance.
char StressDocuments::TextByte() {
  static constexpr char kBytes[] = "aAbBcC  x\xe9\xc9\xff-";
  const size_t roll = Below(100);
  if (roll < 1) return '\0';
  if (roll < 3) return '\r';
  if (roll < 4) return '\n';
  return kBytes[Below(sizeof kBytes - 1)];
}

std::string StressDocuments::Term() {
  size_t length;
  const size_t roll = Below(100);
  if (roll < 5) {
    length = 0;
  } else if (roll < 40) {
    length = 1 + Below(3);
  } else if (roll < 75) {
    length = 4 + Below(17);
  } else if (roll < 87) {
    length = kPiece - 5 + Below(11);
  } else {
    length = 21 + Below(280);
  }
  std::string term;
  for (size_t i = 0; i < length; ++i) {
    char c = TextByte();
    if (c == '\0') c = 'b';
    // A line feed inside a term can never match; keep most of them last.
    if (c == '\n' && i + 1 < length && Chance(80)) c = 'a';
    term += c;
  }
  if (length > 0 && Chance(10)) term.back() = '\n';
  return Chance(85) ? Upper(term) : term;
}

std::string StressDocuments::LineEnd() {
  const size_t roll = Below(100);
  if (roll < 55) return "\n";
  if (roll < 75) return "\r\n";
  if (roll < 80) return "\r\r\n";
  if (roll < 85) return "\r";
  if (roll < 90) return "\r\r\r";
  return "";
}

std::string StressDocuments::Line(const std::string& term) {
  size_t length;
  const size_t roll = Below(100);
  if (roll < 60) {
    length = Below(41);
  } else if (roll < 90) {
    // Near a multiple of the piece length, on either side.
    length = kPiece * (1 + Below(4)) + Below(7) - 3;
  } else {
    length = Below(1200);
  }
  std::string line;
  for (size_t i = 0; i < length; ++i) line += TextByte();
  if (!term.empty() && Chance(50)) {
    // The term in random letter case, ending at, before or across a piece
    // boundary, or anywhere.
    std::string planted = term;
    for (char& c : planted) {
      if (c >= 'A' && c <= 'Z' && Chance(50)) c = static_cast<char>(c | 0x20);
    }
    size_t at = Below(line.size() + 1);
    if (Chance(70)) {
      const size_t boundary = kPiece * Below(line.size() / kPiece + 2);
      const size_t back = Below(term.size() + 3);
      at = boundary > back ? boundary - back : 0;
    }
    if (line.size() < at + planted.size())
      line.resize(at + planted.size(), 'x');
    line.replace(at, planted.size(), planted);
  }
  return line + LineEnd();
}

StressCase StressDocuments::Next() {
  StressCase result;
  result.term = Term();
  size_t size_goal;
  const size_t roll = Below(100);
  if (roll < 70) {
    size_goal = Below(600);
  } else if (roll < 97) {
    size_goal = 600 + Below(6000);
  } else {
    size_goal = 64 * 1024 + Below(70000);
  }
  std::string& document = result.document;
  while (document.size() < size_goal) document += Line(result.term);
  if (Chance(5)) {
    document.insert(Below(document.size() + 1), 1, kEndOfText);
  }
  if (!document.empty() && Chance(20)) {
    // A piece of the document itself, upper-cased, as the term.
    const size_t at = Below(document.size());
    std::string piece = document.substr(at, 1 + Below(300));
    if (piece.find('\0') != std::string::npos) {
      piece.resize(piece.find('\0'));
    }
    result.term = Upper(piece);
  }
  return result;
}

}  // namespace tavik::testing
