// Elliptic smoothing: metric terms, coefficients and the Gauss-Seidel sweeps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "mesh/processamento.h"
#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "support.h"
#include "variaveis.h"

namespace malha {
namespace {

// One outer pass by the plain operations: metrics, sources, coefficients,
// then the sweeps on x and on y.
void one_pass(MeshState& s) {
  smoothing_pass(s, SmoothingOptions{.fast = false});
}

std::vector<double> copy(const Array1<double>& a) {
  return std::vector<double>(a.data(), a.data() + a.size());
}

bool bit_identical(const std::vector<double>& a, const Array1<double>& b) {
  return static_cast<std::int64_t>(a.size()) == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Metrics, OnlyInteriorVertexOfTheTwoByTwoMesh) {
  auto s = test::smoothing_mesh(2, 2);
  compute_metrics(*s);
  const int k = 5;  // vertex (2, 2)
  EXPECT_EQ(s->xv(k), 0.25);
  EXPECT_EQ(s->yv(k), 0.25);
  EXPECT_EQ(s->xksi(k), 0.375);
  EXPECT_EQ(s->yksi(k), -0.375);
  EXPECT_EQ(s->xeta(k), 0.25);
  EXPECT_EQ(s->yeta(k), 0.25);
  EXPECT_EQ(s->alpha(k), 0.125);
  EXPECT_EQ(s->beta(k), 0.0);
  EXPECT_EQ(s->gamma(k), 0.28125);
  EXPECT_EQ(s->jac(k), 1.0 / 0.1875);

  clear_sources(*s);
  compute_coefficients(*s);
  EXPECT_EQ(s->ae(k), 0.125);
  EXPECT_EQ(s->aw(k), 0.125);
  EXPECT_EQ(s->an(k), 0.28125);
  EXPECT_EQ(s->as(k), 0.28125);
  EXPECT_EQ(s->ane(k), 0.0);
  EXPECT_EQ(s->anw(k), 0.0);
  EXPECT_EQ(s->ase(k), 0.0);
  EXPECT_EQ(s->asw(k), 0.0);
  EXPECT_EQ(s->ap(k), 0.8125);
}

TEST(Metrics, PowerOfTwoSpacingsScaleExactly) {
  auto unit = test::smoothing_mesh(12, 6);
  auto scaled = test::smoothing_mesh(12, 6, 4.0, 4.0);
  compute_metrics(*unit);
  compute_metrics(*scaled);
  for (int j = 2; j < unit->nyv; ++j) {
    for (int i = 2; i < unit->nxv; ++i) {
      const int k = (j - 1) * unit->nxv + i;
      EXPECT_EQ(scaled->xksi(k), unit->xksi(k) / 4.0);
      EXPECT_EQ(scaled->yksi(k), unit->yksi(k) / 4.0);
      EXPECT_EQ(scaled->xeta(k), unit->xeta(k) / 4.0);
      EXPECT_EQ(scaled->yeta(k), unit->yeta(k) / 4.0);
      EXPECT_EQ(scaled->alpha(k), unit->alpha(k) / 16.0);
      EXPECT_EQ(scaled->beta(k), unit->beta(k) / 16.0);
      EXPECT_EQ(scaled->gamma(k), unit->gamma(k) / 16.0);
      EXPECT_EQ(scaled->jac(k), unit->jac(k) * 16.0);
    }
  }
}

TEST(Coefficients, KeptSourcesEnterTheAxisCoefficients) {
  auto s = test::smoothing_mesh(2, 2);
  s->opt_psrc = 2;
  s->opt_qsrc = 2;
  s->psrc(5) = 0.5;
  s->qsrc(5) = -1.0;
  compute_metrics(*s);
  clear_sources(*s);  // flags of 2 keep the values
  compute_coefficients(*s);
  const double g = 0.1875 * 0.1875;
  EXPECT_EQ(s->ae(5), 0.125 + 0.25 * g);
  EXPECT_EQ(s->aw(5), 0.125 - 0.25 * g);
  EXPECT_EQ(s->an(5), 0.28125 - 0.5 * g);
  EXPECT_EQ(s->as(5), 0.28125 + 0.5 * g);

  s->opt_psrc = 0;
  clear_sources(*s);
  EXPECT_EQ(s->psrc(5), 0.0);
  EXPECT_EQ(s->qsrc(5), -1.0);
}

TEST(GaussSeidel, TwoByTwoMeshReachesItsFixedPointInOneSweep) {
  for (int nsweep : {1, 3}) {
    auto s = test::smoothing_mesh(2, 2);
    s->nsweep = nsweep;
    one_pass(*s);
    EXPECT_NEAR(s->xv(5), 19.0 / 52.0, 1e-15) << nsweep;
    EXPECT_NEAR(s->yv(5), 19.0 / 52.0, 1e-15) << nsweep;
  }
}

TEST(GaussSeidel, FourByTwoMeshUsesTheNewWestValue) {
  auto s = test::smoothing_mesh(4, 2);
  s->nsweep = 1;
  one_pass(*s);
  EXPECT_NEAR(s->xv(7), 0.25, 1e-15);
  EXPECT_NEAR(s->yv(7), 73.0 / 112.0, 1e-15);
  EXPECT_NEAR(s->xv(8), 0.37, 1e-15);
  EXPECT_NEAR(s->yv(8), 53.0 / 140.0, 1e-15);  // 0.37 if the old y of vertex 7 were used
  EXPECT_NEAR(s->xv(9), 377.0 / 560.0, 1e-15);
  EXPECT_NEAR(s->yv(9), 107.0 / 392.0, 1e-15);
}

TEST(GaussSeidel, NothingMovesWithoutSweepsOrInteriorVertices) {
  struct Case {
    int nx, ny, nsweep, niter;
  };
  for (const Case c : {Case{6, 3, 0, 4}, Case{6, 1, 3, 3}}) {
    auto s = test::smoothing_mesh(c.nx, c.ny);
    s->nsweep = c.nsweep;
    const auto x = copy(s->xv), y = copy(s->yv);
    for (int pass = 1; pass <= c.niter; ++pass) one_pass(*s);
    EXPECT_TRUE(bit_identical(x, s->xv)) << c.nx << "x" << c.ny;
    EXPECT_TRUE(bit_identical(y, s->yv)) << c.nx << "x" << c.ny;
  }
}

TEST(GaussSeidel, LongSmoothingKeepsTheBoundaryAndValidCells) {
  auto s = test::smoothing_mesh(40, 20);
  s->nsweep = 1;
  const auto x = copy(s->xv), y = copy(s->yv);
  for (int pass = 1; pass <= 200; ++pass) one_pass(*s);

  bool interior_moved = false;
  for (int j = 1; j <= s->nyv; ++j) {
    for (int i = 1; i <= s->nxv; ++i) {
      const int k = (j - 1) * s->nxv + i;
      const bool boundary = i == 1 || i == s->nxv || j == 1 || j == s->nyv;
      if (boundary) {
        ASSERT_EQ(std::memcmp(&x[k - 1], &s->xv(k), sizeof(double)), 0) << "vertex " << k;
        ASSERT_EQ(std::memcmp(&y[k - 1], &s->yv(k), sizeof(double)), 0) << "vertex " << k;
      } else {
        interior_moved = interior_moved || x[k - 1] != s->xv(k) || y[k - 1] != s->yv(k);
      }
    }
  }
  EXPECT_TRUE(interior_moved);

  compute_centroids(*s);
  double sum = 0.0;
  for (int v = 1; v <= s->nvol; ++v) {
    EXPECT_GT(s->area(v), 0.0) << "volume " << v;
    sum += s->area(v);
  }
  EXPECT_NEAR(sum, 0.75, 1e-12);
}

TEST(Smoothing, ZeroSpacingStopsWithTheDivideByZeroReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        auto s = test::smoothing_mesh(4, 2, 0.0, 1.0);
        compute_metrics(*s);
      },
      ::testing::ExitedWithCode(1),
      ::testing::StrEq(
          "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"));
}

}  // namespace
}  // namespace malha
