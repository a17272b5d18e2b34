#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/change_watch.h"

namespace tavik {
namespace {

// What a folder's watch reports: its entries made, removed and renamed,
// and its own status, renaming and removal. Changes of the files in it are
// reported (also) by the files' own watches, which see them whatever name
// they are made through.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                   IN_MOVE_SELF | IN_ONLYDIR;
// IN_CLOSE_WRITE also covers a file written through a memory map by a
// writer that then closes it; IN_OPEN and IN_CLOSE_NOWRITE tell who holds
// the file open, for writes no other event shows (asynchronous ones).
constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE |
                                 IN_OPEN | IN_CLOSE_NOWRITE | IN_DELETE_SELF |
                                 IN_MOVE_SELF | IN_DONT_FOLLOW;
constexpr uint32_t kEntryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

// The file systems on which every change passes through this kernel
// (statfs f_type): ext2/3/4, XFS, Btrfs, tmpfs, ramfs, F2FS, ZFS, JFS,
// ReiserFS, bcachefs, FAT, exFAT.
constexpr unsigned long kLocalFileSystems[] = {
    0xEF53,     0x58465342, 0x9123683E, 0x01021994, 0x858458F6, 0xF2F52010,
    0x2FC12FC1, 0x3153464A, 0x52654973, 0xCA451A4E, 0x4D44,     0x2011BAB0,
};

// Forks of this process, counted in each child as it starts: a queue opened
// before a fork is its parent's. The handler goes with the library when it
// is unloaded.
std::atomic<uint64_t> forks{0};
void CountFork() { forks.fetch_add(1, std::memory_order_relaxed); }
void CountForks() {
  static std::once_flag registered;
  std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, CountFork); });
}

int WatchLimit() {
  int limit = 8192;  // the smallest a system sets
  if (FILE* setting = std::fopen("/proc/sys/fs/inotify/max_user_watches", "re")) {
    if (std::fscanf(setting, "%d", &limit) != 1) limit = 8192;
    std::fclose(setting);
  }
  return limit / 2;
}

ChangeEvent::Kind KindOf(const inotify_event& event) {
  if ((event.mask & IN_Q_OVERFLOW) != 0) return ChangeEvent::Kind::kLost;
  if ((event.mask & IN_IGNORED) != 0) return ChangeEvent::Kind::kEnded;
  if (event.len == 0) {
    // An open or a read-only close changes nothing; every other event of
    // the object does (a close after writing among them).
    const uint32_t change = event.mask & ~(IN_OPEN | IN_CLOSE_NOWRITE | IN_ISDIR);
    if (change == 0) {
      return (event.mask & IN_OPEN) != 0 ? ChangeEvent::Kind::kOpened
                                         : ChangeEvent::Kind::kClosed;
    }
    return ChangeEvent::Kind::kItself;
  }
  if ((event.mask & kEntryEvents) != 0) return ChangeEvent::Kind::kEntry;
  return ChangeEvent::Kind::kEntryChanged;
}

}  // namespace

bool ChangeWatch::Open() {
  if (handle_ < 0) {
    CountForks();
    handle_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    forks_at_open_ = forks.load(std::memory_order_relaxed);
    watch_limit_ = WatchLimit();
    // Without the mount table's notice, a mount over a watched folder or
    // file would go unseen: no watches then.
    mounts_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (mounts_ < 0 && handle_ >= 0) {
      close(static_cast<int>(handle_));
      handle_ = -1;
    }
  }
  return Available();
}

ChangeWatch::~ChangeWatch() {
  // In a forked child this closes only the child's descriptors; the
  // parent's queue and watches stay.
  if (handle_ >= 0) close(static_cast<int>(handle_));
  if (mounts_ >= 0) close(static_cast<int>(mounts_));
}

bool ChangeWatch::Available() const {
  return handle_ >= 0 && forks.load(std::memory_order_relaxed) == forks_at_open_;
}

int ChangeWatch::WatchFolder(const char* path) {
  if (!Available()) return -1;
  return inotify_add_watch(static_cast<int>(handle_), path, kFolderEvents);
}

int ChangeWatch::WatchFile(const char* path) {
  if (!Available()) return -1;
  return inotify_add_watch(static_cast<int>(handle_), path, kFileEvents);
}

void ChangeWatch::Unwatch(int watch) {
  if (Available()) inotify_rm_watch(static_cast<int>(handle_), watch);
}

bool ChangeWatch::ReadEvents(ChangeEventSink& sink) {
  if (!Available()) return false;
  // The mount table tells of a change once per change, to each reader, at
  // the next poll.
  pollfd mounts = {static_cast<int>(mounts_), POLLPRI, 0};
  if (poll(&mounts, 1, 0) != 0) {
    sink.Take({ChangeEvent::Kind::kLost, -1, "", false});
  }
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t count = read(static_cast<int>(handle_), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN;
    }
    if (count == 0) return false;
    for (ssize_t at = 0; at < count;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      sink.Take({KindOf(*event), event->wd, event->len > 0 ? event->name : "",
                 (event->mask & IN_ISDIR) != 0,
                 (event->mask & IN_CLOSE_WRITE) != 0});
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

bool ChangesAreAllSeenLocally(const char* path) {
  struct statfs status;
  if (statfs(path, &status) != 0) return false;
  for (const unsigned long type : kLocalFileSystems) {
    if (static_cast<unsigned long>(status.f_type) == type) return true;
  }
  return false;
}

}  // namespace tavik
