#include "bench/summary_sizes.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "corpus/document_summary.h"
#include "platform/readable_file.h"
#include "request/block_scanner.h"
#include "request/term_finder.h"
#include "word_search/document_matcher.h"

namespace tavik::bench {
namespace {

struct SizeClass {
  size_t bytes;
  int documents;
};
constexpr SizeClass kClasses[] = {
    {10 * 1000, 40}, {100 * 1000, 20}, {1000 * 1000, 8}, {10 * 1000 * 1000, 3}};
constexpr int kTermsPerDocument = 2000;
constexpr size_t kTermLength = 5;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

struct Summary {
  std::vector<uint64_t> words;
  size_t bits = 0;
};

Summary LineSummary(const std::string& path) {
  ReadableFile file;
  Summary summary;
  if (!file.Open(path.c_str())) return summary;
  BlockScanner scanner;
  SummaryBuilder builder;
  const TermFinder never("\x01\x02\x03\x04", true);
  builder.Start(std::filesystem::file_size(path));
  scanner.CountHits(file, never, 1, &builder);
  if (!builder.finished()) return summary;
  summary.bits = builder.summary_bits();
  summary.words.resize(summary.bits / 64);
  builder.Write(summary.words.data());
  return summary;
}

Summary WordSummary(const std::string& path, std::string* stream) {
  ReadableFile file;
  Summary summary;
  if (!file.Open(path.c_str())) return summary;
  DocumentMatcher matcher;
  SummaryBuilder builder;
  builder.Start(std::filesystem::file_size(path));
  if (!matcher.Read(file, &builder) || !builder.finished()) return summary;
  *stream = std::string(matcher.stream());
  summary.bits = builder.summary_bits();
  summary.words.resize(summary.bits / 64);
  builder.Write(summary.words.data());
  return summary;
}

}  // namespace

void MeasureSummarySizes(const std::vector<std::string>& sources) {
  std::printf(
      "\nSummaries by document size: documents made of the real tree's HTML "
      "joined to each size; %d random terms of %zu letters a document, of "
      "those the document does not hold, the share its summary did not rule "
      "out (false positives), and the summary's bytes per MB of document.\n",
      kTermsPerDocument, kTermLength);
  char folder[] = "/tmp/tavik-sizes-XXXXXX";
  if (mkdtemp(folder) == nullptr || sources.empty()) return;
  std::string source_text;
  for (const std::string& path : sources) {
    std::ifstream in(path, std::ios::binary);
    source_text.append(std::istreambuf_iterator<char>(in), {});
    if (source_text.size() > 40 * 1000 * 1000) break;
  }
  std::mt19937 random(5);
  size_t offset = 0;
  std::printf("  %-10s %9s %14s %14s %14s %14s\n", "size", "documents",
              "lines FP", "lines B/MB", "words FP", "words B/MB");
  for (const SizeClass& size_class : kClasses) {
    uint64_t line_absent = 0, line_wrong = 0, word_absent = 0, word_wrong = 0;
    double line_bytes = 0, word_bytes = 0;
    for (int index = 0; index < size_class.documents; ++index) {
      std::string text;
      while (text.size() < size_class.bytes) {
        if (offset >= source_text.size()) offset = 0;
        text += source_text.substr(offset, size_class.bytes - text.size());
        offset += size_class.bytes;
      }
      const std::string path = std::string(folder) + "/d.htm";
      std::ofstream(path, std::ios::binary) << text;
      const Summary lines = LineSummary(path);
      std::string stream;
      const Summary words = WordSummary(path, &stream);
      const std::string upper = Upper(text);
      line_bytes += static_cast<double>(lines.bits) / 8;
      word_bytes += static_cast<double>(words.bits) / 8;
      for (int k = 0; k < kTermsPerDocument; ++k) {
        std::string term(kTermLength, 'A');
        for (char& c : term) c = static_cast<char>('A' + random() % 26);
        if (lines.bits > 0 && upper.find(term) == std::string::npos) {
          ++line_absent;
          line_wrong += TermSequences(term.data(), term.size())
                            .MayOccurIn(lines.words.data(), lines.bits);
        }
        std::string word = " " + term;
        for (char& c : word) c = static_cast<char>(c == ' ' ? c : c + 32);
        if (words.bits > 0 && stream.find(word) == std::string::npos) {
          ++word_absent;
          word_wrong += TermSequences(word.data(), word.size())
                            .MayOccurIn(words.words.data(), words.bits);
        }
      }
    }
    const double megabytes =
        static_cast<double>(size_class.bytes) * size_class.documents / 1e6;
    std::printf("  %-10s %9d %13.3f%% %14.0f %13.3f%% %14.0f\n",
                size_class.bytes >= 1000000
                    ? (std::to_string(size_class.bytes / 1000000) + " MB").c_str()
                    : (std::to_string(size_class.bytes / 1000) + " KB").c_str(),
                size_class.documents,
                line_absent == 0 ? 0.0 : 100.0 * line_wrong / line_absent,
                line_bytes / megabytes,
                word_absent == 0 ? 0.0 : 100.0 * word_wrong / word_absent,
                word_bytes / megabytes);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace tavik::bench
