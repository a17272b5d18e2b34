#include "corpus/watch_registry.h"

#include <new>

namespace tavik {

// Applies events as ChangeWatch::ReadEvents hands them over, with the
// registry's mutex held.
class WatchRegistry::Applier : public ChangeEventSink {
 public:
  explicit Applier(WatchRegistry& registry) : registry_(registry) {}

  void Take(const ChangeEvent& event) override {
    registry_.events_.fetch_add(1, std::memory_order_relaxed);
    if (event.kind == ChangeEvent::Kind::kLost) {
      registry_.LoseEverything();
      return;
    }
    WatchState* state = *registry_.Slot(event.watch);
    if (state == nullptr) return;  // a watch given up already
    if (event.kind != ChangeEvent::Kind::kOpened &&
        event.kind != ChangeEvent::Kind::kClosed) {
      registry_.NoteChange();
    }
    switch (event.kind) {
      case ChangeEvent::Kind::kEntryChanged:
        // A file's own watch reports its changes, whatever name they are
        // made through; a folder's, its own.
        return;
      case ChangeEvent::Kind::kEntry:
      case ChangeEvent::Kind::kItself:
        state->generation.fetch_add(1, std::memory_order_acq_rel);
        return;
      case ChangeEvent::Kind::kEnded:
        state->ended.store(true, std::memory_order_release);
        state->generation.fetch_add(1, std::memory_order_acq_rel);
        // Its number may now be given to a new watch.
        registry_.Unlink(state);
        return;
      case ChangeEvent::Kind::kOpened:
      case ChangeEvent::Kind::kClosed:
        return;
      case ChangeEvent::Kind::kLost:
        return;
    }
  }

 private:
  WatchRegistry& registry_;
};

WatchRegistry::WatchRegistry(bool enabled) {
  active_ = enabled && change_watch_.Open();
}

WatchRegistry::~WatchRegistry() {
  // Every record has given its states back by now; any left are freed, and
  // closing the queue ends their watches.
  for (WatchState*& bucket : buckets_) {
    while (WatchState* state = bucket) {
      bucket = state->next;
      delete state;
    }
  }
}

void WatchRegistry::LoseEverything() {
  NoteChange();
  epoch_.fetch_add(1, std::memory_order_acq_rel);
  losses_.fetch_add(1, std::memory_order_relaxed);
}

void WatchRegistry::Drain() {
  if (!active_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Applier applier(*this);
  if (!change_watch_.ReadEvents(applier)) LoseEverything();
}

WatchState** WatchRegistry::Slot(int watch) {
  WatchState** slot = &buckets_[static_cast<unsigned>(watch) % kBuckets];
  while (*slot != nullptr && (*slot)->watch != watch) slot = &(*slot)->next;
  return slot;
}

void WatchRegistry::Unlink(WatchState* state) {
  WatchState** slot = Slot(state->watch);
  if (*slot != state) return;
  *slot = state->next;
  state->next = nullptr;
  --live_;
}

NewWatch WatchRegistry::WatchFolder(const char* path) {
  return Watch(path, true);
}

NewWatch WatchRegistry::WatchFile(const char* path) {
  return Watch(path, false);
}

NewWatch WatchRegistry::Watch(const char* path, bool folder) {
  if (!active_) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  if (closing_ || live_ >= change_watch_.watch_limit()) return {};
  const int watch = folder ? change_watch_.WatchFolder(path)
                           : change_watch_.WatchFile(path);
  if (watch < 0) return {};
  WatchState** slot = Slot(watch);
  WatchState* state = *slot;
  if (state != nullptr && state->is_folder != folder) {
    // The number was ended and given anew before its end was read: the old
    // state is not trusted again.
    state->ended.store(true, std::memory_order_release);
    state->generation.fetch_add(1, std::memory_order_acq_rel);
    Unlink(state);
    slot = Slot(watch);
    state = nullptr;
  }
  if (state == nullptr) {
    state = new (std::nothrow) WatchState;
    if (state == nullptr) {
      change_watch_.Unwatch(watch);
      return {};
    }
    state->watch = watch;
    state->is_folder = folder;
    *slot = state;
    ++live_;
  }
  ++state->references;
  return {state, state->generation.load(std::memory_order_acquire),
          epoch_.load(std::memory_order_acquire)};
}

NewWatch WatchRegistry::Share(WatchState* state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closing_ || state->ended.load(std::memory_order_acquire)) return {};
  ++state->references;
  return {state, state->generation.load(std::memory_order_acquire),
          epoch_.load(std::memory_order_acquire)};
}

void WatchRegistry::Release(WatchState* state) {
  if (state == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (--state->references > 0) return;
  if (!state->ended.load(std::memory_order_acquire)) {
    if (!closing_) change_watch_.Unwatch(state->watch);
    Unlink(state);
  }
  delete state;
}

void WatchRegistry::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closing_ = true;
}

}  // namespace tavik
