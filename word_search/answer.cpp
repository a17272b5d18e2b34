#include "word_search/answer.h"

#include <cstdint>

#include "platform/hex_digits.h"
#include "platform/html_escape.h"
#include "text/text_encoding.h"

namespace tavik {
namespace {

void AppendDecimal(uint64_t value, ByteString& out) {
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) out.Append(digits[--count]);
}

// A score with four decimals, whatever the locale ("3.1416").
void AppendScore(double score, ByteString& out) {
  if (!(score >= 0)) score = 0;
  const auto scaled = static_cast<uint64_t>(score * 10000 + 0.5);
  AppendDecimal(scaled / 10000, out);
  out.Append('.');
  const uint64_t fraction = scaled % 10000;
  for (uint64_t unit = 1000; unit > 0; unit /= 10) {
    out.Append(static_cast<char>('0' + fraction / unit % 10));
  }
}

void AppendEscaped(std::string_view text, ByteString& out) {
  EscapeHtml(text, [&](std::string_view piece) { out.Append(piece); });
}

// `bytes` as UTF-8 (Windows-1252 where they are not), escaped for HTML.
void AppendEscapedText(std::string_view bytes, ByteString& out) {
  ByteString text;
  AppendAsUtf8(bytes, text);
  AppendEscaped(text.view(), out);
}

// A link target: every byte but letters, digits and - . _ ~ / as "%XX",
// so that it is safe in a quoted attribute as it is.
void AppendLinkTarget(std::string_view path, ByteString& out) {
  for (const char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                       c == '_' || c == '~' || c == '/';
    if (plain) {
      out.Append(c);
    } else {
      out.Append(PercentEscaped(c).view());
    }
  }
}

// The query string of the answer's page `page`: "?q=...&amp;page=N", as it
// stands in an attribute.
void AppendPageLink(const Answer& answer, size_t page, ByteString& out) {
  out.Append("?q=");
  for (const char c : answer.query->text()) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                       c == '_' || c == '~';
    if (plain) {
      out.Append(c);
    } else if (c == ' ') {
      out.Append('+');
    } else {
      out.Append(PercentEscaped(c).view());
    }
  }
  out.Append("&amp;page=");
  AppendDecimal(page, out);
}

// The title a result shows: its text with white space run together,
// escaped for HTML.
void AppendTitle(std::string_view title, ByteString& out) {
  AppendCollapsedHtml(title, out);
}

// The same, as plain text.
void AppendPlainTitle(std::string_view title, ByteString& out) {
  bool space = false;
  for (const char c : title) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = out.size() > 0;
      continue;
    }
    if (space) out.Append(' ');
    space = false;
    out.Append(c);
  }
}

void WriteResults(const Answer& answer, ByteString& out) {
  out.Append("<ol class=\"tavik-results\" start=\"");
  AppendDecimal((answer.page - 1) * kResultsPerPage + 1, out);
  out.Append("\">\n");
  for (size_t k = 0; k < answer.count; ++k) {
    const AnswerResult& result = answer.results[k];
    out.Append("<li class=\"tavik-result\">\n<h2 class=\"tavik-title\"><a href=\"");
    AppendLinkTarget(result.url, out);
    out.Append("\">");
    AppendTitle(result.title, out);
    out.Append("</a></h2>\n<p class=\"tavik-url\">");
    AppendEscapedText(result.url, out);
    out.Append("</p>\n");
    for (size_t e = 0; result.excerpts != nullptr && e < result.excerpts->count;
         ++e) {
      out.Append("<p class=\"tavik-excerpt\">");
      out.Append(result.excerpts->html[e].view());
      out.Append("</p>\n");
    }
    out.Append("</li>\n");
  }
  out.Append("</ol>\n");
}

void WritePageLinks(const Answer& answer, ByteString& out) {
  const size_t pages = PageCount(answer.total);
  const auto page = static_cast<size_t>(answer.page);
  if (pages <= 1 && page <= 1) return;
  out.Append("<nav class=\"tavik-pages\" aria-label=\"Result pages\">\n");
  if (page > 1) {
    out.Append("<a class=\"tavik-previous\" rel=\"prev\" href=\"");
    AppendPageLink(answer, page > pages ? pages : page - 1, out);
    out.Append("\">Previous page</a>\n");
  }
  if (page <= pages) {
    out.Append("<span class=\"tavik-page\">Page ");
    AppendDecimal(page, out);
    out.Append(" of ");
    AppendDecimal(pages, out);
    out.Append("</span>\n");
  }
  if (page < pages) {
    out.Append("<a class=\"tavik-next\" rel=\"next\" href=\"");
    AppendPageLink(answer, page + 1, out);
    out.Append("\">Next page</a>\n");
  }
  out.Append("</nav>\n");
}

