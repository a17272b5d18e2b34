#include "corpus/summary_cache.h"

#include <new>

namespace tavik {
namespace {

// The folder listings' share of the bound, and the snapshots', where
// folders are watched.
constexpr size_t kFolderShareDivisor = 16;
constexpr size_t kSnapshotShareDivisor = 16;
constexpr size_t kAnswerShareDivisor = 32;

}  // namespace

std::unique_ptr<SummaryCache> SummaryCache::Create(const Options& options) {
  if (options.max_bytes == 0) return nullptr;
  return std::unique_ptr<SummaryCache>(new (std::nothrow)
                                           SummaryCache(options));
}

SummaryCache::SummaryCache(const Options& options)
    : options_(options),
      registry_(options.watch_changes),
      folders_(registry_, registry_.active()
                              ? options.max_bytes / kFolderShareDivisor
                              : 0),
      summaries_(registry_,
                 registry_.active()
                     ? options.max_bytes -
                           options.max_bytes / kFolderShareDivisor -
                           options.max_bytes / kSnapshotShareDivisor -
                           options.max_bytes / kAnswerShareDivisor
                     : options.max_bytes),
      snapshots_(registry_.active()
                     ? options.max_bytes / kSnapshotShareDivisor
                     : 0),
      answers_(registry_.active() ? options.max_bytes / kAnswerShareDivisor
                                  : 0) {}

SummaryCache::Stats SummaryCache::GetStats() {
  Stats stats;
  const auto load = [](const std::atomic<uint64_t>& counter) {
    return counter.load(std::memory_order_relaxed);
  };
  stats.requests = load(counters_.requests);
  stats.documents_skipped = load(counters_.skipped);
  stats.documents_read = load(counters_.read);
  stats.records_trusted = load(counters_.trusted);
  stats.summaries_stored = load(counters_.stored);
  stats.stamps_read = load(counters_.stamps);
  stats.listings_made = load(counters_.listings_made);
  stats.listings_reused = load(counters_.listings_reused);
  stats.snapshots_made = load(counters_.snapshots_made);
  stats.snapshots_used = load(counters_.snapshots_used);
  stats.events = registry_.events();
  stats.losses = registry_.losses();
  stats.bytes = folders_.bytes() + summaries_.bytes() + snapshots_.bytes() +
                answers_.bytes();
  stats.summaries = summaries_.count();
  return stats;
}

void SummaryCache::GiveCredit(int64_t credit) {
  // Concurrent requests each give theirs back; together they pass on no
  // more than one request may.
  int64_t now = credit_.load(std::memory_order_relaxed);
  int64_t sum;
  do {
    sum = now + credit;
    if (sum > BuildBudget::kMaxCarried) sum = BuildBudget::kMaxCarried;
  } while (!credit_.compare_exchange_weak(now, sum, std::memory_order_acq_rel));
}

void SummaryCache::Add(const Stats& counts) {
  const auto add = [](std::atomic<uint64_t>& counter, uint64_t amount) {
    if (amount != 0) counter.fetch_add(amount, std::memory_order_relaxed);
  };
  add(counters_.requests, counts.requests);
  add(counters_.skipped, counts.documents_skipped);
  add(counters_.read, counts.documents_read);
  add(counters_.trusted, counts.records_trusted);
  add(counters_.stored, counts.summaries_stored);
  add(counters_.stamps, counts.stamps_read);
  add(counters_.listings_made, counts.listings_made);
  add(counters_.listings_reused, counts.listings_reused);
  add(counters_.snapshots_made, counts.snapshots_made);
  add(counters_.snapshots_used, counts.snapshots_used);
}

}  // namespace tavik
