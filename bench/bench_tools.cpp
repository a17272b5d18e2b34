#include "bench/bench_tools.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/pattern_match.h"

extern char** environ;

namespace tavik::bench {
namespace {

void ListInto(const std::string& folder, std::vector<std::string>* documents) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> folders;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat status;
    if (entry->d_type == DT_DIR) {
      folders.push_back(path);
    } else if (NameMatchesPattern(name, "*.htm") &&
               stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      documents->push_back(path);
    }
  }
  closedir(listing);
  for (const std::string& sub : folders) ListInto(sub, documents);
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> ListDocuments(const std::string& root) {
  std::vector<std::string> documents;
  ListInto(root, &documents);
  return documents;
}

int RunQuietly(const std::vector<std::string>& argv,
               const std::vector<std::string>& environment) {
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    variables.emplace_back(*variable);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child;
  const int failed =
      posix_spawnp(&child, arguments[0].c_str(), &actions, nullptr,
                   Pointers(arguments).data(), Pointers(variables).data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CaptureOutput(const std::vector<std::string>& argv) {
  std::string command;
  for (const std::string& argument : argv) {
    // Single quotes keep every byte but the quote itself.
    std::string quoted = "'";
    for (const char c : argument) {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    command += quoted + "' ";
  }
  std::string output;
  FILE* pipe = popen((command + "2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[65536];
  size_t count;
  while ((count = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
    output.append(chunk, count);
  }
  pclose(pipe);
  return output;
}

double ElapsedMilliseconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now() - start)
      .count();
}

double MedianMilliseconds(int repetitions, const std::function<void()>& work,
                          const std::function<void()>& before_each) {
  std::vector<double> times;
  for (int i = 0; i < repetitions; ++i) {
    if (before_each) before_each();
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto stop = std::chrono::steady_clock::now();
    times.push_back(
        std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::sort(times.begin(), times.end());
  const size_t middle = times.size() / 2;
  return times.size() % 2 == 1 ? times[middle]
                               : (times[middle - 1] + times[middle]) / 2;
}

bool DropCaches() {
  sync();
  const int file = open("/proc/sys/vm/drop_caches", O_WRONLY);
  if (file < 0) return false;
  const bool written = write(file, "3\n", 2) == 2;
  close(file);
  return written;
}

}  // namespace tavik::bench
