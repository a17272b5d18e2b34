// No change notification is used on Windows: every folder and document is
// checked by its stamps instead.
#include "platform/change_watch.h"

namespace tavik {

ChangeWatch::~ChangeWatch() = default;
bool ChangeWatch::Open() { return false; }
bool ChangeWatch::Available() const { return false; }
int ChangeWatch::WatchFolder(const char*) { return -1; }
int ChangeWatch::WatchFile(const char*) { return -1; }
void ChangeWatch::Unwatch(int) {}
bool ChangeWatch::ReadEvents(ChangeEventSink&) { return false; }
bool ChangesAreAllSeenLocally(const char*) { return false; }

}  // namespace tavik
