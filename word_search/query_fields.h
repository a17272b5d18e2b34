// The fields of a search's URL query string ("q=quokka+island&page=2"):
// split at "&", each name and value form-decoded ("+" is a space, "%" and
// two hexadecimal digits the byte they give; any other "%" stands for
// itself). The first field of each name counts; unknown fields are left
// alone.
#ifndef TAVIK_WORD_SEARCH_QUERY_FIELDS_H_
#define TAVIK_WORD_SEARCH_QUERY_FIELDS_H_

#include <optional>
#include <string_view>

#include "platform/growing_array.h"

namespace tavik {

struct QueryFields {
  // The decoded value of "q"; absent when the string has no such field.
  bool has_q = false;
  ByteString q;
  // The page asked for: "page" as a whole number from 1 up; 1 when it is
  // missing, not a number, zero, negative or absurdly large (over
  // kMaxPageNumber).
  long page = 1;
  // True when "format" is "json".
  bool json = false;
};

inline constexpr long kMaxPageNumber = 1000000;

// Reads the fields of the query string `query` (without its "?").
void ReadQueryFields(std::string_view query, QueryFields& fields);

// True when the query string `query` has a field named "q".
bool HasSearchField(std::string_view query);

}  // namespace tavik

#endif  // TAVIK_WORD_SEARCH_QUERY_FIELDS_H_