void WriteSummary(const Answer& answer, ByteString& out) {
  out.Append("<p class=\"tavik-summary\" role=\"status\">");
  if (answer.total == 0) {
    out.Append("No results");
  } else {
    AppendDecimal(answer.total, out);
    out.Append(answer.total == 1 ? " result" : " results");
  }
  out.Append(" for <q>");
  AppendEscaped(answer.query->text(), out);
  out.Append("</q></p>\n");
  if (answer.query->dropped_words() > 0) {
    out.Append("<p class=\"tavik-notice\">Only the first 16 words were "
               "searched for; ");
    AppendDecimal(answer.query->dropped_words(), out);
    out.Append(answer.query->dropped_words() == 1 ? " word was" : " words were");
    out.Append(" left out.</p>\n");
  }
  const size_t pages = PageCount(answer.total);
  if (answer.total > 0 && static_cast<size_t>(answer.page) > pages) {
    out.Append("<p class=\"tavik-notice\">There is no page ");
    AppendDecimal(answer.page, out);
    out.Append(": the results end on page ");
    AppendDecimal(pages, out);
    out.Append(".</p>\n");
  }
}

void AppendJsonString(std::string_view bytes, ByteString& out) {
  ByteString text;
  AppendAsUtf8(bytes, text);
  out.Append('"');
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string_view utf8 = text.view();
  for (size_t at = 0; at < utf8.size(); ++at) {
    const auto c = static_cast<unsigned char>(utf8[at]);
    // Line and paragraph separators, and < > &, are escaped too, so the
    // JSON may stand inside a page's <script> as it is.
    const bool separator = c == 0xE2 && utf8.substr(at, 3) >= "\xE2\x80\xA8" &&
                           utf8.substr(at, 3) <= "\xE2\x80\xA9";
    if (c == '"' || c == '\\') {
      out.Append('\\');
      out.Append(static_cast<char>(c));
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7F ||
               separator) {
      const unsigned point =
          separator ? (utf8[at + 2] == '\xA8' ? 0x2028u : 0x2029u) : c;
      out.Append("\\u");
      for (int shift = 12; shift >= 0; shift -= 4) {
        out.Append(kHex[(point >> shift) & 0xF]);
      }
      if (separator) at += 2;
    } else {
      out.Append(static_cast<char>(c));
    }
  }
  out.Append('"');
}

}  // namespace

size_t PageCount(size_t total) {
  return total == 0 ? 1 : (total + kResultsPerPage - 1) / kResultsPerPage;
}

void WriteHtmlAnswer(const Answer& answer, ByteString& out) {
  out.Append(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>");
  if (answer.searched) {
    AppendEscaped(answer.query->text(), out);
    out.Append(" \xE2\x80\x93 ");
  }
  out.Append("Search</title>\n<link rel=\"stylesheet\" href=\"");
  out.Append(kStylesheetPath);
  out.Append(
      "\">\n</head>\n<body>\n<main class=\"tavik-search\">\n<h1>Search</h1>\n"
      "<form class=\"tavik-form\" method=\"get\" role=\"search\">\n"
      "<label for=\"tavik-q\">Search for</label>\n"
      "<input id=\"tavik-q\" type=\"search\" name=\"q\" value=\"");
  AppendEscaped(answer.query->text(), out);
  out.Append("\">\n<button type=\"submit\">Search</button>\n</form>\n");
  if (answer.searched) {
    WriteSummary(answer, out);
    if (answer.count > 0) WriteResults(answer, out);
    WritePageLinks(answer, out);
  } else {
    out.Append("<p class=\"tavik-summary\">Type one or more words to search "
               "for. Words in double quotes are searched for as a phrase.</p>\n");
  }
  out.Append("</main>\n</body>\n</html>\n");
}

void WriteJsonAnswer(const Answer& answer, ByteString& out) {
  out.Append("{\"query\":");
  AppendJsonString(answer.query->text(), out);
  out.Append(",\"total\":");
  AppendDecimal(answer.total, out);
  out.Append(",\"page\":");
  AppendDecimal(answer.page, out);
  out.Append(",\"per_page\":");
  AppendDecimal(kResultsPerPage, out);
  out.Append(",\"dropped_words\":");
  AppendDecimal(answer.query->dropped_words(), out);
  out.Append(",\"results\":[");
  for (size_t k = 0; k < answer.count; ++k) {
    const AnswerResult& result = answer.results[k];
    if (k > 0) out.Append(',');
    out.Append("{\"url\":");
    AppendJsonString(result.url, out);
    out.Append(",\"title\":");
    ByteString title;
    AppendPlainTitle(result.title, title);
    AppendJsonString(title.view(), out);
    out.Append(",\"score\":");
    AppendScore(result.score, out);
    out.Append(",\"excerpts\":[");
    for (size_t e = 0; result.excerpts != nullptr && e < result.excerpts->count;
         ++e) {
      if (e > 0) out.Append(',');
      AppendJsonString(result.excerpts->html[e].view(), out);
    }
    out.Append("]}");
  }
  out.Append("]}\n");
}

}  // namespace tavik
