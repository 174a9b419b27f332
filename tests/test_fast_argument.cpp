// The steps of the fast smoothing's argument (smoothing/fast/pass.cpp) that can be
// checked on their own: the determinant bounds of step 5, against what the
// left-out operations raise; the order of the row tasks of step 6, enumerated; the early end
// of step 9.
#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/fast/bounds.h"
#include "smoothing/fast/wavefront.h"

namespace malha {
namespace {

// ---------------------------------------------------------------------------
// Step 5: the determinant bounds.

// Whether the operations of the plain pass that the fused loop leaves out
// raise a trapped exception for this determinant: jac = 1/det as
// metric_terms_at computes it, then coefficients_at with zero sources.
bool left_out_operations_raise(double det) {
  const platform::FpTrapsHeld held;
  std::feclearexcept(FE_ALL_EXCEPT);
  const volatile double d = det;
  const VertexCoefficients c = coefficients_at(1.0, 0.5, 1.0, 1.0 / d, 0.0, 0.0);
  const volatile double kept = c.ae + c.aw + c.an + c.as;
  (void)kept;
  return std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
}

// In range exactly when nothing is raised, for both signs: the doubles next
// to each end (so the bounds are the ends, to the double), and a sample of
// all positive doubles, zero included (the range is one interval).
TEST(DeterminantBounds, InRangeExactlyWhenNothingIsRaised) {
  const auto expect_at = [](std::uint64_t bits) {
    const double det = std::bit_cast<double>(bits);
    const bool in_range = det >= kSafeDetLow && det <= kSafeDetHigh;
    ASSERT_EQ(left_out_operations_raise(det), !in_range) << std::hexfloat << det;
    ASSERT_EQ(left_out_operations_raise(-det), !in_range) << std::hexfloat << -det;
  };
  for (const double end : {kSafeDetLow, kSafeDetHigh}) {
    const auto bits = std::bit_cast<std::uint64_t>(end);
    for (std::uint64_t k = bits - 1000; k <= bits + 1000; ++k)
      ASSERT_NO_FATAL_FAILURE(expect_at(k));
  }
  const auto last = std::bit_cast<std::uint64_t>(DBL_MAX);
  for (std::uint64_t k = 0; k <= last; k += std::uint64_t{1} << 44)
    ASSERT_NO_FATAL_FAILURE(expect_at(k));
}

// ---------------------------------------------------------------------------
// Step 6: the order of the tasks.

using Task = std::pair<std::int64_t, std::int64_t>;  // row, sweep

std::vector<Task> all_tasks(std::int64_t nrows, std::int64_t nsweep) {
  std::vector<Task> tasks;
  TaskOrder order(nrows, nsweep);
  for (std::int64_t n = 0; n < nrows * nsweep; ++n, order.advance(1))
    tasks.emplace_back(order.row(), order.sweep());
  return tasks;
}

const std::pair<std::int64_t, std::int64_t> kOrderShapes[] = {
    {1, 1}, {1, 5}, {2, 1}, {2, 3}, {3, 2}, {4, 4}, {5, 1}, {5, 9}, {7, 3}, {8, 8}, {13, 40}};

// Every task once; diagonals row + 2*sweep ascending, sweeps ascending within
// one, tasks of a diagonal two rows apart; the tasks that write what a task
// reads come before it, those that overwrite it after it.
TEST(TaskOrder, HoldsTheWavefrontsInvariants) {
  for (const auto& [nrows, nsweep] : kOrderShapes) {
    const std::vector<Task> tasks = all_tasks(nrows, nsweep);
    std::map<Task, std::size_t> place;
    for (std::size_t n = 0; n < tasks.size(); ++n) {
      const auto [row, sweep] = tasks[n];
      ASSERT_TRUE(row >= 0 && row < nrows && sweep >= 0 && sweep < nsweep);
      ASSERT_TRUE(place.emplace(tasks[n], n).second) << "task twice: " << row << ", " << sweep;
      if (n == 0) continue;
      const auto [row0, sweep0] = tasks[n - 1];
      const std::int64_t d = row + 2 * sweep, d0 = row0 + 2 * sweep0;
      ASSERT_TRUE(d > d0 || (d == d0 && sweep == sweep0 + 1 && row == row0 - 2))
          << nrows << " x " << nsweep << ": (" << row0 << ", " << sweep0 << ") then (" << row
          << ", " << sweep << ")";
    }
    ASSERT_EQ(place.size(), static_cast<std::size_t>(nrows * nsweep));
    for (const auto& [task, n] : place) {
      const auto [row, sweep] = task;
      const Task writers[] = {{row - 1, sweep}, {row + 1, sweep - 1}, {row, sweep - 1}};
      const Task overwriters[] = {{row - 1, sweep + 1}, {row + 1, sweep}, {row, sweep + 1}};
      for (const Task& before : writers) EXPECT_TRUE(!place.count(before) || place[before] < n);
      for (const Task& after : overwriters) EXPECT_TRUE(!place.count(after) || place[after] > n);
    }
  }
}

// The two threads' places in the order, each taking a group and skipping the
// other's, take every task once, in order, group after group.
TEST(TaskOrder, GroupsOfTheTwoThreadsTakeTheOrderInTurn) {
  for (const auto& [nrows, nsweep] : kOrderShapes) {
    const std::vector<Task> tasks = all_tasks(nrows, nsweep);
    const auto count = static_cast<std::int64_t>(tasks.size());
    TaskOrder order[2] = {TaskOrder(nrows, nsweep), TaskOrder(nrows, nsweep)};
    order[1].advance(kRows);
    std::vector<Task> taken;
    for (std::int64_t g = 0; g * kRows < count; ++g) {
      const GroupTasks group =
          order[g % 2].take_group(std::min<std::int64_t>(kRows, count - g * kRows), kRows);
      for (std::int64_t r = 0; r < group.size; ++r)
        taken.emplace_back(group.row[r], group.sweep[r]);
    }
    EXPECT_EQ(taken, tasks) << nrows << " x " << nsweep;
  }
}

// ---------------------------------------------------------------------------
// Step 9: the early end.

struct EndedGroup {
  std::vector<Task> tasks;  // row, sweep
  std::vector<bool> changed;
  bool settled;  // what group_ended answers
};

struct EarlyEndCase {
  const char* name;
  std::vector<EndedGroup> groups;  // in the order they end, over 3 rows
};

const EarlyEndCase kEarlyEndCases[] = {
    {"CompleteSweepUnchanged", {{{{0, 5}, {1, 5}, {2, 5}}, {false, false, false}, true}}},
    {"CompleteSweepChanged", {{{{0, 5}, {1, 5}, {2, 5}}, {false, true, false}, false}}},
    {"WithoutTheLastRowNothingIsComplete", {{{{0, 5}, {1, 5}}, {false, false}, false}}},
    // A later sweep's change, ended before, tells that sweep 5 may still
    // change something for the sweeps after it.
    {"LaterSweepChangedEarlier",
     {{{{0, 6}}, {true}, false}, {{{2, 5}, {1, 6}}, {false, false}, false}}},
    {"EarlierSweepChangedOnly",
     {{{{0, 4}, {2, 3}}, {true, true}, false}, {{{2, 5}, {0, 6}}, {false, false}, true}}},
};

class EarlyEndTest : public ::testing::TestWithParam<EarlyEndCase> {};

TEST_P(EarlyEndTest, SettlesWhenACompleteSweepChangedNothing) {
  EarlyEnd early_end(3);
  for (const EndedGroup& g : GetParam().groups) {
    GroupTasks group;
    bool changed[kRows]{};
    group.size = static_cast<std::int64_t>(g.tasks.size());
    for (std::size_t r = 0; r < g.tasks.size(); ++r) {
      group.row[r] = g.tasks[r].first;
      group.sweep[r] = g.tasks[r].second;
      changed[r] = g.changed[r];
    }
    EXPECT_EQ(early_end.group_ended(group, changed), g.settled);
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, EarlyEndTest, ::testing::ValuesIn(kEarlyEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace malha
