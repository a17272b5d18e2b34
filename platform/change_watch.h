// ChangeWatch: the system's change notification. Each watched folder or
// file gets a number; the kernel queues an event for every change made to a
// watched object through it, and the owner reads the queue when it likes,
// without waiting. A change of the mount table (a file system mounted or
// unmounted anywhere, which no watch reports) comes as lost events. Linux
// (inotify, and the mount table's own notice) only: elsewhere, and in a
// process forked from the one that made the watch (in a new PID namespace
// too), Available() is false and nothing is watched.
//
// Not thread-safe: the owner serialises every call.
#ifndef TAVIK_PLATFORM_CHANGE_WATCH_H_
#define TAVIK_PLATFORM_CHANGE_WATCH_H_

#include <cstdint>

namespace tavik {

struct ChangeEvent {
  enum class Kind {
    kLost,     // the queue overflowed: events were dropped (watch is -1)
    kEnded,    // the watch is gone: its object was deleted, or its file
               // system unmounted, or it was removed; its number is free
    kItself,   // the watched object changed: for a file its content or
               // status, for a folder its status, or either was renamed or
               // deleted
    kEntry,    // an entry of a watched folder was made, removed, or renamed
               // into or out of it (`name` says which)
    kEntryChanged,  // an entry of a watched folder changed its status
    kOpened,   // a watched file was opened, by anyone (this process too)
    kClosed,   // a watched file was closed without having been written
  };
  Kind kind;
  int watch;
  // For kEntry and kEntryChanged: the entry's name in the folder. Valid only
  // during the call that hands the event over.
  const char* name;
  // True when the object or entry is a folder.
  bool is_folder;
  // For kItself: the file was also closed after being open for writing.
  bool closed = false;
};

// Receives events; see ChangeWatch::ReadEvents.
class ChangeEventSink {
 public:
  virtual ~ChangeEventSink() = default;
  virtual void Take(const ChangeEvent& event) = 0;
};

class ChangeWatch {
 public:
  // Makes a watch with no queue yet: Available() is false until Open().
  ChangeWatch() = default;
  // Closes the queue, which ends every watch.
  ~ChangeWatch();

  // Opens a queue of its own. Returns Available().
  bool Open();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // False where the system has no change notification, where the queue
  // could not be opened, and in a forked process.
  bool Available() const;

  // Watches the folder at full path `path` (links followed) for entries
  // made, removed or renamed, and for changes of the folder itself. Returns
  // the watch's number, the same for every path that leads to the same
  // folder, or -1 when it cannot be watched.
  int WatchFolder(const char* path);

  // Watches the file at full path `path`, a link as its last component not
  // followed, for writes, truncation, status changes (permissions, times,
  // links), renaming and deletion, whichever name they are made through,
  // and for being opened and closed. Returns the watch's number, the same
  // for every name of one file, or -1.
  int WatchFile(const char* path);

  // Ends the watch `watch`; its kEnded event follows in the queue.
  void Unwatch(int watch);

  // Hands every event queued by now to `sink`, in order, without waiting;
  // a change of the mount table since the last call first, as a kLost
  // event. Returns false when the queue could not be read: events may be
  // lost.
  bool ReadEvents(ChangeEventSink& sink);

  // How many watches the owner should keep at most: half of what the
  // system allows one user, so that other programs of the same user keep
  // theirs.
  int watch_limit() const { return watch_limit_; }

 private:
  intptr_t handle_ = -1;
  // The mount table, read for its notice of changes; -1 where it cannot.
  intptr_t mounts_ = -1;
  // The forks seen in this process when the queue was opened: a forked
  // child shares the queue and must neither take the parent's events nor
  // change its watches.
  uint64_t forks_at_open_ = 0;
  int watch_limit_ = 0;
};

// True when every change made to the folder at full path `path`, and to
// what it holds, goes through this system's kernel and so reaches its
// watches: local disk and memory file systems. False for network, FUSE and
// overlay file systems, for any other, and where it cannot be told.
bool ChangesAreAllSeenLocally(const char* path);

}  // namespace tavik

#endif  // TAVIK_PLATFORM_CHANGE_WATCH_H_
