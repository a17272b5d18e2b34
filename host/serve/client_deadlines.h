// Deadlines for the clients a server's worker threads wait on. A thread
// arms its deadline before it waits for a client (a request head, the next
// piece of a body) and disarms it when the wait is over; a thread still
// armed when its deadline passes is interrupted: it is sent kWakeSignal,
// whose handler does nothing, so the blocking socket call it waits in
// returns with EINTR and the wait fails. The signal is sent again every
// kResendInterval until the thread disarms, in case the first one came
// between two calls. Only threads that are waiting on a client are ever
// signalled, and only after their deadline.
#ifndef TAVIK_HOST_SERVE_CLIENT_DEADLINES_H_
#define TAVIK_HOST_SERVE_CLIENT_DEADLINES_H_

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

namespace tavik {

// The signal that interrupts a thread whose client missed its deadline.
inline constexpr int kWakeSignal = SIGUSR2;
// Deadlines are kept to within this: the watcher wakes at most this often.
inline constexpr std::chrono::milliseconds kResendInterval{100};

class ClientDeadlines {
 public:
  using Clock = std::chrono::steady_clock;

  // Installs the handler of kWakeSignal (for the whole process) and starts
  // the thread that watches the deadlines. Returns nullptr with a one-line
  // reason in `error` when either fails.
  static std::unique_ptr<ClientDeadlines> Start(std::string* error);
  // Stops the watching thread. REQUIRES: no thread is armed.
  ~ClientDeadlines();
  ClientDeadlines(const ClientDeadlines&) = delete;
  ClientDeadlines& operator=(const ClientDeadlines&) = delete;

  // The calling thread waits for a client until `deadline` (replacing any
  // deadline it had armed).
  void Arm(Clock::time_point deadline);

  // Ends the calling thread's wait. Returns true when its deadline passed
  // while it was armed (it may have been interrupted); false when it was
  // not armed or the deadline had not passed.
  bool Disarm();

 private:
  struct Waiter {
    pthread_t thread;
    Clock::time_point deadline;
    bool late = false;
  };

  ClientDeadlines() = default;
  void Watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::unordered_map<std::thread::id, Waiter> waiters_;
  // The same waiters by deadline, earliest first.
  std::set<std::pair<Clock::time_point, std::thread::id>> by_deadline_;
  // When the watcher wakes next, unless told of an earlier deadline.
  Clock::time_point next_wake_ = Clock::time_point::max();
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace tavik

#endif  // TAVIK_HOST_SERVE_CLIENT_DEADLINES_H_
