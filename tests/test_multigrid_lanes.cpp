// The multigrid's loops on four vertices at once give the bits of the loops on two and on one
// (line equations of level 0 and of a coarser level, level 0's residuals), and level 0's
// restriction row by row gives the sums of the restriction of a whole level. A lane that reads
// the wrong neighbour or factor, or a sum taken in another order, differs in the last bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "smoothing/multigrid/levels.h"
#include "smoothing/multigrid/residual.h"
#include "smoothing/multigrid/stencil.h"
#include "smoothing/multigrid/transfers.h"
#include "smoothing/multigrid/wide.h"
#include "support.h"
#include "variaveis.h"

namespace {

namespace mg = malha::multigrid;

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<double> steps(std::int32_t n) {
  std::vector<double> position(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) position[i] = i;
  return position;
}

// Values of all signs and sizes, zeros of both signs among them, the same on every run.
std::vector<double> mixed_values(std::size_t n, std::uint64_t seed) {
  std::vector<double> v(n);
  for (std::size_t k = 0; k < n; ++k) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const double unit = static_cast<double>(seed >> 11) * 0x1p-53;
    v[k] = k % 7 == 3 ? (k % 2 ? -0.0 : 0.0) : (unit - 0.5) * std::ldexp(1.0, int(k % 9) - 4);
  }
  return v;
}

// A level of nx by ny vertices with the given axes; its own coordinates and right-hand sides.
mg::Level level_of(mg::Axis ax, mg::Axis ay, bool coarse) {
  mg::Level l;
  l.ax = std::move(ax);
  l.ay = std::move(ay);
  l.size = static_cast<std::int64_t>(l.ax.n) * l.ay.n;
  const auto n = static_cast<std::size_t>(l.size);
  l.rx.assign(coarse ? n : static_cast<std::size_t>(l.ax.n), 0.0);
  l.ry = l.rx;
  if (coarse) {
    l.fx.assign(n, 0.0), l.fy.assign(n, 0.0);
    l.own_x.assign(n, 0.0), l.own_y.assign(n, 0.0), l.x0.assign(n, 0.0), l.y0.assign(n, 0.0);
    l.x = l.own_x.data(), l.y = l.own_y.data();
  }
  return l;
}

struct Size {
  int nx, ny;  // volumes, as in entradas.txt
};

std::string size_name(const ::testing::TestParamInfo<Size>& info) {
  return std::to_string(info.param.nx) + "x" + std::to_string(info.param.ny);
}

// Interior counts along a row and down a column of each parity cover every remainder by four.
const Size kSizes[] = {{4, 3}, {9, 5}, {10, 6}, {13, 8}, {14, 9}, {40, 20}, {41, 21}, {66, 13}};

// ---------------------------------------------------------------------------------------------
// Row-by-row restriction

class RowRestriction : public ::testing::TestWithParam<Size> {};

TEST_P(RowRestriction, SameSumsAsTheWholeLevel) {
  const Size z = GetParam();
  mg::Level fine =
      level_of(mg::make_axis(steps(z.nx + 1), 1.0), mg::make_axis(steps(z.ny + 1), 1.0), true);
  mg::Axis cx = mg::coarsen(fine.ax, 1.0), cy = mg::coarsen(fine.ay, 1.0);
  mg::Level whole = level_of(cx, cy, true), by_rows = level_of(cx, cy, true);
  fine.rx = mixed_values(fine.rx.size(), 1), fine.ry = mixed_values(fine.ry.size(), 2);
  whole.fx = by_rows.fx = mixed_values(whole.fx.size(), 3);
  whole.fy = by_rows.fy = mixed_values(whole.fy.size(), 4);
  mg::restrict_residual(fine, whole);
  // What the coarse residuals held before (the last cycle's) must not count.
  by_rows.rx = mixed_values(by_rows.rx.size(), 8), by_rows.ry = mixed_values(by_rows.ry.size(), 9);
  // The fine level as level 0 holds it: one row of residuals at a time.
  mg::Level row = level_of(fine.ax, fine.ay, false);
  for (std::int64_t j = 1; j + 1 < fine.ay.n; ++j) {
    const std::int64_t at = j * fine.ax.n, n = fine.ax.n;
    std::memcpy(row.rx.data(), fine.rx.data() + at, static_cast<std::size_t>(n) * sizeof(double));
    std::memcpy(row.ry.data(), fine.ry.data() + at, static_cast<std::size_t>(n) * sizeof(double));
    mg::restrict_row(row, by_rows, j);
  }
  mg::add_restricted(by_rows);
  EXPECT_TRUE(same_bits(whole.fx, by_rows.fx));
  EXPECT_TRUE(same_bits(whole.fy, by_rows.fy));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RowRestriction, ::testing::ValuesIn(kSizes), size_name);

