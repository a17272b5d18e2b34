#include "word_search/excerpts.h"

#include <algorithm>

#include "platform/html_escape.h"
#include "word_search/document_matcher.h"

namespace tavik {
namespace {

// Characters of context before a window's first match.
constexpr size_t kLeadCharacters = 50;
// The most matches marked in one document; past them no more are looked
// for (the excerpts show the first ones).
constexpr size_t kMaxMarks = 4096;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
constexpr std::string_view kNoBreakSpace = "\xC2\xA0";

// A matched stretch of the text: [begin, end).
struct Mark {
  size_t begin;
  size_t end;
};

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of the white space at the start of `text`: an ASCII space,
// tab, line feed, carriage return or form feed, or a no-break space.
size_t SpaceAt(std::string_view text) {
  if (text.empty()) return 0;
  const char c = text[0];
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') return 1;
  if (text.substr(0, kNoBreakSpace.size()) == kNoBreakSpace) {
    return kNoBreakSpace.size();
  }
  return 0;
}

// `at` moved back over `count` characters, not before 0.
size_t BackCharacters(std::string_view text, size_t at, size_t count) {
  while (count > 0 && at > 0) {
    --at;
    while (at > 0 && IsContinuation(text[at])) --at;
    --count;
  }
  return at;
}

// `at` moved forward over `count` characters, not past the end.
size_t ForwardCharacters(std::string_view text, size_t at, size_t count) {
  while (count > 0 && at < text.size()) {
    ++at;
    while (at < text.size() && IsContinuation(text[at])) ++at;
    --count;
  }
  return at;
}

// The matches of every unit of `query`, in the text's order, those that
// overlap or touch joined into one.
void FindMarks(std::string_view stream, const GrowingArray<StreamWord>& words,
               const SearchQuery& query, GrowingArray<Mark>& marks) {
  for (size_t u = 0; u < query.unit_count(); ++u) {
    const SearchQuery::Unit& unit = query.unit(u);
    ForEachOccurrence(stream, unit.stream, [&](size_t place) {
      const StreamWord* first = std::lower_bound(
          words.begin(), words.end(), place,
          [](const StreamWord& word, size_t at) { return word.stream_begin < at; });
      if (first == words.end() || first->stream_begin != place) return true;
      const size_t last_index = std::min<size_t>(
          static_cast<size_t>(first - words.begin()) + unit.words - 1,
          words.size() - 1);
      marks.Append({first->text_begin, words[last_index].text_end});
      return marks.size() < kMaxMarks;
    });
  }
  std::sort(marks.begin(), marks.end(),
            [](const Mark& a, const Mark& b) { return a.begin < b.begin; });
  size_t kept = 0;
  for (const Mark& mark : marks) {
    if (kept > 0 && mark.begin <= marks[kept - 1].end) {
      marks[kept - 1].end = std::max(marks[kept - 1].end, mark.end);
    } else {
      marks[kept++] = mark;
    }
  }
  marks.Truncate(kept);
}

// The stretch [*begin, *end) of the text shown around the mark `first`,
// starting at `not_before` or later (where the excerpt before it ended).
void ChooseWindow(std::string_view text, const Mark& first, size_t not_before,
                  size_t* begin, size_t* end) {
  size_t start = BackCharacters(text, first.begin, kLeadCharacters);
  if (start < not_before) start = not_before;
  // Not in the middle of a word: from the first space on, unless the
  // context has none.
  if (start > not_before) {
    for (size_t at = start; at < first.begin; ++at) {
      if (const size_t space = SpaceAt(text.substr(at))) {
        start = at + space;
        break;
      }
    }
  }
  size_t stop = ForwardCharacters(text, start, kExcerptLength);
  if (stop < first.end) stop = first.end;
  // Not in the middle of a word either: back to the last space after the
  // mark, if there is one.
  if (stop < text.size()) {
    for (size_t at = stop; at > first.end; --at) {
      if (SpaceAt(text.substr(at)) != 0) {
        stop = at;
        break;
      }
    }
  }
  *begin = start;
  *end = stop;
}

// True when [begin, end) of `text` holds something but white space.
bool HasText(std::string_view text, size_t begin, size_t end) {
  for (size_t at = begin; at < end;) {
    const size_t space = SpaceAt(text.substr(at, end - at));
    if (space == 0) return true;
    at += space;
  }
  return false;
}

// Appends the window [begin, end) of `text` with the marks in it, and "…"
// where it cuts text off: before it, text after `shown` (what the result
// shows already, the title); after it, any.
void RenderWindow(std::string_view text, size_t begin, size_t end,
                  const GrowingArray<Mark>& marks, ByteString& out,
                  size_t shown = 0) {
  if (begin > shown && HasText(text, shown, begin)) {
    out.Append(kEllipsis);
    out.Append(' ');
  }
  const Mark* mark = std::lower_bound(
      marks.begin(), marks.end(), begin,
      [](const Mark& m, size_t at) { return m.end <= at; });
  bool marked = false;
  bool pending_space = false;
  bool any = false;
  for (size_t at = begin; at < end;) {
    if (marked && at >= mark->end) {
      out.Append("</mark>");
      marked = false;
      ++mark;
    }
    if (const size_t space = SpaceAt(text.substr(at, end - at))) {
      pending_space = any;
      at += space;
      continue;
    }
    if (pending_space) {
      out.Append(' ');
      pending_space = false;
    }
    if (!marked && mark != marks.end() && at >= mark->begin) {
      out.Append("<mark>");
      marked = true;
    }
    const char c = text[at];
    const std::string_view entity = HtmlEntity(c);
    if (!entity.empty()) {
      out.Append(entity);
    } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
      out.Append(c);
    }
    any = true;
    ++at;
  }
  if (marked) out.Append("</mark>");
  if (HasText(text, end, text.size())) {
    out.Append(' ');
    out.Append(kEllipsis);
  }
}

}  // namespace

