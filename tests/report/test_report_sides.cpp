// The six sides against the rule of the neighbour table: a face is on the
// boundary when no volume lies across it, and each such face belongs to
// exactly one side, named by where it is in (i, j).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>

#include "report/measures/sides.h"

namespace {

using namespace malha::report;

struct Size {
  std::int32_t nx, ny;
};

// A mesh of nx by ny unit squares: vertex (i, j) at (i - 1, j - 1).
Mesh unit_grid(const Size& s) {
  Mesh m;
  m.nx = s.nx;
  m.ny = s.ny;
  m.nxv = s.nx + 1;
  m.nyv = s.ny + 1;
  for (std::int32_t j = 1; j <= m.nyv; ++j)
    for (std::int32_t i = 1; i <= m.nxv; ++i) {
      m.xv.push_back(i - 1);
      m.yv.push_back(j - 1);
    }
  return m;
}

class Sides : public testing::TestWithParam<Size> {};

TEST_P(Sides, FaceCountsFollowTheArmsAndEachBoundaryFaceIsOnOneSide) {
  const Mesh m = unit_grid(GetParam());
  const std::int64_t left_arm = m.nx / 2, bottom_arm = m.nx - m.nx / 2;
  const std::map<std::string, std::int64_t> expected = {{"left", left_arm},
                                                        {"bottom", bottom_arm},
                                                        {"reentrant_vertical", left_arm},
                                                        {"reentrant_horizontal", bottom_arm},
                                                        {"top", m.ny},
                                                        {"right", m.ny}};
  for (const SideInfo& s : side_table()) {
    EXPECT_EQ(side_cells(m, s.side).faces(), expected.at(s.key)) << s.key;
    // Each face of the unit grid is 1 long.
    EXPECT_EQ(side_length(m, s.side), static_cast<double>(expected.at(s.key))) << s.key;
  }
  EXPECT_EQ(boundary_face_count(m), 2 * (m.nx + m.ny));
  // Every boundary face on exactly one side: (i, j, face) of the faces with no volume across them.
  std::set<std::tuple<std::int32_t, std::int32_t, int>> boundary;
  for (std::int32_t j = 1; j <= m.ny; ++j)
    for (std::int32_t i = 1; i <= m.nx; ++i) {
      if (j == 1) boundary.insert({i, j, 1});
      if (i == m.nx) boundary.insert({i, j, 2});
      if (j == m.ny) boundary.insert({i, j, 3});
      if (i == 1) boundary.insert({i, j, 4});
    }
  std::map<std::tuple<std::int32_t, std::int32_t, int>, int> seen;
  for (const SideInfo& s : side_table()) {
    const int face = side_cells(m, s.side).face;
    for_each_side_face(m, s.side, [&](const BoundaryFace& f) {
      ++seen[{f.i, f.j, face}];
      // From corner `face` to the next, counter-clockwise.
      const BoundaryFace expected = boundary_face(f.i, f.j, face);
      EXPECT_EQ(std::tie(f.ai, f.aj, f.bi, f.bj),
                std::tie(expected.ai, expected.aj, expected.bi, expected.bj));
    });
  }
  EXPECT_EQ(seen.size(), boundary.size());
  for (const auto& [face, count] : seen) {
    EXPECT_TRUE(boundary.count(face)) << "an inner face on a side";
    EXPECT_EQ(count, 1) << "a face on two sides";
  }
}

INSTANTIATE_TEST_SUITE_P(Meshes, Sides,
                         testing::Values(Size{2, 1}, Size{3, 1}, Size{7, 2}, Size{11, 5},
                                         Size{40, 20}),
                         [](const testing::TestParamInfo<Size>& p) {
                           return std::to_string(p.param.nx) + "x" + std::to_string(p.param.ny);
                         });

TEST(BoundaryFace, RunsFromCornerToCornerCounterClockwise) {
  // Corners of cell (3, 5): (3, 5), (4, 5), (4, 6), (3, 6).
  const std::tuple<int, int, int, int> ends[] = {
      {3, 5, 4, 5}, {4, 5, 4, 6}, {4, 6, 3, 6}, {3, 6, 3, 5}};
  for (int face = 1; face <= 4; ++face) {
    const BoundaryFace f = boundary_face(3, 5, face);
    EXPECT_EQ(std::make_tuple(f.ai, f.aj, f.bi, f.bj), ends[face - 1]) << "face " << face;
  }
}

}  // namespace
