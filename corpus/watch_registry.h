// WatchRegistry: the change watches the summary cache keeps, and what their
// events have said. Each watched folder or file has one WatchState, shared by
// every record of the cache that relies on it. A record made while a watch
// was in place may be trusted from memory, with no system call, as long as
// the watch's generation is the one it saw and the registry's epoch has not
// moved: every change made to the watched object through this system's
// kernel moves the generation once its event is applied, and a lost event
// moves the epoch. Events are applied by Drain, which each request calls
// before it walks: a change that completed before a request began is queued
// by then, so that request sees it applied.
//
// A folder's watch vouches for the folder's entries (made, removed,
// renamed) and its own status; which folder a path leads to is checked by
// the records themselves, against the folder numbers their parents' listings
// give (or, for the search root, the folder's stamp).
//
// Thread-safe: one mutex guards the system's queue, the table of watches
// and every reference count; generations and the epoch are read without it.
#ifndef TAVIK_CORPUS_WATCH_REGISTRY_H_
#define TAVIK_CORPUS_WATCH_REGISTRY_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/change_watch.h"

namespace tavik {

struct WatchState {
  // +1 for every event on the watched object, and when the watch ends.
  std::atomic<uint64_t> generation{0};
  // Set when the watch is gone; its records are not trusted again.
  std::atomic<bool> ended{false};
  int watch = -1;
  bool is_folder = false;
  // Guarded by the registry's mutex: records holding this state, and the
  // next state in the registry's bucket.
  int references = 0;
  WatchState* next = nullptr;
};

// The bytes one state takes, for the records that count their memory.
inline constexpr size_t kWatchStateBytes = sizeof(WatchState) + 16;

// A watch as made: the state, with one reference for the caller, and the
// generation and epoch it had right after the system made the watch.
struct NewWatch {
  WatchState* state = nullptr;
  uint64_t generation = 0;
  uint32_t epoch = 0;
};

class WatchRegistry {
 public:
  // Opens the system's queue when `enabled`; active() says whether it works.
  explicit WatchRegistry(bool enabled);
  // REQUIRES: no state still referenced.
  ~WatchRegistry();
  WatchRegistry(const WatchRegistry&) = delete;
  WatchRegistry& operator=(const WatchRegistry&) = delete;

  // True when watches can be made: records may then be trusted from memory.
  bool active() const { return active_; }
  // Moves whenever events were lost, so that nothing known from watches
  // before is trusted.
  uint32_t epoch() const { return epoch_.load(std::memory_order_acquire); }

  // Applies every event queued by now: moves the generation of each watch
  // an event names, and the epoch when events were lost (or the queue could
  // not be read).
  void Drain();

  // Watches the folder, or the file (a link not followed), at full path
  // `path`. Returns no state when it cannot be watched, or when the
  // registry already holds as many watches as it should.
  NewWatch WatchFolder(const char* path);
  NewWatch WatchFile(const char* path);

  // Another reference to the live watch `state`, with its generation and
  // the epoch now; no state when it has ended.
  NewWatch Share(WatchState* state);

  // Gives back one reference; the last one ends the watch. nullptr is
  // ignored. Like Share, it takes the registry's mutex, which a record
  // table may hold its own lock around (the registry never takes a table's).
  void Release(WatchState* state);

  // Says the registry is going away: no watch is made any more, and the
  // last references end no watch one by one, since closing the queue ends
  // them all at once.
  void Close();

  // Moves whenever anything known from watches may have stopped being so:
  // an event that tells a change, lost events, and a record that a table
  // let go (NoteChange). A snapshot made while it stood still is whole as
  // long as it stands still.
  uint64_t changes() const { return changes_.load(std::memory_order_acquire); }
  void NoteChange() { changes_.fetch_add(1, std::memory_order_acq_rel); }

  // Events applied and batches of events lost, since the registry began.
  uint64_t events() const { return events_.load(std::memory_order_relaxed); }
  uint64_t losses() const { return losses_.load(std::memory_order_relaxed); }

 private:
  NewWatch Watch(const char* path, bool folder);
  // Moves the epoch: events were lost.
  void LoseEverything();
  // Where the live state numbered `watch` is, or would be, linked.
  WatchState** Slot(int watch);
  void Unlink(WatchState* state);
  class Applier;

  std::mutex mutex_;
  ChangeWatch change_watch_;
  bool active_ = false;
  bool closing_ = false;
  std::atomic<uint32_t> epoch_{1};
  // Live states by watch number: chained buckets.
  static constexpr size_t kBuckets = 1024;
  WatchState* buckets_[kBuckets] = {};
  int live_ = 0;
  std::atomic<uint64_t> changes_{0};
  std::atomic<uint64_t> events_{0};
  std::atomic<uint64_t> losses_{0};
};

}  // namespace tavik

#endif  // TAVIK_CORPUS_WATCH_REGISTRY_H_
