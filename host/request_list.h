// A list of requests to run through an extension, one per line, so the same
// list can be run by hosts on different systems and their answers compared.
//
// Each line is NAME, a TAB, the extra path, a TAB and the posted data of a
// POST, or "?" and the query string of a GET without a body. The two texts
// may hold \\ \t \r \n and \xHH (two hexadecimal digits) for bytes a line
// cannot; blank lines and lines starting with "#" are skipped.
#ifndef TAVIK_HOST_REQUEST_LIST_H_
#define TAVIK_HOST_REQUEST_LIST_H_

#include <string>
#include <string_view>
#include <vector>

namespace tavik {

struct ListedRequest {
  std::string name;
  std::string path_info;
  bool is_get = false;
  std::string posted;        // for a POST
  std::string query_string;  // for a GET
};

// Parses `text`. Returns false, with the line number and reason in `error`,
// on a line without both TABs or with a bad escape.
bool ParseRequestList(std::string_view text, std::vector<ListedRequest>* out,
                      std::string* error);

}  // namespace tavik

#endif  // TAVIK_HOST_REQUEST_LIST_H_
