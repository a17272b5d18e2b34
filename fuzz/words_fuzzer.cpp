// Fuzzes the word search's text chain with any bytes as a document and as a
// query: the stream made as the HTML is read must hold the same words as
// the stream of the text made first; the fast stream must be the plain one;
// every word and phrase of the query must occur as often in both; excerpts
// and the JSON answer must be made from any of it, the JSON valid UTF-8
// without a raw control byte or "<". The sanitizers catch any read or write
// out of bounds and any leak.
//
// Input: one byte N (taken modulo 64), N bytes of query, then the document.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/html_text.h"
#include "text/text_encoding.h"
#include "text/word_stream.h"
#include "word_search/answer.h"
#include "word_search/document_matcher.h"
#include "word_search/excerpts.h"
#include "word_search/search_query.h"

namespace {

using namespace tavik;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The words of a stream, in order: its runs of bytes other than spaces.
std::vector<std::string_view> WordsOf(std::string_view stream) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < stream.size()) {
    while (at < stream.size() && stream[at] == ' ') ++at;
    const size_t start = at;
    while (at < stream.size() && stream[at] != ' ') ++at;
    if (at > start) words.push_back(stream.substr(start, at - start));
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t query_length = std::min<size_t>(data[0] % 64, size - 1);
  const std::string_view query(reinterpret_cast<const char*>(data + 1),
                               query_length);
  const std::string_view bytes(
      reinterpret_cast<const char*>(data + 1 + query_length),
      size - 1 - query_length);

  DocumentText text;
  DocumentStream read;
  Check(ExtractDocumentText(bytes, text));
  Check(ExtractDocumentStream(bytes, read));
  Check(IsValidUtf8(text.text.view()));
  WordStream fast;
  WordStream plain;
  GrowingArray<StreamWord> words;
  Check(fast.Build(text.text.view()));
  Check(plain.BuildPlainly(text.text.view(), &words));
  Check(fast.stream() == plain.stream());
  Check(fast.word_count() == words.size());
  Check(WordsOf(read.stream.view()) == WordsOf(fast.stream()));
  Check(read.words == fast.word_count());

  SearchQuery parsed;
  Check(parsed.Parse(query));
  Check(parsed.text().size() <= kMaxQueryBytes && IsValidUtf8(parsed.text()));
  for (size_t u = 0; u < parsed.unit_count(); ++u) {
    const std::string_view unit = parsed.unit(u).stream;
    Check(CountOccurrences(read.stream.view(), unit) ==
          CountOccurrences(fast.stream(), unit));
  }

  Excerpts excerpts;
  Check(MakeExcerpts(text, plain.stream(), words, parsed, excerpts));
  const AnswerResult result = {"/a b.htm", ShownTitle(text), 1.5, &excerpts};
  Answer answer;
  answer.query = &parsed;
  answer.searched = parsed.unit_count() > 0;
  answer.total = 1;
  answer.results = &result;
  answer.count = 1;
  ByteString json;
  WriteJsonAnswer(answer, json);
  Check(!json.failed() && IsValidUtf8(json.view()));
  // Every byte but the line end after it.
  for (const char c : json.view().substr(0, json.size() - 1)) {
    Check(static_cast<unsigned char>(c) >= 0x20 && c != '<');
  }
  ByteString html;
  WriteHtmlAnswer(answer, html);
  Check(!html.failed() && IsValidUtf8(html.view()));
  return 0;
}
