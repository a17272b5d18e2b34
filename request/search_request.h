// SearchRequest: the whole state of one search, from the decoded term to the
// written page. HttpExtensionProc creates one per request and destroys it
// before it returns; a record belongs to one request on one thread and is
// never shared, so it takes no lock.
//
// Its course: Create (reset, decode the form value, send the status and the
// head text through the request's PageSink), SetRoot, SetCache (optional),
// SearchDirectory (fills the hit table, stopping at the hit cap),
// SendResults (writes the body, gives back the link buffers), then
// destruction.
//
// With a summary cache the page is the same, byte for byte, as without one
// for every change to the tree that completed before the search began (see
// SummaryCache); only fewer documents are read.
#ifndef TAVIK_REQUEST_SEARCH_REQUEST_H_
#define TAVIK_REQUEST_SEARCH_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "corpus/cache_visit.h"
#include "corpus/summary_cache.h"
#include "corpus/tree_walk.h"
#include "platform/paths.h"
#include "request/block_scanner.h"
#include "platform/page_sink.h"
#include "request/term_finder.h"

namespace tavik {

// The hit cap and the number of rows in the hit table.
inline constexpr int MAX_HITS = 256;

inline constexpr size_t kTermSize = 1024;
inline constexpr size_t kOutSize = 4096;
inline constexpr size_t kLinkSize = 256;
inline constexpr size_t kJoinSize = 1024;


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
  // the status and the head text to `sink`, which the record keeps for the
  // rest of the page and which must outlive it. Returns nullptr when the
  // record or its joining buffer cannot be obtained; nothing is sent then.
  static std::unique_ptr<SearchRequest> Create(char* lpszFormValue,
                                               PageSink* sink);
  // Gives back any link buffer that SendResults has not.
  ~SearchRequest();
  SearchRequest(const SearchRequest&) = delete;
  SearchRequest& operator=(const SearchRequest&) = delete;

  // Sets the search root, the extra path as the request gave it. The string
  // is not owned and must outlive the search.
  void SetRoot(const char* root) { lpszRoot = root; }

  // Has the search use `cache`, shared with other requests, which must
  // outlive the record; nullptr (the default) searches without one.
  // REQUIRES: before SearchDirectory.
  void SetCache(SummaryCache* cache) { cache_ = cache; }

  // Searches the directory `lpszName` inside the directory whose full path
  // is `lpszParentPath` (for the root: nullptr, and the root itself as the
  // name), depth first: the documents that match `lpszPattern` first, then
  // every sub-directory. Stops as soon as the hit cap is reached. Folders
  // and documents that cannot be read are skipped without a word.
  void SearchDirectory(const char* lpszParentPath, const char* lpszName,
                       const char* lpszPattern);

  // Counts the lines of document `lpszName` in directory `lpszDirPath` that
  // contain the term, and records the document in the hit table when there
  // is at least one. Anything but a readable regular file is skipped, and so
  // is a link that leads outside the search root (or any link, when no walk
  // has found the root).
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

  // What the walk hands the record, as SearchDirectory runs it.
  class Walker : public WalkVisitor {
   public:
    explicit Walker(SearchRequest& request) : request_(request) {}
    CacheVisit* RootFound() override;
    void VisitEntry(const char* dir_path, const char* name) override {
      request_.ScanFile(dir_path, name);
    }
    void VisitListed(const char* doc_path,
                     const ListedDocument& listed) override {
      request_.ScanDocument(doc_path, &listed);
    }
    bool Stopped() const override { return request_.fTooMany != 0; }

   private:
    SearchRequest& request_;
  };

  // Formats the head text with the search string and sends it with the
  // status.
  void SendHead(const char* search_string);
  // The finder for szTerm, built at its first use and kept for the rest of
  // the walk.
  const TermFinder& Finder();
  // Makes the cache visit when the search has a cache and a term that can
  // match, and returns it (nullptr: none).
  CacheVisit* StartCacheVisit();
  // ScanFile for the document at full path `doc_path` (from a kept listing
  // with `listed`, else nullptr).
  void ScanDocument(const char* doc_path, const ListedDocument* listed);
  // The pieces of the document at full path `doc_path` that contain the
  // term, counted up to `limit` at most; 0 when it is not a readable regular
  // file, when it is a link that leads outside the search root, when no
  // piece of any document can contain the term, or when its summary rules
  // the term out. Reads only this document and changes no count of the
  // record: every decision about one document's hits is made here.
  size_t CountDocumentHits(const char* doc_path, size_t limit,
                           const ListedDocument* listed);
  // Opens and counts the document at `doc_path` (a link only where it leads
  // below the root). With `summarize`, has the cache visit summarise it
  // too (from the kept listing `listed`, or nullptr), if its budget
  // allows.
  size_t ReadDocument(const char* doc_path, size_t limit, bool summarize,
                      const ListedDocument* listed);
  // Makes the row for the document at full path `doc_path` and returns it,
  // or nullptr when its link buffer cannot be obtained.
  HitFile* AddRow(const char* doc_path);
  void SortHits();
  void SwapHits(int16_t first, int16_t second);
  void WriteText(const char* text, size_t length);
  void ReleaseLinks();

  char szTerm[kTermSize];
  char szOut[kOutSize];
  const char* lpszRoot = nullptr;
  int16_t nTotalHits = 0;
  int32_t fAnyHit = 0;
  int32_t fTooMany = 0;
  HitFile rgHits[MAX_HITS];
  char* lpszSwapUrl;
  int16_t nSwapHits;
  int16_t nLastHit = -1;

  // Where the page goes; not owned.
  PageSink* sink_ = nullptr;
  // The walk, while SearchDirectory runs it: it knows the root's real
  // path, below which a document reached through a link must lie.
  const TreeWalk* walk_ = nullptr;
  // The term's finder (see Finder) and the block scanner with its buffer,
  // made at their first use and kept for the rest of the walk.
  std::optional<TermFinder> finder_;
  std::optional<BlockScanner> scanner_;
  // The summary cache, not owned (nullptr: none), and this request's use of
  // it, made when the walk starts.
  SummaryCache* cache_ = nullptr;
  std::optional<CacheVisit> visit_;
};

// Splits the form value `value` at "+" characters, joins the pieces with
// single spaces into `joined` (kJoinSize bytes, NUL-terminated) and removes
// one line end (CR LF or LF) that ends the value. The value itself is not
// changed. REQUIRES: strlen(value) < kJoinSize - 1.
void JoinFormValue(const char* value, char* joined);

}  // namespace tavik

#endif  // TAVIK_REQUEST_SEARCH_REQUEST_H_
