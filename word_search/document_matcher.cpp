#include "word_search/document_matcher.h"

namespace tavik {
namespace {

constexpr size_t kReadBlock = 64 * 1024;

}  // namespace

bool DocumentMatcher::Read(ReadableFile& file, SummaryBuilder* summary,
                           GrowingArray<StreamWord>* words) {
  bytes_.Clear();
  bool whole = false;
  while (bytes_.size() < kMaxDocumentBytes) {
    const size_t room = kMaxDocumentBytes - bytes_.size();
    char* block = bytes_.Extend(room < kReadBlock ? room : kReadBlock);
    if (block == nullptr) break;
    const size_t wanted = room < kReadBlock ? room : kReadBlock;
    const size_t got = file.Read(block, wanted);
    bytes_.Truncate(bytes_.size() - wanted + got);
    if (got == 0) {
      whole = true;
      break;
    }
  }
  const bool made = !bytes_.failed() &&
                    ExtractDocumentText(bytes_.view(), document_) &&
                    stream_.Build(document_.text.view(), words);
  if (summary != nullptr && made && whole) {
    const std::string_view stream = stream_.stream();
    summary->Add(stream.data(), stream.data() + stream.size());
    summary->Finish();
  }
  return made;
}

size_t CountOccurrences(std::string_view stream, std::string_view unit) {
  size_t count = 0;
  ForEachOccurrence(stream, unit, [&](size_t) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace tavik
