#include "word_search/search_query.h"

#include "text/text_encoding.h"
#include "text/word_stream.h"

namespace tavik {
namespace {

// The quotation marks that open or close a phrase: the ASCII one and the
// typographic ones that phones and word processors put in its place.
constexpr std::string_view kQuotes[] = {"\"", "\xE2\x80\x9C", "\xE2\x80\x9D",
                                        "\xE2\x80\x9E"};

// The length of the quotation mark at the start of `text`, or 0.
size_t QuoteAt(std::string_view text) {
  for (const std::string_view quote : kQuotes) {
    if (text.substr(0, quote.size()) == quote) return quote.size();
  }
  return 0;
}

}  // namespace

bool SearchQuery::Parse(std::string_view raw) {
  text_.Clear();
  streams_.Clear();
  spans_.Clear();
  words_ = dropped_words_ = 0;
  out_of_memory_ = false;
  AppendAsUtf8(raw, text_);
  text_.Truncate(Utf8PrefixLength(text_.view(), kMaxQueryBytes));

  const std::string_view text = text_.view();
  bool in_phrase = false;
  size_t segment_start = 0;
  for (size_t at = 0; at <= text.size();) {
    const size_t quote = at < text.size() ? QuoteAt(text.substr(at)) : 1;
    if (quote == 0) {
      ++at;
      continue;
    }
    AddSegment(text.substr(segment_start, at - segment_start), in_phrase);
    in_phrase = !in_phrase;
    at += quote;
    segment_start = at;
  }
  units_.Clear();
  for (const Span& span : spans_) {
    units_.Append({streams_.view().substr(span.offset, span.length), span.words});
  }
  return !out_of_memory_ && !text_.failed() && !streams_.failed() && !spans_.failed() &&
         !units_.failed();
}

void SearchQuery::AddSegment(std::string_view segment, bool phrase) {
  WordStream stream;
  GrowingArray<StreamWord> words;
  if (!stream.Build(segment, &words)) {
    out_of_memory_ = true;
    return;
  }
  const std::string_view folded = stream.stream();
  const size_t room = kMaxQueryWords - words_;
  const size_t kept = words.size() < room ? words.size() : room;
  dropped_words_ += words.size() - kept;
  // Each word as the stream has it: from its start to the next space.
  const auto word = [&](size_t k) {
    const size_t begin = words[k].stream_begin;
    const size_t end = folded.find(' ', begin);
    return folded.substr(begin, end == std::string_view::npos ? std::string_view::npos
                                                               : end - begin);
  };
  ByteString unit;
  for (size_t k = 0; k < kept; ++k) {
    unit.Append(' ');
    unit.Append(word(k));
    if (!phrase || k + 1 == kept) {
      AddUnit(unit.view(), phrase ? kept : 1);
      unit.Clear();
    }
  }
  if (unit.failed()) out_of_memory_ = true;
}

void SearchQuery::AddUnit(std::string_view stream, size_t words) {
  // A unit asked for twice counts once.
  for (const Span& span : spans_) {
    if (streams_.view().substr(span.offset, span.length) == stream) return;
  }
  spans_.Append({streams_.size(), stream.size(), words});
  streams_.Append(stream);
  words_ += words;
}

}  // namespace tavik
