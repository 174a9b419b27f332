// The OpenFOAM case of --foam read back without OpenFOAM: the counts, the
// order OpenFOAM requires (inner faces upper-triangular, then the patches),
// every face's normal out of its owner, every cell closed; and the case
// folder never written through a link.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report/checks/records.h"
#include "report/exports/exports.h"
#include "report/exports/foam_case.h"
#include "report_case.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace malha::report;
using malha::test::TempDir;
using malha::test::tree;

// The items of an OpenFOAM list file: the lines between "(" and ")".
std::vector<std::string> items(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line) && line != "(") {
  }
  std::vector<std::string> out;
  while (std::getline(in, line) && line != ")") out.push_back(line);
  return out;
}

struct Vec {
  double x, y, z;
};
Vec operator-(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(Vec a, Vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

// nx by ny cells of a sheared grid: vertex (i, j) at (i + 0.3 j, j).
Mesh sheared_grid(std::int32_t nx, std::int32_t ny) {
  Mesh m;
  m.nx = nx;
  m.ny = ny;
  m.nxv = nx + 1;
  m.nyv = ny + 1;
  for (std::int32_t j = 0; j < m.nyv; ++j)
    for (std::int32_t i = 0; i < m.nxv; ++i) {
      m.xv.push_back(i + 0.3 * j);
      m.yv.push_back(j);
    }
  return m;
}

using Size = std::array<int, 2>;
class FoamCase : public testing::TestWithParam<Size> {};

TEST_P(FoamCase, OrderedClosedAndFacingOut) {
  const Mesh mesh = sheared_grid(GetParam()[0], GetParam()[1]);
  TempDir dir;
  write_foam(dir / "c_openfoam", mesh);
  const fs::path poly = dir / "c_openfoam" / "constant" / "polyMesh";
  std::vector<Vec> points;
  for (const std::string& p : items(poly / "points")) {
    Vec v{};
    std::istringstream(p.substr(1)) >> v.x >> v.y >> v.z;
    points.push_back(v);
  }
  const std::vector<std::string> faces = items(poly / "faces"), owner = items(poly / "owner"),
                                 neighbour = items(poly / "neighbour");
  const std::size_t cells = static_cast<std::size_t>(mesh.volumes());
  ASSERT_EQ(points.size(), 2 * static_cast<std::size_t>(mesh.vertices()));
  ASSERT_EQ(faces.size(), owner.size());
  // Each face's area vector, added to its owner's sum and taken from its
  // neighbour's: a closed cell sums to zero.
  std::vector<Vec> closure(cells, Vec{0, 0, 0}), centre(cells, Vec{0, 0, 0});
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i)
      centre[static_cast<std::size_t>((j - 1) * mesh.nx + i - 1)] = {
          (mesh.xv[mesh.at(i, j)] + mesh.xv[mesh.at(i + 1, j + 1)]) / 2,
          (mesh.yv[mesh.at(i, j)] + mesh.yv[mesh.at(i + 1, j + 1)]) / 2, 0.5};
  long previous_owner = -1, previous_neighbour = -1;
  for (std::size_t f = 0; f < faces.size(); ++f) {
    std::array<long, 4> p{};
    ASSERT_EQ(std::sscanf(faces[f].c_str(), "4(%ld %ld %ld %ld)", &p[0], &p[1], &p[2], &p[3]), 4);
    const Vec a = points[p[0]], b = points[p[1]], c = points[p[2]], d = points[p[3]];
    const Vec area = cross(c - a, d - b);  // twice the area vector
    const Vec middle{(a.x + c.x) / 2, (a.y + c.y) / 2, (a.z + c.z) / 2};
    const long o = std::stol(owner[f]);
    EXPECT_GT(dot(area, middle - centre[o]), 0) << "face " << f << " does not face out of " << o;
    closure[o] = {closure[o].x + area.x, closure[o].y + area.y, closure[o].z + area.z};
    if (f < neighbour.size()) {
      const long n = std::stol(neighbour[f]);
      EXPECT_LT(o, n);
      EXPECT_TRUE(o > previous_owner || (o == previous_owner && n > previous_neighbour))
          << "inner face " << f << " out of upper-triangular order";
      previous_owner = o;
      previous_neighbour = n;
      closure[n] = closure[n] - area;
    }
  }
  for (std::size_t k = 0; k < cells; ++k)
    EXPECT_NEAR(std::abs(closure[k].x) + std::abs(closure[k].y) + std::abs(closure[k].z), 0, 1e-12)
        << "cell " << k << " is not closed";
  EXPECT_EQ(neighbour.size(),
            static_cast<std::size_t>((mesh.nx - 1) * mesh.ny + mesh.nx * (mesh.ny - 1)));
}

INSTANTIATE_TEST_SUITE_P(Grids, FoamCase, testing::Values(Size{2, 1}, Size{5, 3}, Size{4, 4}),
                         [](const testing::TestParamInfo<Size>& p) {
                           return std::to_string(p.param[0]) + "x" + std::to_string(p.param[1]);
                         });

TEST(FoamCaseFolder, MadeOrTakenNeverThroughALink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory_symlink(dir / "real", dir / "link");
  malha::test::write_file(dir / "file", "x");
  struct Case {
    const char* name;
    const char* refusal;  // nullptr: taken
  } cases[] = {{"missing", nullptr}, {"real", nullptr}, {"link", "a link"}, {"file", "a file"}};
  for (const Case& c : cases) {
    if (c.refusal == nullptr) {
      EXPECT_NO_THROW(make_case_folder(dir / c.name)) << c.name;
      EXPECT_TRUE(fs::is_directory(dir / c.name)) << c.name;
      continue;
    }
    try {
      make_case_folder(dir / c.name);
      ADD_FAILURE() << c.name << " taken";
    } catch (const CheckFailure& e) {
      EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(fs::is_empty(dir / "real")) << "nothing written into the link's target";
}

TEST(FoamSystemFiles, WrittenOnlyWhereThereAreNone) {
  TempDir dir;
  malha::test::write_file(dir / "controlDict", "mine\n");
  EXPECT_EQ(write_system_files(dir.path()), 2);
  EXPECT_EQ(malha::test::read_file(dir / "controlDict"), "mine\n");
  EXPECT_TRUE(fs::exists(dir / "fvSchemes") && fs::exists(dir / "fvSolution"));
  EXPECT_EQ(write_system_files(dir.path()), 0);
}

// The mesh is its five files together: a target refused while a new mesh
// replaces an earlier one leaves the earlier one whole, and nothing beside
// it (before, points was already the new mesh's).
TEST(FoamMesh, ReplacedWholeOrNotAtAll) {
  TempDir dir;
  const fs::path folder = dir / "c_openfoam", poly = folder / "constant" / "polyMesh";
  write_foam(folder, sheared_grid(2, 1));
  for (const char* target : {"points", "boundary", "neighbour"}) {
    SCOPED_TRACE(target);
    fs::remove(poly / target);
    fs::create_symlink("elsewhere", poly / target);
    const auto before = tree(dir.path());
    EXPECT_THROW(write_foam(folder, sheared_grid(5, 3)), CheckFailure);
    EXPECT_EQ(tree(dir.path()), before);
    fs::remove(poly / target);
    write_foam(folder, sheared_grid(2, 1));
  }
}

// What an earlier mesh had beside its five files (zones and sets that
// number its cells) goes with it, and the line says so; a link goes as a
// link. With no earlier mesh nothing is touched.
TEST(FoamMesh, TheEarlierMeshsZonesAndSetsGoWithIt) {
  TempDir dir;
  const fs::path folder = dir / "c_openfoam", poly = folder / "constant" / "polyMesh";
  fs::create_directories(poly);
  malha::test::write_file(poly / "cellZones", "a zone before any mesh");
  EXPECT_EQ(write_foam(folder, sheared_grid(2, 1)), "with its system/ files");
  EXPECT_TRUE(fs::exists(poly / "cellZones"));
  malha::test::write_file(poly / "faceZones.gz", "zones");
  fs::create_directories(poly / "sets");
  malha::test::write_file(poly / "sets" / "left", "cells");
  malha::test::write_file(dir / "kept", "a file the link names");
  fs::create_symlink(dir / "kept", poly / "pointZones");
  EXPECT_EQ(write_foam(folder, sheared_grid(5, 3)),
            "keeping the system/ files that were there; removed the earlier mesh's cellZones, "
            "faceZones.gz, pointZones, sets/");
  for (const char* gone : {"cellZones", "faceZones.gz", "pointZones", "sets"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(poly / gone))) << gone;
  EXPECT_EQ(malha::test::read_file(dir / "kept"), "a file the link names");
  EXPECT_EQ(malha::test::listing(poly),
            (std::vector<std::string>{"boundary", "faces", "neighbour", "owner", "points"}));
}

}  // namespace
