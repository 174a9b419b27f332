// The warnings about a mesh: an odd nx with the area beyond the region,
// inverted and concave cells; the files the run summary lists.
#include <gtest/gtest.h>

#include <string>

#include "dados.h"
#include "dados/layout.h"
#include "malhas_segmentos.h"
#include "quality.h"
#include "run_report.h"
#include "support.h"

namespace {

struct WarningCase {
  const char* label;
  std::int32_t nx, ny;
  std::int64_t moved_vertex;  // 0 for none; else moved to x = -0.5
  const char* lines;
};

// Folded: vertex (2, 2) of a 4 x 2 mesh, (0.25, 0.625), moved to (-0.5, 0.625). Cell (1, 1),
// (0, 1), (0, 0.5), (-0.5, 0.625), (0.25, 1) in its corner order, has the area -0.078125: it is
// inverted, and so concave. Cell (2, 1), (0, 0.5), (0, 0), (0.25, 0.25), (-0.5, 0.625), keeps
// the area 0.015625 but turns clockwise at (-0.5, 0.625): concave. (1, 2), (2, 2) stay convex.
const WarningCase kWarningCases[] = {
    {"EvenNxUnfolded", 8, 4, 0, ""},
    {"OddNx", 11, 5, 0,
     "malha: warning: nx = 11 is odd: the right end of the mesh leans beyond x = 1 and the mesh "
     "covers 0.825, 0.075 more than the region's 0.75; an even nx fits the region\n"},
    {"InvertedAndConcaveCells", 4, 2, 7,
     "malha: warning: 1 inverted cell (area 0 or less); by area, the worst first: volume 1 "
     "(i = 1, j = 1) area -0.07812\n"
     "malha: warning: 2 concave cells (a corner of 180 degrees or more; inverted ones included); "
     "by area, the worst first: volume 1 (i = 1, j = 1) area -0.07812, volume 2 (i = 2, j = 1) "
     "area 0.01562\n"},
};

class Warnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, OneLineEachForAnOddNxInvertedAndConcaveCells) {
  const WarningCase& c = GetParam();
  malha::MeshState s;
  s.nx = c.nx;
  s.ny = c.ny;
  malha::derive_counters(s);
  malha::allocate_group_a(s);
  malha::build_algebraic_mesh(s);
  if (c.moved_vertex != 0) s.xv(c.moved_vertex) = -0.5;
  EXPECT_EQ(malha::mesh_warnings(s, malha::measure_mesh(s.xv.data(), s.yv.data(), s.nx, s.ny)),
            c.lines);
}

INSTANTIATE_TEST_SUITE_P(Meshes, Warnings, ::testing::ValuesIn(kWarningCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The summary lists every file of the sets written, each with its size: each
// set's file of sizes and vertices first, the files every case shares last.
struct SummaryCase {
  const char* label;
  std::int32_t opt_nest;
  const char* files;  // the lines from "wrote" on
};

const SummaryCase kSummaryCases[] = {
    {"MeshSet", 1,
     "malha: wrote c.txt 1 B, c_*.txt: vert 3 B, vert_fict 4 B, cent 5 B,\n"
     "       cent_fict 6 B, malha.txt 2 B, centroides.txt 7 B; 7 files, 28 B,\n"
     "       in 0.50 s\n"},
    {"BothSets", 2,
     "malha: wrote c.txt 1 B, c_*.txt: vert 3 B, vert_fict 4 B, cent 5 B,\n"
     "       cent_fict 6 B, nest 11 B, nest_conec 8 B, nest_vert 9 B, nest_cent 10 B,\n"
     "       nest_area 12 B, malha.txt 2 B, centroides.txt 7 B; 12 files, 78 B,\n"
     "       in 0.50 s\n"},
};

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, ListsTheFilesOfTheSetsWritten) {
  const malha::test::TempDir dir;
  const malha::test::ChangeDir cd(dir.path());
  malha::MeshState s;
  s.case_name = "c  ";
  s.nx = 4;
  s.ny = 2;
  s.opt_nest = GetParam().opt_nest;
  // File n of the table holds n bytes.
  for (const malha::FileLayout& f : malha::kOutputFiles)
    malha::test::write_file(malha::output_file_name(s, f.file),
                            std::string(static_cast<std::size_t>(f.file) + 1, 'x'));
  const std::string out = malha::run_summary(s, malha::MeshQuality{}, nullptr, 0.5);
  const std::size_t from = out.find("malha: wrote");
  ASSERT_NE(from, std::string::npos) << out;
  EXPECT_EQ(out.substr(from, out.find("malha: cells") - from), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(Sets, Summary, ::testing::ValuesIn(kSummaryCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
