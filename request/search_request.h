// SearchRequest: the whole state of one search, from the decoded term to the
// written page. HttpExtensionProc creates one per request and destroys it
// before it returns; a record belongs to one request on one thread and is
// never shared, so it takes no lock.
//
// Its course: Create (reset, decode the form value, send the status and the
// head text), SetRoot, SearchDirectory (fills the hit table, stopping at the
// hit cap), SendResults (writes the body, gives back the link buffers), then
// destruction.
#ifndef TAVIK_REQUEST_SEARCH_REQUEST_H_
#define TAVIK_REQUEST_SEARCH_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "interface/server_interface.h"
#include "request/block_scanner.h"
#include "request/term_finder.h"

namespace tavik {

// The hit cap and the number of rows in the hit table.
inline constexpr int MAX_HITS = 256;

inline constexpr size_t kTermSize = 1024;
inline constexpr size_t kOutSize = 4096;
inline constexpr size_t kLinkSize = 256;
inline constexpr size_t kJoinSize = 1024;
inline constexpr size_t kBodySize = 4096;
// The posted data is taken as text of at most this many characters.
inline constexpr size_t kMaxPostedLength = 1023;

inline constexpr char kDocumentPattern[] = "*.htm";
inline constexpr char kEveryEntryPattern[] = "*.*";

// One document with at least one matching line.
struct HitFile {
  // Its link, owned by the row: a kLinkSize work buffer, given back by
  // SendResults.
  char* lpszUrl;
  // Its matching lines; at least 1 in a row in use.
  int16_t nHits;
};

class SearchRequest {
 public:
  // Creates the record for the form value `lpszFormValue` (the text after
  // the first "=" of the posted data, modifiable, NUL-terminated) and sends
  // the status and the head text through `pECB`. Returns nullptr when the
  // record or its joining buffer cannot be obtained; nothing is sent then.
  static std::unique_ptr<SearchRequest> Create(char* lpszFormValue,
                                               EXTENSION_CONTROL_BLOCK* pECB);
  // Gives back any link buffer that SendResults has not.
  ~SearchRequest();
  SearchRequest(const SearchRequest&) = delete;
  SearchRequest& operator=(const SearchRequest&) = delete;

  // Sets the search root, the extra path as the request gave it. The string
  // is not owned and must outlive the search.
  void SetRoot(const char* root) { lpszRoot = root; }

  // Searches the directory `lpszName` inside the directory whose full path
  // is `lpszParentPath` (for the root: nullptr, and the root itself as the
  // name), depth first: the documents that match `lpszPattern` first, then
  // every sub-directory. Stops as soon as the hit cap is reached. Folders
  // and documents that cannot be read are skipped without a word.
  void SearchDirectory(const char* lpszParentPath, const char* lpszName,
                       const char* lpszPattern);

  // Counts the lines of document `lpszName` in directory `lpszDirPath` that
  // contain the term, and records the document in the hit table when there
  // is at least one. Anything but a readable regular file is skipped.
  void ScanFile(const char* lpszDirPath, const char* lpszName);

  // Writes the body of the page: the overflow message, the no-hits message,
  // or the ranked list with its total. Gives back every link buffer.
  void SendResults();

  // Replaces every backslash in `lpszPath` with a forward slash, in place,
  // and returns `lpszPath`.
  static char* ToUrlPath(char* lpszPath);

  // Decodes the form-encoded NUL-terminated `lpszText` in place: "%" and two
  // hexadecimal digits become the byte they give, a "%" without them is
  // dropped, every other byte stays.
  static void DecodeQuery(char* lpszText);

  // The byte given by the two hexadecimal digits at `lpszDigits`.
  // REQUIRES: both are one of 0-9, a-f, A-F.
  static char HexToChar(const char* lpszDigits);

  // What the record holds, for the tests of its invariants.
  const char* Term() const { return szTerm; }
  int16_t TotalHits() const { return nTotalHits; }
  int16_t LastHit() const { return nLastHit; }
  bool AnyHit() const { return fAnyHit != 0; }
  bool TooMany() const { return fTooMany != 0; }
  // REQUIRES: 0 <= index <= LastHit(), before SendResults.
  const HitFile& Hit(int index) const { return rgHits[index]; }

 private:
  SearchRequest() = default;

  // Formats the head text with the search string and sends it with the
  // status.
  void SendHead(const char* lpszSearchString);
  // Makes the row for the document at full path `lpszDocPath` and returns
  // it, or nullptr when its link buffer cannot be obtained.
  HitFile* AddRow(const char* lpszDocPath);
  void SortHits();
  void SwapHits(int16_t first, int16_t second);
  void WriteText(const char* text, size_t length);
  void ReleaseLinks();

  char szTerm[kTermSize];
  char szOut[kOutSize];
  const char* lpszRoot = nullptr;
  int16_t nTotalHits = 0;
  BOOL fAnyHit = 0;
  BOOL fTooMany = 0;
  EXTENSION_CONTROL_BLOCK* pECB = nullptr;
  HitFile rgHits[MAX_HITS];
  char* lpszSwapUrl;
  int16_t nSwapHits;
  int16_t nLastHit = -1;

  // The term's finder and the block scanner with its buffer, made by the
  // request's first ScanFile and kept for the rest of its documents.
  std::optional<TermFinder> finder_;
  std::optional<BlockScanner> scanner_;
};

// Copies the posted bytes of `pECB` into `body` (kBodySize bytes) as text:
// up to the first NUL or the end of the bytes the server supplied, at most
// kMaxPostedLength of them, followed by a NUL.
void CopyPostedText(const EXTENSION_CONTROL_BLOCK* pECB, char* body);

// Splits the form value `lpszValue` at "+" characters, joins the pieces with
// single spaces into `joined` (kJoinSize bytes, NUL-terminated) and removes
// one line end (CR LF or LF) that ends the value. The value itself is not
// changed. REQUIRES: strlen(lpszValue) < kJoinSize - 1.
void JoinFormValue(const char* lpszValue, char* joined);

}  // namespace tavik

#endif  // TAVIK_REQUEST_SEARCH_REQUEST_H_
