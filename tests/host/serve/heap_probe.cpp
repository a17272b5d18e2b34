// Loaded into tavik-serve by the load test (LD_PRELOAD) to tell, exactly,
// how many bytes the process has in use on its heap: the resident and data
// sizes the kernel shows move by whole pages, and a leak hides in the holes
// earlier requests left. A thread of the probe's own looks every 20 ms for a
// file named "ask" in $TAVIK_HEAP_PROBE_DIR; when it finds one it writes the
// bytes in use (malloc's in-use bytes, mapped blocks included) to "heap"
// there and removes "ask". It allocates nothing on the heap itself.
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

char ask_path[4096];
char heap_path[4096];
char heap_part_path[4096];

void* Watch(void*) {
  const timespec pause{0, 20 * 1000 * 1000};
  for (;;) {
    nanosleep(&pause, nullptr);
    if (access(ask_path, F_OK) != 0) continue;
    const struct mallinfo2 info = mallinfo2();
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%zu\n", info.uordblks + info.hblkhd);
    // Written aside, then renamed: the reader never sees half a number.
    const int file = open(heap_part_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) continue;
    const bool whole = write(file, text, static_cast<size_t>(length)) == length;
    close(file);
    if (whole) rename(heap_part_path, heap_path);
    unlink(ask_path);
  }
  return nullptr;
}

__attribute__((constructor)) void StartHeapProbe() {
  const char* folder = std::getenv("TAVIK_HEAP_PROBE_DIR");
  if (folder == nullptr) return;
  std::snprintf(ask_path, sizeof ask_path, "%s/ask", folder);
  std::snprintf(heap_path, sizeof heap_path, "%s/heap", folder);
  std::snprintf(heap_part_path, sizeof heap_part_path, "%s/heap.part", folder);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, Watch, nullptr) == 0) {
    pthread_detach(thread);
  }
}

}  // namespace
