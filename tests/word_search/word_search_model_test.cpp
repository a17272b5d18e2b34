// The word search held to a plain model of what it promises, over random
// documents and queries: the text of a document is what a visitor reads,
// folded by Unicode's own data (read here from the data files, without the
// library's tables), cut into words of letters and digits; a document
// matches when every word of the query starts a word of its text and every
// phrase stands as its words; matches are ranked by the documented score,
// equal scores by path. Whole requests go through the exported entry point
// and come back as JSON, which a real parser reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testing/extension_fixture.h"
#include "testing/temp_tree.h"

namespace tavik::testing {
namespace {

using Json = nlohmann::json;

// ---- Unicode, plainly -----------------------------------------------------

class UnicodeModel {
 public:
  UnicodeModel() {
    std::ifstream data(std::string(TAVIK_UNICODE_DATA) + "/UnicodeData.txt");
    std::string line;
    while (std::getline(data, line)) {
      std::vector<std::string> fields;
      std::stringstream split(line);
      for (std::string field; std::getline(split, field, ';');) {
        fields.push_back(field);
      }
      const char32_t point = std::stoul(fields[0], nullptr, 16);
      category_[point] = fields[2];
      std::stringstream parts(fields[5]);
      for (std::string part; parts >> part;) {
        if (part[0] != '<') decomposition_[point].push_back(std::stoul(part, nullptr, 16));
      }
    }
    std::ifstream folding(std::string(TAVIK_UNICODE_DATA) + "/CaseFolding.txt");
    while (std::getline(folding, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::stringstream split(line);
      std::string code, status, mapping;
      std::getline(split, code, ';');
      std::getline(split, status, ';');
      std::getline(split, mapping, ';');
      if (status != " C" && status != " F") continue;
      std::stringstream parts(mapping);
      std::u32string folded;
      for (std::string part; parts >> part;) folded += std::stoul(part, nullptr, 16);
      case_folding_[std::stoul(code, nullptr, 16)] = folded;
    }
    EXPECT_GT(category_.size(), 30000u) << "Unicode's data files were not read";
  }

  std::string Category(char32_t point) const {
    const auto found = category_.find(point);
    return found == category_.end() ? "Cn" : found->second;
  }
  bool IsWordPoint(char32_t point) const {
    const std::string category = Category(point);
    return category[0] == 'L' || category[0] == 'N' || category == "Mc";
  }
  std::u32string Fold(char32_t point) const {
    std::u32string text(1, point);
    for (;;) {
      std::u32string next;
      for (const char32_t c : text) {
        for (const char32_t part : Decompose(c)) {
          const std::string category = Category(part);
          if (category == "Mn" || category == "Me") continue;
          const auto folded = case_folding_.find(part);
          next += folded == case_folding_.end() ? std::u32string(1, part)
                                                : folded->second;
        }
      }
      if (next == text) return text;
      text = next;
    }
  }

 private:
  std::u32string Decompose(char32_t point) const {
    const auto found = decomposition_.find(point);
    if (found == decomposition_.end()) return std::u32string(1, point);
    std::u32string out;
    for (const char32_t part : found->second) out += Decompose(part);
    return out;
  }

  std::map<char32_t, std::string> category_;
  std::map<char32_t, std::vector<char32_t>> decomposition_;
  std::map<char32_t, std::u32string> case_folding_;
};

const UnicodeModel& Unicode() {
  static const UnicodeModel* model = new UnicodeModel;
  return *model;
}

std::u32string FromUtf8(const std::string& text) {
  std::u32string out;
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) point = (point << 6) | (text[at + k] & 0x3F);
    out += point;
    at += length;
  }
  return out;
}

std::string ToUtf8(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The folded words of a text, in order.
std::vector<std::string> Words(const std::string& utf8) {
  std::vector<std::string> words;
  std::u32string word;
  for (const char32_t c : FromUtf8(utf8)) {
    for (const char32_t folded : Unicode().Fold(c)) {
      if (Unicode().IsWordPoint(folded)) {
        word += folded;
      } else if (!word.empty()) {
        words.push_back(ToUtf8(word));
        word.clear();
      }
    }
  }
  if (!word.empty()) words.push_back(ToUtf8(word));
  return words;
}

// ---- Documents, made with their text known --------------------------------

// Words a document is made of: plain ASCII, accents in several spellings,
// case and compatibility forms, as HTML source (UTF-8) and text.
struct Piece {
  std::string html;  // as it stands in the document (UTF-8)
  std::string text;  // what a visitor reads of it
};

const Piece kWordPieces[] = {
    {"quokka", "quokka"}, {"Quokkas", "Quokkas"}, {"island", "island"},
    {"Rottnest", "Rottnest"}, {"marsupial", "marsupial"}, {"the", "the"},
    {"smile", "smile"}, {"file", "file"}, {"cafe", "cafe"},
    {"caf\xC3\xA9", "caf\xC3\xA9"}, {"CAF&Eacute;", "CAF\xC3\x89"},
    {"caf&#233;", "caf\xC3\xA9"}, {"cafe\xCC\x81", "cafe\xCC\x81"},
    {"na\xC3\xAFve", "na\xC3\xAFve"}, {"stra&szlig;e", "stra\xC3\x9F" "e"},
    {"STRASSE", "STRASSE"}, {"\xEF\xAC\x81le", "\xEF\xAC\x81le"},
    {"M\xC3\xBCller", "M\xC3\xBCller"}, {"mueller", "mueller"},
    {"x42", "x42"}, {"2026", "2026"},
};
// What a Windows-1252 document may hold: its characters have one byte.
const Piece kLatinPieces[] = {
    {"quokka", "quokka"}, {"island", "island"}, {"caf\xC3\xA9", "caf\xC3\xA9"},
    {"M\xC3\xBCller", "M\xC3\xBCller"}, {"stra\xC3\x9F" "e", "stra\xC3\x9F" "e"},
    {"the", "the"}, {"smile", "smile"}, {"CAF&Eacute;", "CAF\xC3\x89"},
};

struct Document {
  std::string html;        // UTF-8; re-encoded for a Windows-1252 one
  std::string text;        // "\n" where tags separate
  std::string title;       // the <title>'s text, or ""
  std::string heading;     // the first <h1>'s text, or ""
  bool windows_1252 = false;
};

class DocumentMaker {
 public:
  explicit DocumentMaker(std::mt19937& random) : random_(random) {}

  Document Make() {
    Document document;
    document.windows_1252 = Chance(5);
    if (Chance(2)) {
      const std::string title = Phrase(document, 1 + Below(3));
      document.html += "<title>" + title + "</title>";
      document.title = Text(title);
      document.text += "\n" + document.title + "\n";
    }
    const int blocks = 1 + Below(8);
    for (int block = 0; block < blocks; ++block) {
      const bool heading = document.heading.empty() && Chance(4);
      std::string html;
      std::string text;
      const int pieces = 1 + Below(12);
      for (int k = 0; k < pieces; ++k) AddPiece(document, html, text);
      document.html += heading ? "<h1>" + html + "</h1>" : "<p>" + html + "</p>\n";
      document.text += "\n" + text + "\n";
      if (heading) document.heading = text;
    }
    if (document.windows_1252) document.html = "\xC3\xA9 " + document.html;
    if (document.windows_1252) document.text = "\xC3\xA9 " + document.text;
    return document;
  }

  // A word of the document's kind, as its source.
  const Piece& Word(const Document& document) {
    if (document.windows_1252) return kLatinPieces[Below(std::size(kLatinPieces))];
    return kWordPieces[Below(std::size(kWordPieces))];
  }

 private:
  int Below(size_t bound) { return static_cast<int>(random_() % bound); }
  bool Chance(int one_in) { return Below(static_cast<size_t>(one_in)) == 0; }

  std::string Phrase(const Document& document, int words) {
    std::string phrase;
    for (int k = 0; k < words; ++k) {
      if (k > 0) phrase += ' ';
      phrase += Word(document).html;
    }
    return phrase;
  }
  // The text of `html` made only of word pieces and spaces.
  std::string Text(const std::string& html) {
    std::string text;
    std::stringstream split(html);
    bool first = true;
    for (std::string word; split >> word; first = false) {
      if (!first) text += ' ';
      // Both kinds of document share some words; each has one text.
      const auto same = [&](const Piece& piece) { return piece.html == word; };
      const Piece* piece = std::find_if(std::begin(kWordPieces), std::end(kWordPieces), same);
      if (piece == std::end(kWordPieces)) {
        piece = std::find_if(std::begin(kLatinPieces), std::end(kLatinPieces), same);
      }
      text += piece->text;
    }
    return text;
  }

  void AddPiece(const Document& document, std::string& html, std::string& text) {
    const Piece& word = Word(document);
    switch (Below(12)) {
      case 0: {  // markup inside a word joins it, after its first character
        const auto lead = static_cast<unsigned char>(word.html[0]);
        const size_t first = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        html += "<b>" + word.html.substr(0, first) + "</b>" + word.html.substr(first) + " ";
        text += word.text + " ";
        break;
      }
      case 1:
        html += "<!-- secret " + word.html + " -->";
        break;
      case 2:
        html += "<script>var s = \"</p> secret\";</script>";
        text += "\n";
        break;
      case 3:
        html += "<span class=\"x>y\">" + word.html + "</span>";
        text += word.text;
        break;
      case 4:
        html += "<br>";
        text += "\n";
        break;
      case 5:
        html += ", &amp; ";
        text += ", & ";
        break;
      case 6:
        html += "&nbsp;";
        text += "\xC2\xA0";
        break;
      case 7:
        html += "'s ";
        text += "'s ";
        break;
      default:
        html += word.html + " ";
        text += word.text + " ";
        break;
    }
  }

  std::mt19937& random_;
};

// The bytes of a document written as Windows-1252: every character of its
// source has one byte there.
std::string AsWindows1252(const std::string& utf8) {
  std::string out;
  for (const char32_t c : FromUtf8(utf8)) {
    EXPECT_LT(c, 0x100u) << "no such Windows-1252 character";
    out += static_cast<char>(c);
  }
  return out;
}

// ---- Queries and the model's answer ----------------------------------------

struct Unit {
  std::vector<std::string> words;  // folded
};

struct Query {
  std::string text;  // as typed, UTF-8
  std::vector<Unit> units;
};

bool UnitAt(const std::vector<std::string>& words, size_t at, const Unit& unit) {
  if (at + unit.words.size() > words.size()) return false;
  for (size_t k = 0; k < unit.words.size(); ++k) {
    const std::string& text_word = words[at + k];
    const std::string& wanted = unit.words[k];
    const bool last = k + 1 == unit.words.size();
    if (last ? text_word.compare(0, wanted.size(), wanted) != 0 : text_word != wanted) {
      return false;
    }
  }
  return true;
}

size_t Occurrences(const std::vector<std::string>& words, const Unit& unit) {
  size_t count = 0;
  for (size_t at = 0; at < words.size(); ++at) count += UnitAt(words, at, unit);
  return count;
}

// `text` with its runs of ASCII white space made one space, trimmed.
std::string Collapsed(const std::string& text) {
  std::string collapsed;
  std::stringstream split(text);
  for (std::string word; split >> word;) {
    collapsed += (collapsed.empty() ? "" : " ") + word;
  }
  return collapsed;
}

struct Expected {
  std::string url;
  std::string title;
  double score;
  std::vector<std::string> matched;  // text words that a unit starts
};

std::vector<Expected> ModelAnswer(const std::map<std::string, Document>& documents,
                                  const Query& query) {
  struct Found {
    std::string url;
    std::string title;
    std::vector<size_t> counts;
    size_t length;
    size_t in_title;
    std::vector<std::string> matched;
  };
  std::vector<Found> found;
  for (const auto& [url, document] : documents) {
    const std::vector<std::string> words = Words(document.text);
    Found match{url, "", {}, words.size(), 0, {}};
    for (const Unit& unit : query.units) match.counts.push_back(Occurrences(words, unit));
    if (std::find(match.counts.begin(), match.counts.end(), 0u) != match.counts.end()) {
      continue;
    }
    // The title, else the first heading, the first that holds a word; else
    // the file's name.
    const std::string& title =
        !Words(document.title).empty() ? document.title : document.heading;
    match.title = Words(title).empty() ? url.substr(url.rfind('/') + 1)
                                       : Collapsed(title);
    const std::vector<std::string> title_words = Words(title);
    for (const Unit& unit : query.units) match.in_title += Occurrences(title_words, unit) > 0;
    for (size_t at = 0; at < words.size(); ++at) {
      for (const Unit& unit : query.units) {
        if (UnitAt(words, at, unit)) {
          for (size_t k = 0; k < unit.words.size(); ++k) match.matched.push_back(words[at + k]);
        }
      }
    }
    found.push_back(match);
  }
  size_t total_length = 0;
  for (const Found& match : found) total_length += match.length;
  const double mean = found.empty() ? 0 : static_cast<double>(total_length) / found.size();
  std::vector<Expected> answer;
  for (const Found& match : found) {
    // The documented score: k1 = 1.2, b = 0.75, 1.5 a unit in the title.
    const double norm = 1.2 * (1 - 0.75 + 0.75 * (mean > 0 ? match.length / mean : 1.0));
    double score = 0;
    for (const size_t count : match.counts) {
      const double tf = static_cast<double>(count);
      score += tf * (1.2 + 1) / (tf + norm);
    }
    score += 1.5 * static_cast<double>(match.in_title);
    answer.push_back({match.url, match.title, score, match.matched});
  }
  std::sort(answer.begin(), answer.end(), [](const Expected& a, const Expected& b) {
    return a.score != b.score ? a.score > b.score : a.url < b.url;
  });
  return answer;
}

std::string PercentEncode(const std::string& text) {
  std::string out;
  char hex[4];
  for (const unsigned char c : text) {
    if (isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// The text between <mark> and </mark> in an excerpt, each.
std::vector<std::string> MarkedTexts(const std::string& excerpt) {
  std::vector<std::string> marked;
  for (size_t at = excerpt.find("<mark>"); at != std::string::npos;
       at = excerpt.find("<mark>", at + 1)) {
    const size_t end = excerpt.find("</mark>", at);
    marked.push_back(excerpt.substr(at + 6, end - at - 6));
  }
  return marked;
}

std::string Unescape(std::string text) {
  for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
           {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}}) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at)) {
      text.replace(at, entity.size(), c);
      at += c.size();
    }
  }
  return text;
}

