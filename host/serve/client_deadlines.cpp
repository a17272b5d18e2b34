#include "host/serve/client_deadlines.h"

#include <cerrno>
#include <cstring>

namespace tavik {
namespace {

// Does nothing: its only effect is that the interrupted call fails with
// EINTR, as the handler is installed without SA_RESTART.
void IgnoreWake(int /*signal*/) {}

}  // namespace

std::unique_ptr<ClientDeadlines> ClientDeadlines::Start(std::string* error) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = IgnoreWake;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  if (sigaction(kWakeSignal, &action, nullptr) != 0) {
    *error = std::string("cannot set up the client deadlines: sigaction: ") +
             std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<ClientDeadlines> deadlines(new ClientDeadlines);
  deadlines->watcher_ = std::thread(&ClientDeadlines::Watch, deadlines.get());
  return deadlines;
}

ClientDeadlines::~ClientDeadlines() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  watcher_.join();
}

void ClientDeadlines::Arm(Clock::time_point deadline) {
  const std::thread::id self = std::this_thread::get_id();
  bool earlier;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [waiter, added] = waiters_.try_emplace(self);
    if (!added) by_deadline_.erase({waiter->second.deadline, self});
    waiter->second = {pthread_self(), deadline, false};
    by_deadline_.emplace(deadline, self);
    earlier = deadline < next_wake_;
    if (earlier) next_wake_ = deadline;
  }
  if (earlier) changed_.notify_one();
}

bool ClientDeadlines::Disarm() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto waiter = waiters_.find(self);
  if (waiter == waiters_.end()) return false;
  const bool late =
      waiter->second.late || waiter->second.deadline <= Clock::now();
  by_deadline_.erase({waiter->second.deadline, self});
  waiters_.erase(waiter);
  return late;
}

void ClientDeadlines::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    // Every waiter past its deadline is signalled, again at each round
    // until it disarms: a signal that came while the thread was between
    // two calls interrupted nothing.
    bool late_ones = false;
    for (const auto& [deadline, id] : by_deadline_) {
      if (deadline > now) break;
      Waiter& waiter = waiters_.at(id);
      waiter.late = true;
      pthread_kill(waiter.thread, kWakeSignal);
      late_ones = true;
    }
    // The next round: the earliest deadline still ahead, rounded up to the
    // interval so that a stream of deadlines wakes the watcher at most
    // that often.
    Clock::time_point next = Clock::time_point::max();
    if (late_ones) {
      next = now + kResendInterval;
    } else if (!by_deadline_.empty()) {
      next = std::max(by_deadline_.begin()->first, now + kResendInterval);
    }
    next_wake_ = next;
    if (next == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
}

}  // namespace tavik
