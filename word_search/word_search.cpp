#include "word_search/word_search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "corpus/cache_visit.h"
#include "corpus/tree_walk.h"
#include "platform/growing_array.h"
#include "platform/paths.h"
#include "platform/readable_file.h"
#include "word_search/answer.h"
#include "word_search/document_matcher.h"
#include "word_search/excerpts.h"
#include "word_search/ranking.h"
#include "word_search/search_query.h"

namespace tavik {
namespace {

// A document that matches, as the walk found it.
struct Match {
  size_t path_offset;  // in the search's path text
  size_t path_length;
  uint64_t words;
  uint32_t in_title;
  uint32_t counts[kMaxQueryWords];
  double score;
};

// What the answer shows of one result on the page.
struct ShownResult {
  ByteString url;
  ByteString title;
  Excerpts excerpts;
};

class WordSearch : public WalkVisitor {
 public:
  WordSearch(const WordSearchRequest& request, SummaryCache* cache)
      : request_(request), cache_(cache), walk_(*this, kDocumentPattern) {}

  void Run(PageSink* sink);

 private:
  CacheVisit* RootFound() override;
  void VisitEntry(const char* dir_path, const char* name) override;
  void VisitListed(const char* doc_path,
                   const ListedDocument& listed) override {
    Visit(doc_path, &listed);
  }
  bool Stopped() const override { return false; }
  // A whole, complete snapshot: the ranking of the same search kept under
  // it, if there is one, spares the walk.
  bool SnapshotFound(RootSnapshot& snapshot) override;

  // The key the ranking is kept under: the root's real path and the
  // query's words and phrases, as the search compares them.
  void RankingKey(const char* real_root, ByteString& key) const;
  // The ranking as bytes: how many, then each match's score and path.
  void WriteRanking(ByteString& bytes) const;
  bool ReadRanking(std::string_view bytes);

  void Visit(const char* doc_path, const ListedDocument* listed);
  // Reads the document open as `file` (with `summarize`, a summary too,
  // from the kept listing `listed` or none, if the budget allows) and
  // keeps it when it matches.
  void ReadAndMatch(const char* doc_path, ReadableFile& file, bool summarize,
                    const ListedDocument* listed);
  // The number of units the title (else the first heading) holds.
  uint32_t UnitsInTitle();
  void Rank();
  void Show(const Match& match, ShownResult& shown);
  std::string_view PathOf(const Match& match) const {
    return paths_.view().substr(match.path_offset, match.path_length);
  }

