#include "corpus/cache_visit.h"

#include <cstring>

namespace tavik {

CacheVisit::CacheVisit(SummaryCache& cache, SummaryKind kind,
                       const TermSequences& term)
    : cache_(cache),
      kind_(kind),
      term_(term),
      budget_(cache.options().unbudgeted, cache.TakeCredit(),
              kind == SummaryKind::kWords ? BuildBudget::kWordReadFactor : 1) {
  cache_.registry().Drain();
  changes_at_start_ = cache_.registry().changes();
  counts_.requests = 1;
}

CacheVisit::~CacheVisit() {
  SummaryTable::Unpin(pin_);
  cache_.GiveCredit(budget_.Leftover());
  cache_.Add(counts_);
}

RootSnapshot* CacheVisit::FindSnapshot(const char* root_path,
                                       const FolderIdentity& identity,
                                       const char* real_root) {
  if (!cache_.watching()) return nullptr;
  RootSnapshot* snapshot = cache_.snapshots().Find(root_path, kind_);
  if (snapshot == nullptr) return nullptr;
  // Whole while nothing a watch vouches for has changed, and while the
  // root is the same folder, reached the same way.
  if (snapshot->changes() == cache_.registry().changes() &&
      snapshot->root_device() == identity.device &&
      snapshot->root_number() == identity.number &&
      std::strcmp(snapshot->real_root(), real_root) == 0) {
    ++counts_.snapshots_used;
    return snapshot;
  }
  cache_.snapshots().Drop(snapshot);
  snapshot->Release();
  return nullptr;
}

bool CacheVisit::Unchanged(RootSnapshot& snapshot) {
  WatchRegistry& registry = cache_.registry();
  if (registry.changes() != snapshot.changes()) return false;
  if (!registry.AnyOpen()) return true;
  GrowingArray<WatchRegistry::OpenFile> open;
  registry.OpenFiles(open);
  GrowingArray<uint32_t> positions;
  snapshot.PositionsOfFiles(open, positions);
  if (open.failed() || positions.failed()) return false;
  SummaryTable& summaries = cache_.summaries();
  const uint32_t epoch = registry.epoch();
  for (const uint32_t position : positions) {
    const RootSnapshot::Document document = snapshot.document(position);
    const SummaryLookup lookup = summaries.Find(
        document.path, snapshot.kind(), term_, document.listing, epoch);
    if (!lookup.found || lookup.changed || !StampStands(document.path, lookup)) {
      return false;
    }
  }
  // A change told while the stamps were read ends it too.
  return registry.changes() == snapshot.changes();
}

bool CacheVisit::StampStands(const char* path, const SummaryLookup& lookup) {
  ++counts_.stamps_read;
  FileStamp now;
  return ReadPathStamp(path, &now) == PathKind::kFile && now == lookup.stamp;
}

void CacheVisit::KeepSnapshot(RootSnapshot* snapshot) {
  if (snapshot->changes() != cache_.registry().changes()) {
    snapshot->Release();
    return;
  }
  ++counts_.snapshots_made;
  cache_.snapshots().Keep(snapshot);
}

FolderTable::Found CacheVisit::FindFolder(const char* path,
                                          const FolderIdentity& expected,
                                          FolderListing** listing,
                                          NewWatch* watch) {
  if (!cache_.watching()) return FolderTable::Found::kOrdinary;
  const FolderTable::Found found =
      cache_.folders().Find(path, expected, listing, watch);
  if (found == FolderTable::Found::kMemory) ++counts_.listings_reused;
  return found;
}

CacheVisit::Verdict CacheVisit::Consult(const char* path,
                                        const ListedDocument* listed) {
  SummaryTable& summaries = cache_.summaries();
  const uint64_t listing = listed != nullptr ? listed->listing : 0;
  const uint32_t epoch = cache_.registry().epoch();
  const SummaryLookup lookup =
      summaries.Find(path, kind_, term_, listing, epoch, holding_);
  Hold(lookup.pin);
  if (!lookup.found) return Verdict::kReadAndSummarize;
  if (lookup.trusted) {
    ++counts_.records_trusted;
    return Judge(lookup);
  }
  if (lookup.changed) {
    // Its watch saw the file change: read it, whatever its stamp says.
    summaries.Forget(path, kind_);
    return Verdict::kReadAndSummarize;
  }
  // The record is checked against the file's stamp now.
  if (!StampStands(path, lookup)) {
    // The summary is of a file that is not there any more.
    summaries.Forget(path, kind_);
    return Verdict::kReadAndSummarize;
  }
  if (lookup.watched) {
    Hold(summaries.Confirm(path, kind_, lookup.serial, lookup.generation,
                           listing, epoch, holding_));
  }
  return Judge(lookup);
}

CacheVisit::Verdict CacheVisit::Judge(const SummaryLookup& lookup) {
  if (!lookup.may_occur) {
    ++counts_.documents_skipped;
    budget_.Skipped(lookup.stamp.size);
    return Verdict::kAbsent;
  }
  return Verdict::kRead;
}

void CacheVisit::SkippedBySnapshot(uint64_t documents, uint64_t bytes) {
  counts_.documents_skipped += documents;
  budget_.SkippedMany(documents, bytes);
}

void CacheVisit::Read(const ReadableFile& file) {
  ++counts_.documents_read;
  budget_.Read(file.bytes_read());
}

SummaryBuilder* CacheVisit::BeginSummary(const char* path, ReadableFile& file,
                                         const ListedDocument* listed) {
  if (!budget_.MayAfford()) return nullptr;
  // The stamp as opened: the file had changed by then as far as it says.
  // The read begins after `began`, so a change after the read gets a later
  // stamp than this one as long as it is older than the trust delay
  // (longer than any file system's timestamp granularity).
  FileStamp stamp;
  if (!file.OpenedStamp(&stamp)) return nullptr;
  const int64_t began = StampClockNow();
  if (began - stamp.LastChange() <= cache_.options().trust_delay) {
    return nullptr;
  }
  if (!builder_) builder_.emplace();
  if (!*builder_ || !budget_.Spend(stamp.size)) return nullptr;
  // A file on another device than its folder is a mount of its own: its
  // record is checked by its stamp every time.
  const uint64_t listing =
      listed != nullptr && listed->device == stamp.device ? listed->listing : 0;
  pending_ = {stamp, {}, listing};
  // Watched before a byte is read: a change during or after the read
  // raises an event, and one made before it is in what is read.
  if (listing != 0) {
    pending_.watch = cache_.registry().WatchFile(path, stamp.device, stamp.file);
  }
  builder_->Start(stamp.size);
  return &*builder_;
}

void CacheVisit::EndSummary(const char* path, const ReadableFile& file) {
  WatchRegistry& registry = cache_.registry();
  FileStamp after;
  if (!builder_->finished() || !file.ReadStamp(&after) ||
      after != pending_.stamp) {
    registry.Release(pending_.watch.state);
    return;
  }
  const uint32_t epoch = pending_.watch.state != nullptr
                             ? pending_.watch.epoch
                             : registry.epoch();
  Hold(cache_.summaries().Store(path, kind_, pending_.stamp, *builder_,
                                pending_.watch.state, pending_.watch.generation,
                                pending_.listing, epoch, holding_));
  ++counts_.summaries_stored;
}

}  // namespace tavik
