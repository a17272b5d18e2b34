#include "word_search/document_matcher.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavik {
namespace {

constexpr size_t kReadBlock = 64 * 1024;

}  // namespace

bool DocumentMatcher::ReadBytes(ReadableFile& file) {
  bytes_.Clear();
  while (bytes_.size() < kMaxDocumentBytes) {
    const size_t room = kMaxDocumentBytes - bytes_.size();
    const size_t wanted = room < kReadBlock ? room : kReadBlock;
    char* block = bytes_.Extend(wanted);
    if (block == nullptr) return false;
    const size_t got = file.Read(block, wanted);
    bytes_.Truncate(bytes_.size() - wanted + got);
    if (got == 0) return true;
  }
  return false;
}

bool DocumentMatcher::Read(ReadableFile& file, SummaryBuilder* summary) {
  const bool whole = ReadBytes(file);
  const bool made =
      !bytes_.failed() && ExtractDocumentStream(bytes_.view(), stream_);
  if (summary != nullptr && made && whole) {
    const std::string_view text = stream();
    summary->Add(text.data(), text.data() + text.size());
    summary->Finish();
  }
  return made;
}

std::string_view DocumentMatcher::title_stream() const {
  for (const TextRange range : {stream_.title, stream_.heading}) {
    if (range.empty() || range.begin == 0) continue;
    // From the space before it, so that its first word is found.
    const std::string_view title =
        stream().substr(range.begin - 1, range.end - range.begin + 1);
    if (title.find_first_not_of(' ') != std::string_view::npos) return title;
  }
  return {};
}

bool DocumentMatcher::ReadText(ReadableFile& file,
                               GrowingArray<StreamWord>* words) {
  ReadBytes(file);
  return !bytes_.failed() && ExtractDocumentText(bytes_.view(), text_) &&
         text_stream_.Build(text_.text.view(), words);
}

std::string_view ShownTitle(const DocumentText& document) {
  WordStream stream;
  for (const TextRange range : {document.title, document.heading}) {
    const std::string_view text =
        document.text.view().substr(range.begin, range.end - range.begin);
    if (stream.Build(text) && stream.word_count() > 0) return text;
  }
  return {};
}

const char* FindWordStart(const char* from, const char* last,
                          std::string_view word) {
  const char first = word[0];
  const bool pair = word.size() >= 2;
  const char second = pair ? word[1] : 0;
  const char* at = from;
#if defined(__SSE2__)
  // Sixteen places at once: the space before, the first byte and the
  // second (or the first again, for a word of one byte).
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i wanted_first = _mm_set1_epi8(first);
  const __m128i wanted_second = _mm_set1_epi8(pair ? second : first);
  for (; last - at >= 16; at += 16) {
    const auto load = [](const char* p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    const __m128i found = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(load(at - 1), space),
                      _mm_cmpeq_epi8(load(at), wanted_first)),
        _mm_cmpeq_epi8(load(pair ? at + 1 : at), wanted_second));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(found));
    if (mask != 0) return at + std::countr_zero(mask);
  }
#endif
  for (; at <= last; ++at) {
    if (at[-1] == ' ' && at[0] == first && (!pair || at[1] == second)) {
      return at;
    }
  }
  return nullptr;
}

bool PhraseContinuesAt(const char* at, const char* end,
                       std::string_view words) {
  while (!words.empty()) {
    // The word before ends here: a space follows it, then perhaps more.
    if (at == end || *at != ' ') return false;
    while (at < end && *at == ' ') ++at;
    const size_t length = words.find(' ');
    const std::string_view word = words.substr(0, length);
    if (static_cast<size_t>(end - at) < word.size() ||
        std::memcmp(at, word.data(), word.size()) != 0) {
      return false;
    }
    at += word.size();
    words = length == std::string_view::npos ? std::string_view()
                                             : words.substr(length + 1);
  }
  return true;
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