  const WordSearchRequest& request_;
  SummaryCache* cache_;
  SearchQuery query_;
  TreeWalk walk_;
  std::optional<CacheVisit> visit_;
  DocumentMatcher matcher_;
  GrowingArray<Match> matches_;
  ByteString paths_;
  // True when the ranking came from one kept.
  bool reused_ = false;
};

bool WordSearch::SnapshotFound(RootSnapshot& snapshot) {
  if (!snapshot.complete() || !visit_->Unchanged(snapshot)) {
    return false;
  }
  ByteString key;
  RankingKey(snapshot.real_root(), key);
  ByteString ranking;
  if (key.failed() ||
      !visit_->answers().Find(key.view(), snapshot.changes(), ranking) ||
      !ReadRanking(ranking.view())) {
    return false;
  }
  reused_ = true;
  return true;
}

void WordSearch::RankingKey(const char* real_root, ByteString& key) const {
  key.Append("words");
  key.Append('\0');
  key.Append(std::string_view(real_root));
  for (size_t u = 0; u < query_.unit_count(); ++u) {
    key.Append('\0');
    key.Append(query_.unit(u).stream);
  }
}

void WordSearch::WriteRanking(ByteString& bytes) const {
  const uint64_t count = matches_.size();
  bytes.Append(reinterpret_cast<const char*>(&count), sizeof count);
  for (const Match& match : matches_) {
    const uint32_t length = static_cast<uint32_t>(match.path_length);
    bytes.Append(reinterpret_cast<const char*>(&match.score), sizeof match.score);
    bytes.Append(reinterpret_cast<const char*>(&length), sizeof length);
    bytes.Append(PathOf(match));
  }
}

bool WordSearch::ReadRanking(std::string_view bytes) {
  uint64_t count;
  if (bytes.size() < sizeof count) return false;
  std::memcpy(&count, bytes.data(), sizeof count);
  size_t at = sizeof count;
  matches_.Clear();
  paths_.Clear();
  for (uint64_t k = 0; k < count; ++k) {
    Match match = {};
    uint32_t length;
    if (bytes.size() - at < sizeof match.score + sizeof length) return false;
    std::memcpy(&match.score, bytes.data() + at, sizeof match.score);
    std::memcpy(&length, bytes.data() + at + sizeof match.score, sizeof length);
    at += sizeof match.score + sizeof length;
    if (bytes.size() - at < length) return false;
    match.path_offset = paths_.size();
    match.path_length = length;
    paths_.Append(bytes.substr(at, length));
    at += length;
    matches_.Append(match);
  }
  return !matches_.failed() && !paths_.failed();
}

CacheVisit* WordSearch::RootFound() {
  if (cache_ == nullptr) return nullptr;
  TermSequences sequences;
  // Each word with the space before it: a phrase's words may stand apart
  // by more than one separator.
  for (size_t u = 0; u < query_.unit_count(); ++u) {
    ForEachUnitWord(query_.unit(u).stream, [&](std::string_view word) {
      sequences.Add(word.data(), word.size());
    });
  }
  visit_.emplace(*cache_, SummaryKind::kWords, sequences);
  return &*visit_;
}

void WordSearch::VisitEntry(const char* dir_path, const char* name) {
  char doc_path[kPathBufferSize];
  // A document whose full path does not fit is skipped.
  if (!JoinPath(dir_path, name, doc_path, sizeof doc_path)) return;
  Visit(doc_path, nullptr);
}

void WordSearch::Visit(const char* doc_path, const ListedDocument* listed) {
  bool summarize = false;
  // A regular file may have a summary that rules the query out; a link is
  // read as it always is.
  if (visit_ && (listed == nullptr || listed->kind == EntryKind::kFile)) {
    switch (visit_->Consult(doc_path, listed)) {
      case CacheVisit::Verdict::kAbsent:
        return;
      case CacheVisit::Verdict::kRead:
        break;
      case CacheVisit::Verdict::kReadAndSummarize:
        summarize = true;
        break;
    }
  }
  ReadableFile file;
  switch (OpenWalkedDocument(doc_path, walk_.real_root(), file)) {
    case WalkedFile::kNothing:
      return;
    case WalkedFile::kLink:
      summarize = false;
      break;
    case WalkedFile::kFile:
      break;
  }
  ReadAndMatch(doc_path, file, summarize, listed);
}

void WordSearch::ReadAndMatch(const char* doc_path, ReadableFile& file,
                              bool summarize, const ListedDocument* listed) {
  SummaryBuilder* summary =
      summarize ? visit_->BeginSummary(doc_path, file, listed) : nullptr;
  const bool read = matcher_.Read(file, summary);
  if (summary != nullptr) visit_->EndSummary(doc_path, file);
  if (visit_) visit_->Read(file);
  if (!read) return;

  Match match = {};
  const std::string_view stream = matcher_.stream();
  for (size_t u = 0; u < query_.unit_count(); ++u) {
    match.counts[u] =
        static_cast<uint32_t>(CountOccurrences(stream, query_.unit(u).stream));
    if (match.counts[u] == 0) return;
  }
  match.words = matcher_.word_count();
  match.in_title = UnitsInTitle();
  match.path_offset = paths_.size();
  match.path_length = std::strlen(doc_path);
  paths_.Append(std::string_view(doc_path, match.path_length));
  matches_.Append(match);
}

uint32_t WordSearch::UnitsInTitle() {
  const std::string_view title = matcher_.title_stream();
  if (title.empty()) return 0;
  uint32_t count = 0;
  for (size_t u = 0; u < query_.unit_count(); ++u) {
    if (CountOccurrences(title, query_.unit(u).stream) > 0) {
      ++count;
    }
  }
  return count;
}

void WordSearch::Rank() {
  uint64_t total_words = 0;
  for (const Match& match : matches_) total_words += match.words;
  const double mean_length =
      matches_.empty() ? 0
                       : static_cast<double>(total_words) /
                             static_cast<double>(matches_.size());
  for (Match& match : matches_) {
    match.score = ScoreDocument(match.counts, query_.unit_count(), match.words,
                                mean_length, match.in_title);
  }
  std::sort(matches_.begin(), matches_.end(),
            [this](const Match& a, const Match& b) {
              if (a.score != b.score) return a.score > b.score;
              return PathOf(a) < PathOf(b);
            });
}

void WordSearch::Show(const Match& match, ShownResult& shown) {
  const std::string_view path = PathOf(match);
  // The link: the prefix, then the path below the root with "/" between
  // its parts.
  const char* root = walk_.root_path();
  size_t skipped = root != nullptr ? std::strlen(root) : 0;
  if (skipped > path.size()) skipped = path.size();
  std::string_view below = path.substr(skipped);
  while (!below.empty() && (below[0] == '/' || below[0] == kPathSeparator)) {
    below.remove_prefix(1);
  }
  shown.url.Append(request_.link_prefix);
  shown.url.Append('/');
  for (const char c : below) shown.url.Append(c == kPathSeparator ? '/' : c);

  // The title and the excerpts come from the document as it is now.
  char doc_path[kPathBufferSize];
  std::memcpy(doc_path, path.data(), path.size());
  doc_path[path.size()] = '\0';
  ReadableFile file;
  GrowingArray<StreamWord> words;
  if (OpenWalkedDocument(doc_path, walk_.real_root(), file) !=
          WalkedFile::kNothing &&
      matcher_.ReadText(file, &words)) {
    shown.title.Append(ShownTitle(matcher_.document()));
    MakeExcerpts(matcher_.document(), matcher_.text_stream(), words, query_,
                 shown.excerpts);
  }
  if (shown.title.empty()) {
    // The file's own name.
    shown.title.Clear();
    const size_t slash = below.find_last_of("/\\");
    shown.title.Append(slash == std::string_view::npos ? below
                                                       : below.substr(slash + 1));
  }
}

void WordSearch::Run(PageSink* sink) {
  query_.Parse(request_.query);
  Answer answer;
  answer.query = &query_;
  answer.searched = query_.unit_count() > 0;
  answer.page = request_.page;
  ShownResult shown[kResultsPerPage];
  AnswerResult results[kResultsPerPage];
  if (answer.searched && request_.root != nullptr) {
    walk_.Walk(nullptr, request_.root);
    if (!reused_) {
      Rank();
      // Made of a whole, complete snapshot that still stands: kept for
      // the same search until anything changes.
      RootSnapshot* snapshot = walk_.complete_snapshot();
      if (snapshot != nullptr && visit_ && visit_->Unchanged(*snapshot)) {
        ByteString key;
        ByteString ranking;
        RankingKey(snapshot->real_root(), key);
        WriteRanking(ranking);
        if (!key.failed() && !ranking.failed()) {
          visit_->answers().Keep(key.view(), snapshot->changes(), ranking.view());
        }
      }
    }
    visit_.reset();
    answer.total = matches_.size();
    const size_t first = static_cast<size_t>(request_.page - 1) * kResultsPerPage;
    for (size_t k = first; k < matches_.size() && answer.count < kResultsPerPage;
         ++k) {
      ShownResult& result = shown[answer.count];
      Show(matches_[k], result);
      results[answer.count] = {result.url.view(), result.title.view(),
                               matches_[k].score, &result.excerpts};
      ++answer.count;
    }
    answer.results = results;
  }
  ByteString body;
  if (request_.json) {
    WriteJsonAnswer(answer, body);
  } else {
    WriteHtmlAnswer(answer, body);
  }
  sink->SendHead("200 OK", request_.json ? kJsonAnswerHead : kHtmlAnswerHead);
  if (!body.failed()) sink->Write(body.data(), body.size());
}

}  // namespace

void RunWordSearch(const WordSearchRequest& request, SummaryCache* cache,
                   PageSink* sink) {
  WordSearch search(request, cache);
  search.Run(sink);
}

}  // namespace tavik
