// The helper thread of the fast paths: no job or wake-up lost over many
// rounds, whether the other side is polling or asleep; a job sees the
// floating-point environment of its owner; a job's exception reaches the
// owner; an owner that leaves early stops its job. A lost wake-up shows as a
// hang.
#include <gtest/gtest.h>

#include <cfenv>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "helper_thread.h"

namespace malha {
namespace {

TEST(HelperThread, RunsEveryJobOverManyRounds) {
  HelperThread helper;
  std::int64_t total = 0;  // written by the helper only, read after finish()
  for (std::int64_t round = 1; round <= 5000; ++round) {
    // Now and then the owner dawdles so that the helper goes to sleep.
    if (round % 500 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    helper.start([&total, round] { total += round; });
    if (round % 500 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    helper.finish();
    ASSERT_EQ(total, round * (round + 1) / 2) << "round " << round;
  }
}

TEST(HelperThread, SignalPingPongLosesNoWakeUp) {
  Signal signal;
  std::int64_t turn = 0;  // even: this thread's move, odd: the other's
  constexpr std::int64_t kMoves = 20000;
  std::thread other([&] {
    for (std::int64_t k = 1; k < kMoves; k += 2) {
      signal.wait([&] { return turn == k; });
      signal.announce([&] { turn = k + 1; });
    }
  });
  for (std::int64_t k = 0; k < kMoves; k += 2) {
    signal.wait([&] { return turn == k; });
    signal.announce([&] { turn = k + 1; });
  }
  other.join();
  EXPECT_EQ(turn, kMoves);
}

TEST(HelperThread, JobRunsInTheOwnersFloatingPointEnvironment) {
  HelperThread helper;
  for (int mode : {FE_UPWARD, FE_TOWARDZERO, FE_TONEAREST}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    int seen = -1;
    helper.start([&seen] { seen = std::fegetround(); });
    helper.finish();
    EXPECT_EQ(seen, mode);
  }
}

TEST(HelperThread, ExceptionOfAJobReachesTheOwner) {
  HelperThread helper;
  helper.start([] { throw std::runtime_error("job failed"); });
  EXPECT_THROW(helper.finish(), std::runtime_error);
  bool ran = false;
  helper.start([&ran] { ran = true; });
  EXPECT_NO_THROW(helper.finish());
  EXPECT_TRUE(ran);
}

TEST(HelperThread, OwnerLeavingEarlyStopsTheJob) {
  HelperThread helper;
  Signal signal;
  bool stop = false;
  bool job_returned = false;
  try {
    const HelperJob job(
        helper,
        [&] {
          signal.wait([&] { return stop; });
          job_returned = true;
        },
        [&] { signal.announce([&] { stop = true; }); });
    throw std::runtime_error("owner failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(job_returned);  // the destructor waited for it
}

}  // namespace
}  // namespace malha
