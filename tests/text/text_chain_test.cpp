// The text chain, stage by stage: what a document's text is, how a code
// point folds, and the word stream, whose fast path is held to its plain
// one.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/html_text.h"
#include "text/text_encoding.h"
#include "text/unicode_folding.h"
#include "text/word_stream.h"

namespace tavik {
namespace {

struct TextCase {
  const char* name;
  std::string html;
  std::string text;  // "\n" where a tag separates
  std::string title = "";
  std::string heading = "";
};

class DocumentText_ : public ::testing::TestWithParam<TextCase> {};

TEST_P(DocumentText_, IsWhatAVisitorReads) {
  const TextCase& c = GetParam();
  DocumentText document;
  ASSERT_TRUE(ExtractDocumentText(c.html, document));
  const std::string_view text = document.text.view();
  EXPECT_EQ(text, c.text);
  EXPECT_EQ(text.substr(document.title.begin,
                        document.title.end - document.title.begin),
            c.title);
  EXPECT_EQ(text.substr(document.heading.begin,
                        document.heading.end - document.heading.begin),
            c.heading);
}

INSTANTIATE_TEST_SUITE_P(
    Html, DocumentText_,
    ::testing::Values(
        TextCase{"BlocksSeparateInlineJoins", "<p>a</p><p>quo<b>kka</b></p>",
                 "a\nquokka\n"},
        TextCase{"CommentsJoinAndVanish",
                 "x<!-- secret -->y<!---->z<!-->w<!--->v<!-- a --!>u", "xyzwvu"},
        TextCase{"UnclosedCommentEndsTheDocument", "a<!-- b", "a"},
        TextCase{"ScriptAndStyleAreNoText",
                 "a<script>if (a<b) alert('</p>')</script>b<STYLE>p{}</style >c",
                 "a\nb\nc"},
        TextCase{"ScriptLeftOpen", "a<script>alert(1)", "a\n"},
        TextCase{"TitleIsTextAndTitle",
                 "<title>Search &amp; <b>find</b></title><h1>Head <i>one</i></h1>"
                 "<h1>two</h1>",
                 "Search & <b>find</b>\nHead one\ntwo\n",
                 "Search & <b>find</b>", "Head one"},
        TextCase{"DeclarationsAndInstructionsVanish",
                 "<!DOCTYPE html><?xml x?>a</>b</ x>c", "abc"},
        TextCase{"LessThanThatStartsNoTag", "a < b <3 c<", "a < b <3 c<"},
        TextCase{"QuotedAttributesMayHoldGreaterThan",
                 "<a title=\"x>y\" href='>'>link</a> <img alt=a>b>c",
                 "link \nb>c"},
        TextCase{"TagLeftOpenEndsTheDocument", "a<p class=\"b", "a\n"},
        TextCase{"NamedReferences",
                 "&eacute;&Eacute &amp &notit; &notin; &NotEqualTilde; &zzq; & x",
                 "\xC3\xA9\xC3\x89 & \xC2\xACit; \xE2\x88\x89 "
                 "\xE2\x89\x82\xCC\xB8 &zzq; & x"},
        TextCase{"NumericReferences",
                 "&#233;&#xE9;&#XE9&#150;&#0;&#xD800;&#1114112;&#x;&#",
                 "\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x80\x93\xEF\xBF\xBD\xEF\xBF\xBD"
                 "\xEF\xBF\xBD&#x;&#"},
        TextCase{"Windows1252WhereNotUtf8", "caf\xE9 \x93q\x94 \x81",
                 "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xC2\x81"},
        TextCase{"Utf8AsItIsWithoutItsMark", "\xEF\xBB\xBF" "caf\xC3\xA9",
                 "caf\xC3\xA9"},
        TextCase{"NulBytesAreDropped", std::string("a\0b<p\0>c", 8), "ab\nc"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FoldCase {
  const char* name;
  std::string text;
  std::string stream;
  size_t words;
};

class WordStream_ : public ::testing::TestWithParam<FoldCase> {};

TEST_P(WordStream_, FoldsCaseAccentsAndCompatibilityForms) {
  const FoldCase& c = GetParam();
  WordStream stream;
  ASSERT_TRUE(stream.Build(c.text));
  EXPECT_EQ(stream.stream(), c.stream);
  EXPECT_EQ(stream.word_count(), c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Folding, WordStream_,
    ::testing::Values(
        FoldCase{"AsciiCaseAndSeparators", "Quokkas, on Rottnest-Island!",
                 " quokkas  on rottnest island ", 4},
        FoldCase{"AccentsGo", "Caf\xC3\xA9 CAF\xC3\x89 cafe\xCC\x81 na\xC3\xAFve",
                 " cafe cafe cafe naive", 4},
        FoldCase{"FullCaseFolding", "STRASSE stra\xC3\x9F" "e \xE1\xBA\x9E",
                 " strasse strasse ss", 3},
        FoldCase{"CompatibilityForms",
                 "\xEF\xAC\x81le \xEF\xBC\xA1\xEF\xBC\xA2 \xE2\x91\xA0 \xE2\x84\xA6",
                 " file ab 1 \xCF\x89", 4},
        FoldCase{"FractionsSplitIntoWords", "\xC2\xBD", " 1 2", 2},
        FoldCase{"OtherScriptsStay",
                 "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 \xED\x95\x9C",
                 " \xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0 \xED\x95\x9C", 2},
        FoldCase{"PunctuationAndSymbolsSeparate", "a_b\xE2\x80\x94" "c\xC2\xA0" "d",
                 " a b c d", 4}),
    [](const auto& info) { return std::string(info.param.name); });

// Every code point folds to code points that fold to themselves, never
// more than the most, and the ASCII table says what the general one does.
TEST(UnicodeFolding, IsStableAndTheAsciiTableAgrees) {
  for (char32_t point = 0; point <= 0x10FFFF; ++point) {
    const CodePointFolding folding = CodePointFolding::Of(point);
    if (folding.is_itself()) {
      if (point < 0x80) {
        EXPECT_EQ(FoldAsciiByte(static_cast<unsigned char>(point)),
                  folding.is_word() ? point : 0u)
            << static_cast<uint32_t>(point);
      }
      continue;
    }
    ASSERT_LE(folding.count(), kMaxFoldedLength) << static_cast<uint32_t>(point);
    for (size_t k = 0; k < folding.count(); ++k) {
      ASSERT_TRUE(CodePointFolding::Of(folding.points()[k]).is_itself())
          << static_cast<uint32_t>(point);
    }
    if (point < 0x80) {
      ASSERT_EQ(folding.count(), 1u) << static_cast<uint32_t>(point);
      EXPECT_EQ(FoldAsciiByte(static_cast<unsigned char>(point)),
                folding.points()[0])
          << static_cast<uint32_t>(point);
    }
  }
}

// The fast paths (ASCII sixteen bytes or a run at a time) give the plain
// path's stream, count and words, over random text of ASCII runs and
// other characters.
TEST(WordStreamPaths, FastAndPlainAgree) {
  const char* const pieces[] = {"a", "Z", "9", " ", "-", "_", "\n",
                                "\xC3\xA9", "\xC3\x9F", "\xEF\xAC\x81",
                                "\xCC\x81", "\xE2\x80\x94", "\xC2\xBD",
                                "\xF0\x9F\x98\x80", "\xED\x95\x9C"};
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 80);
    for (int k = 0; k < length; ++k) {
      // Mostly ASCII, in runs long enough for the sixteen-byte path.
      const size_t piece = random() % 4 != 0 ? random() % 7
                                             : random() % std::size(pieces);
      text += pieces[piece];
    }
    WordStream fast;
    WordStream plain;
    GrowingArray<StreamWord> words;
    ASSERT_TRUE(fast.Build(text));
    ASSERT_TRUE(plain.BuildPlainly(text, &words));
    ASSERT_EQ(fast.stream(), plain.stream()) << text;
    ASSERT_EQ(fast.word_count(), plain.word_count()) << text;
    ASSERT_EQ(words.size(), plain.word_count()) << text;
    for (const StreamWord& word : words) {
      ASSERT_EQ(plain.stream()[word.stream_begin - 1], ' ') << text;
      ASSERT_LT(word.text_begin, word.text_end) << text;
    }
    WordStream fast_with_words;
    GrowingArray<StreamWord> fast_words;
    ASSERT_TRUE(fast_with_words.Build(text, &fast_words));
    ASSERT_EQ(fast_with_words.stream(), plain.stream()) << text;
    ASSERT_EQ(fast_words.size(), words.size()) << text;
    for (size_t k = 0; k < words.size(); ++k) {
      ASSERT_EQ(fast_words[k].stream_begin, words[k].stream_begin) << text;
      ASSERT_EQ(fast_words[k].text_begin, words[k].text_begin) << text;
      ASSERT_EQ(fast_words[k].text_end, words[k].text_end) << text;
    }
  }
}

TEST(TextEncoding, Utf8ValidityAndCutting) {
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\x80", "\xE2\x82"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
  EXPECT_EQ(Utf8PrefixLength("ab\xC3\xA9", 3), 2u);
  EXPECT_EQ(Utf8PrefixLength("ab\xC3\xA9", 4), 4u);
}

}  // namespace
}  // namespace tavik