// ---------------------------------------------------------------------------------------------
// Four lanes against two and one

class FourLanes : public ::testing::TestWithParam<Size> {
 protected:
  void SetUp() override {
    if (!mg::wide::available()) GTEST_SKIP() << "the processor has no AVX2";
    const Size z = GetParam();
    mesh_ = malha::test::algebraic_mesh(z.nx, z.ny);
    // Off the algebraic mesh's regular rows, so that no two vertices share their terms.
    const std::vector<double> nudge = mixed_values(2 * static_cast<std::size_t>(mesh_->nvert), 5);
    for (std::int64_t k = 1; k <= mesh_->nvert; ++k) {
      mesh_->xv(k) += 1e-3 * nudge[2 * (k - 1)];
      mesh_->yv(k) += 1e-3 * nudge[2 * (k - 1) + 1];
    }
    top_ = level_of(mg::make_axis(steps(mesh_->nxv), 1.0), mg::make_axis(steps(mesh_->nyv), 0.7),
                    false);
    top_.unit_steps = true;
    top_.x = mesh_->xv.data(), top_.y = mesh_->yv.data();
    coarse_ = level_of(mg::coarsen(top_.ax, 1.0), mg::coarsen(top_.ay, 0.7), true);
    mg::inject(top_, coarse_);
    coarse_.fx = mixed_values(coarse_.fx.size(), 6),
    coarse_.fy = mixed_values(coarse_.fy.size(), 7);
  }

  // The equations of every interior row (kAlongRow) or of every column of both parities, row
  // by row, all in one array.
  template <bool kAlongRow>
  static std::vector<double> equations(mg::Level& level, bool wide) {
    level.wide = wide;
    const std::int64_t nx = level.ax.n, ny = level.ay.n;
    std::vector<double> all, work(static_cast<std::size_t>(5 * nx));
    for (std::int64_t j = 1; j + 1 < ny; ++j) {
      for (int parity = 0; parity < (kAlongRow ? 1 : 2); ++parity) {
        const std::int64_t count = kAlongRow ? nx - 2 : (nx - 1 - parity) / 2;
        const auto e = mg::stencil::Equations::in(work, 0, count);
        if constexpr (kAlongRow)
          mg::stencil::build<true, 1>(level, j, 1, count, e);
        else
          mg::stencil::build<false, 2>(level, j, 1 + parity, count, e);
        all.insert(all.end(), work.begin(), work.begin() + 5 * count);
      }
    }
    return all;
  }

  std::unique_ptr<malha::MeshState> mesh_;
  mg::Level top_, coarse_;
};

TEST_P(FourLanes, LineEquationsOfLevel0AndOfACoarserLevel) {
  for (mg::Level* level : {&top_, &coarse_}) {
    EXPECT_TRUE(same_bits(equations<true>(*level, true), equations<true>(*level, false)));
    EXPECT_TRUE(same_bits(equations<false>(*level, true), equations<false>(*level, false)));
  }
}

// Every residual of level 0 reaches level 1 through the restriction; the largest move and
// the bounds of the determinant come out the same.
TEST_P(FourLanes, ResidualsOfLevel0) {
  mg::Level coarse[2] = {coarse_, coarse_};
  mg::FineResidual r[2];
  for (int k = 0; k < 2; ++k) {
    top_.wide = k == 0;
    r[k] = mg::level0_residual(top_, &coarse[k], 1.0, 0.7);
  }
  EXPECT_EQ(r[0].move.vertex, r[1].move.vertex);
  EXPECT_EQ(std::memcmp(&r[0].move.largest, &r[1].move.largest, sizeof(double)), 0);
  EXPECT_EQ(r[0].coefficients_in_range, r[1].coefficients_in_range);
  EXPECT_TRUE(same_bits(coarse[0].rx, coarse[1].rx));
  EXPECT_TRUE(same_bits(coarse[0].ry, coarse[1].ry));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FourLanes, ::testing::ValuesIn(kSizes), size_name);

}  // namespace
