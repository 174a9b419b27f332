// Floating-point traps on two threads: when both threads of a run trap at
// once, the process writes exactly one report; a trap inside a sweep of the
// fast smoothing, while both threads of its wavefront run, stops the run with
// the plain pass's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform.h"
#include "smoothing/passes.h"
#include "support.h"

namespace malha {
namespace {

const char kOverflow[] = "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n";

// Both threads enable the traps, meet, and overflow at the same moment; the
// one that gets there first ends the process. Repeated, so that the two
// faults do meet in the handlers now and then.
TEST(TrapsDeathTest, TwoThreadsTrappingAtOnceWriteOneReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int round = 0; round < 100; ++round) {
    EXPECT_EXIT(
        {
          platform::install_fp_traps();
          std::atomic<int> arrived{0};
          const auto overflow = [&arrived] {
            platform::install_fp_traps();
            arrived.fetch_add(1);
            while (arrived.load() < 2) {
            }
            volatile double big = 1e308;
            big = big * 10.0;
          };
          std::thread other(overflow);
          overflow();
          other.join();
          std::exit(0);
        },
        ::testing::ExitedWithCode(1), ::testing::StrEq(kOverflow))
        << "round " << round;
  }
}

// A mesh of 100 x 50 volumes (above the size smoothed on two threads) scaled
// so that the coefficients and the determinants stay finite and in range but
// the products of a sweep overflow: by 2^528 with a ramp of 2^(i/100 + j/10)
// over vertex (i, j), and spacings of 2^280. The first overflow of the first
// sweep then falls in rows 11 to 20 between columns 69 and 97, and at the
// first column from row 21 on: the two threads of the wavefront, one group of
// rows each, meet their overflows at about the same moment.
std::unique_ptr<MeshState> overflowing_mesh() {
  auto s = test::smoothing_mesh(100, 50, 0x1p280, 0x1p280);
  s->nsweep = 3;
  for (std::int64_t k = 1; k <= s->nvert; ++k) {
    const auto i = static_cast<double>((k - 1) % s->nxv), j = static_cast<double>((k - 1) / s->nxv);
    const double factor = 0x1p528 * std::pow(2.0, i / 100 + j / 10);
    s->xv(k) *= factor;
    s->yv(k) *= factor;
  }
  return s;
}

// The plain pass, and the fast one on two threads (which must not leave the
// pass to the plain one: its coefficients are all in range), stop with the
// same report, written once. Repeated, as the timing of the threads varies.
TEST(TrapsDeathTest, OverflowInsideATwoThreadSweepWritesThePlainReportOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const bool fast : {false, true}) {
    for (int round = 0; round < (fast ? 20 : 1); ++round) {
      EXPECT_EXIT(
          {
            platform::install_fp_traps();
            auto s = overflowing_mesh();
            if (fast) {
              SmoothingWorkspace workspace;
              (void)fast_smoothing_pass(*s, SmoothingOptions{.threads = 2}, workspace);
            } else {
              smoothing_pass(*s, SmoothingOptions{.fast = false});
            }
            std::exit(0);
          },
          ::testing::ExitedWithCode(1), ::testing::StrEq(kOverflow))
          << (fast ? "fast, round " : "plain, round ") << round;
    }
  }
}

}  // namespace
}  // namespace malha
