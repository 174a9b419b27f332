// The algebraic mesh, centroids with the fictitious ring, the neighbour table,
// and the floating-point traps that stop a run on a degenerate case.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "platform.h"
#include "variaveis.h"

namespace malha {
namespace {

std::unique_ptr<MeshState> algebraic_mesh(std::int32_t nx, std::int32_t ny) {
  auto s = std::make_unique<MeshState>();
  s->nx = nx;
  s->ny = ny;
  derive_counters(*s);
  allocate_group_a(*s);
  build_algebraic_mesh(*s);
  return s;
}

std::unique_ptr<MeshState> with_centroids(std::int32_t nx, std::int32_t ny) {
  auto s = algebraic_mesh(nx, ny);
  compute_centroids(*s);
  return s;
}

double vertex_x(const MeshState& s, int i, int j) {
  return s.xv((j - 1) * s.nxv + i);
}
double vertex_y(const MeshState& s, int i, int j) {
  return s.yv((j - 1) * s.nxv + i);
}

TEST(Counters, SmallestMesh) {
  MeshState s;
  s.nx = 2;
  s.ny = 1;
  derive_counters(s);
  EXPECT_EQ(s.nxv, 3);
  EXPECT_EQ(s.nyv, 2);
  EXPECT_EQ(s.nvert, 6);
  EXPECT_EQ(s.nvol, 2);
  EXPECT_EQ(s.nxf, 4);
  EXPECT_EQ(s.nyf, 3);
  EXPECT_EQ(s.nvolf, 12);
}

TEST(AlgebraicMesh, SmallestMeshVerticesAndConnectivity) {
  auto s = algebraic_mesh(2, 1);
  const double expected[6][2] = {{0, 1}, {0, 0}, {1, 0}, {0.5, 1}, {0.5, 0.5}, {1, 0.5}};
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(s->xv(k), expected[k - 1][0]) << "vertex " << k;
    EXPECT_EQ(s->yv(k), expected[k - 1][1]) << "vertex " << k;
  }
  const int conn[2][4] = {{1, 2, 5, 4}, {2, 3, 6, 5}};
  for (int v = 1; v <= 2; ++v) {
    for (int c = 1; c <= 4; ++c) {
      EXPECT_EQ(s->conn(v, c), conn[v - 1][c - 1]);
      EXPECT_EQ(s->connf(v + 5, c), conn[v - 1][c - 1]);  // w = 6 and 7
    }
  }
}

TEST(AlgebraicMesh, StepsShrinkFromOuterToInnerBoundary) {
  auto s = algebraic_mesh(20, 10);  // m = 11
  for (int i = 1; i < 11; ++i) {
    EXPECT_NEAR(vertex_y(*s, i, 1) - vertex_y(*s, i + 1, 1), 0.1, 1e-15);
    EXPECT_NEAR(vertex_y(*s, i, 11) - vertex_y(*s, i + 1, 11), 0.05, 1e-15);
  }
  for (int i = 11; i < 21; ++i) {
    EXPECT_NEAR(vertex_x(*s, i + 1, 1) - vertex_x(*s, i, 1), 0.1, 1e-15);
    EXPECT_NEAR(vertex_x(*s, i + 1, 11) - vertex_x(*s, i, 11), 0.05, 1e-15);
  }
  EXPECT_EQ(vertex_x(*s, 11, 1), 0.0);
  EXPECT_EQ(vertex_y(*s, 11, 1), 0.0);
  EXPECT_EQ(vertex_x(*s, 21, 11), 1.0);
  EXPECT_EQ(vertex_y(*s, 21, 11), 0.5);
  // The corner line i = m is the diagonal.
  for (int j = 1; j <= 11; ++j)
    EXPECT_NEAR(vertex_x(*s, 11, j), vertex_y(*s, 11, j), 1e-15) << "j = " << j;
  // Connectivity in the extended numbering matches the real one.
  for (int j = 1; j <= s->ny; ++j)
    for (int i = 1; i <= s->nx; ++i)
      for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(s->connf(j * s->nxf + i + 1, c), s->conn((j - 1) * s->nx + i, c));
}

TEST(AlgebraicMesh, OddNxRunsPastTheRightSide) {
  auto s = algebraic_mesh(3, 1);  // nxv = 4, m = 2
  EXPECT_EQ(vertex_x(*s, 4, 1), 2.0);
  EXPECT_EQ(vertex_y(*s, 4, 1), 0.0);
  EXPECT_EQ(vertex_x(*s, 4, 2), 1.5);
  EXPECT_EQ(vertex_y(*s, 4, 2), 0.5);
}

TEST(Centroids, SmallestMeshAreasCentroidsAndRing) {
  auto s = with_centroids(2, 1);
  EXPECT_EQ(s->area(1), 0.375);
  EXPECT_EQ(s->area(2), 0.375);
  EXPECT_NEAR(s->xc(1), 2.0 / 9.0, 1e-15);
  EXPECT_NEAR(s->yc(1), 11.0 / 18.0, 1e-15);
  // Interior of the extended grid copies the real centroids bit for bit.
  EXPECT_EQ(s->xcf(6), s->xc(1));
  EXPECT_EQ(s->ycf(7), s->yc(2));

  const double row1[4][2] = {{0, 1}, {0, 0.5}, {0.5, 0}, {1, 0}};
  const double row3[4][2] = {{0.5, 1}, {0.5, 0.75}, {0.75, 0.5}, {1, 0.5}};
  for (int I = 1; I <= 4; ++I) {
    EXPECT_EQ(s->xcf(I), row1[I - 1][0]) << "I = " << I;
    EXPECT_EQ(s->ycf(I), row1[I - 1][1]) << "I = " << I;
    EXPECT_EQ(s->xcf(8 + I), row3[I - 1][0]) << "I = " << I;
    EXPECT_EQ(s->ycf(8 + I), row3[I - 1][1]) << "I = " << I;
  }
  EXPECT_EQ(s->xcf(5), 0.25);  // beside the top side
  EXPECT_EQ(s->ycf(5), 1.0);
  EXPECT_EQ(s->xcf(8), 1.0);  // beside the right side
  EXPECT_EQ(s->ycf(8), 0.25);
}

TEST(Centroids, EvenNxAreasArePositiveAndCoverTheRegion) {
  for (auto [nx, ny] : {std::pair{2, 1}, {4, 2}, {20, 10}, {64, 7}}) {
    auto s = with_centroids(nx, ny);
    double sum = 0.0;
    for (int v = 1; v <= s->nvol; ++v) {
      EXPECT_GT(s->area(v), 0.0) << nx << "x" << ny << " volume " << v;
      sum += s->area(v);
    }
    EXPECT_NEAR(sum, 0.75, 1e-12) << nx << "x" << ny;
  }
  auto odd = with_centroids(3, 2);
  double sum = 0.0;
  for (int v = 1; v <= odd->nvol; ++v) sum += odd->area(v);
  EXPECT_NEAR(sum, 1.125, 1e-12);
}

TEST(Centroids, RingHoldsBoundaryFaceMidpointsForEvenNx) {
  auto s = with_centroids(8, 3);  // m = 5
  const int nxf = s->nxf, nyf = s->nyf;
  auto ring = [&](int I, int J) {
    return std::pair{s->xcf((J - 1) * nxf + I), s->ycf((J - 1) * nxf + I)};
  };
  // Fictitious volume (I, 1) borders the outer face from vertex (I-1, 1) to (I, 1);
  // (I, nyf) the inner face from (I-1, nyv) to (I, nyv).
  for (int I = 2; I <= nxf - 1; ++I) {
    auto [xo, yo] = ring(I, 1);
    EXPECT_NEAR(xo, 0.5 * (vertex_x(*s, I - 1, 1) + vertex_x(*s, I, 1)), 1e-15) << I;
    EXPECT_NEAR(yo, 0.5 * (vertex_y(*s, I - 1, 1) + vertex_y(*s, I, 1)), 1e-15) << I;
    auto [xi, yi] = ring(I, nyf);
    EXPECT_NEAR(xi, 0.5 * (vertex_x(*s, I - 1, s->nyv) + vertex_x(*s, I, s->nyv)), 1e-15) << I;
    EXPECT_NEAR(yi, 0.5 * (vertex_y(*s, I - 1, s->nyv) + vertex_y(*s, I, s->nyv)), 1e-15) << I;
  }
  // Top and right sides.
  for (int J = 2; J <= nyf - 1; ++J) {
    EXPECT_NEAR(ring(1, J).first, 0.5 * (vertex_x(*s, 1, J - 1) + vertex_x(*s, 1, J)), 1e-15);
    EXPECT_EQ(ring(1, J).second, 1.0);
    EXPECT_EQ(ring(nxf, J).first, 1.0);
    EXPECT_NEAR(ring(nxf, J).second, 0.5 * (vertex_y(*s, s->nxv, J - 1) + vertex_y(*s, s->nxv, J)),
                1e-15);
  }
  EXPECT_EQ(ring(1, 1), (std::pair{0.0, 1.0}));
  EXPECT_EQ(ring(nxf, 1), (std::pair{1.0, 0.0}));
  EXPECT_EQ(ring(1, nyf), (std::pair{0.5, 1.0}));
  EXPECT_EQ(ring(nxf, nyf), (std::pair{1.0, 0.5}));
}

TEST(Centroids, ClockwiseVolumeHasNegativeAreaAndTheSameCentroid) {
  auto s = with_centroids(2, 1);
  const double xc = s->xc(1), yc = s->yc(1);
  // Mirror the mesh in x: every volume turns clockwise.
  for (int k = 1; k <= s->nvert; ++k) s->xv(k) = -s->xv(k);
  compute_centroids(*s);
  EXPECT_EQ(s->area(1), -0.375);
  EXPECT_NEAR(s->xc(1), -xc, 1e-15);
  EXPECT_NEAR(s->yc(1), yc, 1e-15);
}

std::unique_ptr<MeshState> with_neighbours(std::int32_t nx, std::int32_t ny) {
  auto s = algebraic_mesh(nx, ny);
  allocate_group_c(*s);
  number_neighbours(*s);
  return s;
}

TEST(Neighbours, WorkedExamples) {
  using ::testing::ElementsAre;
  auto row = [](const MeshState& s, int v) {
    return std::vector<int>{s.nbr(1, v), s.nbr(2, v), s.nbr(3, v), s.nbr(4, v)};
  };
  auto one_row = with_neighbours(2, 1);
  EXPECT_THAT(row(*one_row, 1), ElementsAre(0, 2, 0, 0));
  EXPECT_THAT(row(*one_row, 2), ElementsAre(0, 0, 0, 1));

  auto s = with_neighbours(3, 2);
  EXPECT_THAT(row(*s, 1), ElementsAre(0, 2, 4, 0));
  EXPECT_THAT(row(*s, 3), ElementsAre(0, 0, 6, 2));
  EXPECT_THAT(row(*s, 5), ElementsAre(2, 6, 0, 4));
  EXPECT_THAT(row(*s, 6), ElementsAre(3, 0, 0, 5));
}

TEST(Neighbours, SymmetricAndCountedByPosition) {
  auto s = with_neighbours(7, 5);
  for (int v = 1; v <= s->nvol; ++v) {
    int nonzero = 0;
    for (int f = 1; f <= 4; ++f) {
      const int u = s->nbr(f, v);
      ASSERT_GE(u, 0);
      ASSERT_LE(u, s->nvol);
      if (u == 0) continue;
      ++nonzero;
      const int opposite = f <= 2 ? f + 2 : f - 2;
      EXPECT_EQ(s->nbr(opposite, u), v) << "volume " << v << " face " << f;
    }
    const int i = (v - 1) % s->nx + 1, j = (v - 1) / s->nx + 1;
    const int on_sides = (i == 1) + (i == s->nx) + (j == 1) + (j == s->ny);
    EXPECT_EQ(nonzero, 4 - on_sides) << "volume " << v;
  }
}

// Floating-point faults end the run with the report and status 1.
class FloatingPointTraps : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FloatingPointTraps, DivisionByZeroInTheMeshFormulas) {
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        algebraic_mesh(1, 1);  // m - 1 = 0
      },
      ::testing::ExitedWithCode(1),
      ::testing::StrEq(
          "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"));
}

TEST_F(FloatingPointTraps, InvalidOperationInTheMeshFormulas) {
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        algebraic_mesh(2, 0);  // 0 / 0
      },
      ::testing::ExitedWithCode(1),
      ::testing::StrEq("\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n"));
}

TEST_F(FloatingPointTraps, Overflow) {
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        volatile double big = 1e300;
        volatile double product = big * big;
        (void)product;
      },
      ::testing::ExitedWithCode(1),
      ::testing::StrEq("\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n"));
}

TEST_F(FloatingPointTraps, UnderflowAndInexactPassAndHeldTrapsAreRestored) {
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        volatile double tiny = 1e-300;
        volatile double product = tiny * tiny;  // underflows to zero silently
        {
          platform::FpTrapsHeld held;
          volatile double zero = 0.0;
          volatile double inf = 1.0 / zero;  // no trap while held
          (void)inf;
        }
        if (product == 0.0 && platform::fp_traps_enabled()) platform::exit_now(3);
        platform::exit_now(4);
      },
      ::testing::ExitedWithCode(3), ::testing::StrEq(""));
}

}  // namespace
}  // namespace malha
