#include "testing/extension_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "host/form_encoding.h"

namespace tavik::testing {

const ExtensionLibrary& Extension() {
  static const std::unique_ptr<ExtensionLibrary> library = [] {
    std::string error;
    auto loaded = ExtensionLibrary::Load(TAVIK_LIBRARY_PATH, &error);
    if (!loaded) {
      ADD_FAILURE() << error;
      std::abort();
    }
    return loaded;
  }();
  return *library;
}

CapturedResponse Post(const std::string& posted, const std::string& root) {
  return RunCapturedRequest(Extension(), posted, root);
}

std::string SearchBody(const std::string& root, const std::string& term) {
  return Post("q=" + FormEncode(term), root).Body();
}

std::string HeadText(const std::string& shown) {
  return "Content-Type: text/html\r\n\r\n"
         "<head><title>Search Results</title></head>\n\n\r"
         "<body><H1><p align=center>Full Text Search</H1><p>"
         "<p align=center>Search string - " +
         shown +
         "<p><A HREF=http:content.htm>Return to Content.HTM</A><p><hr>";
}

std::string ListLine(const std::string& link, int hits) {
  return "<a href=" + link + ">" + link + "</a> - " + std::to_string(hits) +
         " hit(s)<p>\n\r";
}

std::string SummaryLine(int total_hits) {
  return "<p><p><p><b>" + std::to_string(total_hits) + " hit(s) found.</b><p>";
}

}  // namespace tavik::testing
