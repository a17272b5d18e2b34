// Worker threads interrupted in a blocking wait once their client's
// deadline passes, and only then.
#include "host/serve/client_deadlines.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace tavik::testing {
namespace {

using Clock = ClientDeadlines::Clock;
using std::chrono::milliseconds;

// What one thread's wait on a pipe that never becomes readable came to.
struct Wait {
  int result = 0;
  int error = 0;
  bool late = false;
  milliseconds took{0};
};

// Arms `deadline_in` from now, then waits in poll() on a silent pipe for
// at most `poll_ms` (-1: for ever), as a worker waits on its client.
Wait WaitOnSilentPipe(ClientDeadlines* deadlines, milliseconds deadline_in,
                      int poll_ms) {
  int pipe_ends[2];
  EXPECT_EQ(pipe(pipe_ends), 0);
  Wait wait;
  const auto started = Clock::now();
  deadlines->Arm(started + deadline_in);
  pollfd waiting{pipe_ends[0], POLLIN, 0};
  wait.result = poll(&waiting, 1, poll_ms);
  wait.error = errno;
  wait.late = deadlines->Disarm();
  wait.took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  return wait;
}

TEST(ClientDeadlines, AThreadPastItsDeadlineIsInterruptedAndTheOthersAreNot) {
  std::string error;
  const auto deadlines = ClientDeadlines::Start(&error);
  ASSERT_TRUE(deadlines) << error;
  Wait late;
  Wait in_time;
  // The late thread waits for ever unless interrupted; the other's own
  // timeout of 1.5 s ends its wait well before its deadline of 60 s.
  std::thread late_thread(
      [&] { late = WaitOnSilentPipe(deadlines.get(), milliseconds(200), -1); });
  std::thread in_time_thread([&] {
    in_time = WaitOnSilentPipe(deadlines.get(), milliseconds(60000), 1500);
  });
  late_thread.join();
  in_time_thread.join();

  EXPECT_EQ(late.result, -1);
  EXPECT_EQ(late.error, EINTR);
  EXPECT_TRUE(late.late);
  // Not before the deadline; the upper bound only tells an interruption
  // from none on a loaded machine.
  EXPECT_GE(late.took, milliseconds(200));
  EXPECT_LT(late.took, milliseconds(10000));

  EXPECT_EQ(in_time.result, 0) << "interrupted: errno " << in_time.error;
  EXPECT_FALSE(in_time.late);
}

TEST(ClientDeadlines, DisarmingInTimeLeavesTheThreadAlone) {
  std::string error;
  const auto deadlines = ClientDeadlines::Start(&error);
  ASSERT_TRUE(deadlines) << error;
  // Armed and disarmed many times, each deadline just ahead: none passes.
  for (int i = 0; i < 200; ++i) {
    deadlines->Arm(Clock::now() + milliseconds(300));
    EXPECT_FALSE(deadlines->Disarm());
  }
  EXPECT_FALSE(deadlines->Disarm()) << "not armed";
  // A later wait on the same thread, past all those deadlines, is not
  // interrupted by a signal meant for them.
  const Wait wait = WaitOnSilentPipe(deadlines.get(), milliseconds(60000), 700);
  EXPECT_EQ(wait.result, 0) << "interrupted: errno " << wait.error;
}

}  // namespace
}  // namespace tavik::testing