bool MakeExcerpts(const DocumentText& document, std::string_view stream,
                  const GrowingArray<StreamWord>& words,
                  const SearchQuery& query, Excerpts& excerpts) {
  excerpts.count = 0;
  const std::string_view text = document.text.view();
  GrowingArray<Mark> marks;
  FindMarks(stream, words, query, marks);
  if (marks.failed()) return false;
  // Matches in the title show there already: the excerpts start from the
  // others where there are any.
  const TextRange title = document.title;
  const auto in_title = [&](const Mark& mark) {
    return mark.begin >= title.begin && mark.end <= title.end;
  };
  const bool skip_title = std::any_of(
      marks.begin(), marks.end(), [&](const Mark& mark) { return !in_title(mark); });
  size_t shown_until = 0;
  for (const Mark& mark : marks) {
    if (excerpts.count == kMaxExcerpts) break;
    if ((skip_title && in_title(mark)) ||
        (excerpts.count > 0 && mark.begin < shown_until)) {
      continue;
    }
    // An excerpt starts after the one before it, and after the title when
    // it shows none of it.
    size_t not_before = shown_until;
    if (skip_title && mark.begin >= title.end && title.end > not_before) {
      not_before = title.end;
    }
    size_t begin;
    size_t end;
    ChooseWindow(text, mark, not_before, &begin, &end);
    ByteString& html = excerpts.html[excerpts.count++];
    html.Clear();
    // A title at the start of the text shows as the result's title: what
    // follows it starts the text.
    const size_t shown = skip_title && !HasText(text, 0, title.begin) ? title.end : 0;
    RenderWindow(text, begin, end, marks, html, shown);
    if (html.failed()) return false;
    shown_until = end;
  }
  return true;
}

void AppendCollapsedHtml(std::string_view text, ByteString& out) {
  GrowingArray<Mark> none;
  size_t begin = 0;
  while (begin < text.size() && SpaceAt(text.substr(begin)) != 0) {
    begin += SpaceAt(text.substr(begin));
  }
  ByteString rendered;
  RenderWindow(text.substr(begin), 0, text.size() - begin, none, rendered);
  out.Append(rendered.view());
}

}  // namespace tavik
