#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "request/search_request.h"

namespace tavik {
namespace {

// Joins and decodes the form value `value` as creation does.
std::string SearchString(std::string value) {
  char joined[kJoinSize];
  std::memset(joined, 'Z', sizeof joined);
  JoinFormValue(value.c_str(), joined);
  SearchRequest::DecodeQuery(joined);
  return joined;
}

struct DecodingCase {
  std::string value;
  std::string expected;
};

class Decoding : public ::testing::TestWithParam<DecodingCase> {};

TEST_P(Decoding, GivesTheSearchString) {
  EXPECT_EQ(SearchString(GetParam().value), GetParam().expected)
      << "form value: " << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    WithLineEnd, Decoding,
    ::testing::Values(DecodingCase{"full+text\r\n", "full text"},
                      DecodingCase{"a+++b\r\n", "a b"},
                      DecodingCase{"+a\r\n", "a"},
                      DecodingCase{"a+\r\n", "a "},
                      DecodingCase{"caf%E9\r\n", "caf\xe9"},
                      DecodingCase{"%41%42\r\n", "AB"},
                      DecodingCase{"%4g\r\n", "4g"},
                      DecodingCase{"%%41\r\n", "A"},
                      DecodingCase{"abc%\r\n", "abc"},
                      DecodingCase{"1%2B1\r\n", "1+1"},
                      DecodingCase{"a%20b\r\n", "a b"},
                      DecodingCase{"a%00b\r\n", "a"},
                      DecodingCase{"b&c=d\r\n", "b&c=d"},
                      DecodingCase{"\r\n", ""},
                      DecodingCase{"abc\n", "abc"},
                      DecodingCase{"a%0D%0A\r\n", "a\r\n"},
                      DecodingCase{"%C3%A9%ff\r\n", "\xc3\xa9\xff"}));

// What browsers and curl send: no line end after the value.
INSTANTIATE_TEST_SUITE_P(
    WithoutLineEnd, Decoding,
    ::testing::Values(DecodingCase{"abc", "abc"}, DecodingCase{"ab+c", "ab c"},
                      DecodingCase{"abc%41", "abcA"}, DecodingCase{"a", "a"},
                      DecodingCase{"", ""}, DecodingCase{"+", ""},
                      DecodingCase{"+++", ""}, DecodingCase{"%", ""},
                      DecodingCase{"x%4", "x4"}, DecodingCase{"abc\r", "abc\r"},
                      DecodingCase{"a\r\nb", "a\r\nb"}));

TEST(Decoding, LongestValueFitsTheJoiningBuffer) {
  const std::string value = "+" + std::string(1020, 'a') + "+";  // 1,022
  EXPECT_EQ(SearchString(value), std::string(1020, 'a'));
  std::string pieces;
  for (int i = 0; i < 511; ++i) pieces += "a+";  // 1,022: 511 pieces
  std::string expected;
  for (int i = 0; i < 511; ++i) expected += "a ";
  expected.pop_back();
  EXPECT_EQ(SearchString(pieces), expected);
}

TEST(Decoding, HexToCharTakesEitherCase) {
  EXPECT_EQ(SearchRequest::HexToChar("4a"), 'J');
  EXPECT_EQ(SearchRequest::HexToChar("4A"), 'J');
  EXPECT_EQ(SearchRequest::HexToChar("fF"), '\xff');
  EXPECT_EQ(SearchRequest::HexToChar("00"), '\0');
}

}  // namespace
}  // namespace tavik