class WordSearchModel : public ::testing::TestWithParam<int> {};

TEST_P(WordSearchModel, AnswersAsThePlainModel) {
  std::mt19937 random(GetParam());
  DocumentMaker maker(random);
  TempTree tree;
  std::map<std::string, Document> documents;
  const char* const folders[] = {"", "a/", "a/b/", "c/"};
  for (int k = 0; k < 30; ++k) {
    Document document = maker.Make();
    const std::string url =
        std::string("/") + folders[random() % std::size(folders)] + "d" + std::to_string(k) + ".htm";
    tree.Write(url.substr(1), document.windows_1252 ? AsWindows1252(document.html)
                                                    : document.html);
    documents[url] = document;
  }

  for (int round = 0; round < 25; ++round) {
    // Words and phrases taken from the documents' own words, so that most
    // queries match something; sometimes a word is cut to its start.
    Query query;
    const Document& source = std::next(documents.begin(), random() % documents.size())->second;
    const std::vector<std::string> source_words = Words(source.text);
    const int units = 1 + static_cast<int>(random() % 3);
    for (int u = 0; u < units && !source_words.empty(); ++u) {
      const bool phrase = random() % 3 == 0;
      const size_t at = random() % source_words.size();
      Unit unit;
      std::string typed;
      const size_t length = phrase ? 2 : 1;
      for (size_t k = 0; k < length && at + k < source_words.size(); ++k) {
        unit.words.push_back(source_words[at + k]);
        if (k > 0) typed += ' ';
        typed += source_words[at + k];
      }
      if (!phrase && random() % 3 == 0 && FromUtf8(typed).size() > 3) {
        typed = ToUtf8(FromUtf8(typed).substr(0, 3));
        unit.words = {typed};
      }
      // Typed in upper case, with punctuation around.
      if (random() % 4 == 0) {
        for (char& c : typed) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      }
      query.text += (query.text.empty() ? "" : random() % 2 ? " " : ", ") +
                    (phrase ? "\"" + typed + "\"" : typed);
      unit.words = Words(typed);
      // A word or phrase asked for twice counts once.
      const bool repeated = std::any_of(query.units.begin(), query.units.end(),
                                        [&](const Unit& other) { return other.words == unit.words; });
      if (!unit.words.empty() && !repeated) query.units.push_back(unit);
    }
    if (query.units.empty()) continue;
    const std::vector<Expected> expected = ModelAnswer(documents, query);

    for (const int page : {1, 2}) {
      const std::string query_string =
          "q=" + PercentEncode(query.text) + "&format=json&page=" + std::to_string(page);
      const CapturedResponse response = RunCapturedGet(Extension(), query_string, tree.root());
      const Json answer = Json::parse(response.Body());
      SCOPED_TRACE("seed " + std::to_string(GetParam()) + ", query " + query.text);
      ASSERT_EQ(answer["total"].get<size_t>(), expected.size());
      ASSERT_EQ(answer["query"].get<std::string>(), query.text);
      const size_t first = static_cast<size_t>(page - 1) * 10;
      const Json& results = answer["results"];
      ASSERT_EQ(results.size(), std::min<size_t>(10, expected.size() > first ? expected.size() - first : 0));
      for (size_t k = 0; k < results.size(); ++k) {
        const Expected& want = expected[first + k];
        const Json& got = results[k];
        ASSERT_EQ(got["url"].get<std::string>(), want.url) << "rank " << first + k;
        EXPECT_NEAR(got["score"].get<double>(), want.score, 0.00006);
        EXPECT_EQ(got["title"].get<std::string>(), want.title);
        // The excerpts mark words the query matches, and only those.
        ASSERT_FALSE(got["excerpts"].empty()) << want.url;
        size_t marks = 0;
        for (const Json& excerpt : got["excerpts"]) {
          for (const std::string& marked : MarkedTexts(excerpt.get<std::string>())) {
            ++marks;
            for (const std::string& word : Words(Unescape(marked))) {
              EXPECT_NE(std::find(want.matched.begin(), want.matched.end(), word),
                        want.matched.end())
                  << "marked \"" << marked << "\" in " << want.url;
            }
          }
        }
        EXPECT_GT(marks, 0u) << want.url;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, WordSearchModel, ::testing::Values(1, 2, 3, 4));

}  // namespace
}  // namespace tavik::testing
