// Smoothing to convergence (malha --converge): the mesh written solves the smoothing equations
// (the figure computed here, from the files), agrees with long point Gauss-Seidel runs, is the
// same on one or two threads and leaves everything else of the run as it is; a run that cannot
// converge ends with a report, status 1 and no output file, and the floating-point reports are
// those of a run without the flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "solvers.h"
#include "solvers_converge.h"
#include "solvers_multigrid.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::test::read_file;
using malha::test::RunResult;
using malha::test::TempDir;
using malha::test::visible;
using malha::test::write_file;

using Files = std::map<std::string, std::string>;

struct Case {
  int nx, ny;
  const char* dksi;
  const char* deta;
  int nest = 1;
};

void put_inputs(const TempDir& dir, const std::string& name, const Case& c) {
  write_file(dir / "entradas.txt", name + "\n" + std::to_string(c.nx) + "\n" +
                                       std::to_string(c.ny) + "\n2\n" + std::to_string(c.nest) +
                                       "\n");
  write_file(dir / "entrada_eq_elipticas.txt",
             std::string("5\n100\n0.0\n") + c.dksi + "\n" + c.deta + "\n0\n0\n");
}

Files folder(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] = read_file(entry.path());
  return files;
}

std::set<std::string> names(const Files& files) {
  std::set<std::string> out;
  for (const auto& entry : files) out.insert(entry.first);
  return out;
}

// The mesh of a case's first file: the counters, the spacings, then x and y of every vertex.
struct FileMesh {
  int nxv = 0, nyv = 0;
  double dksi = 0.0, deta = 0.0;
  std::vector<double> x, y;
};

FileMesh read_mesh(const fs::path& file) {
  std::istringstream in(read_file(file));
  FileMesh m;
  int nx = 0, ny = 0;
  in >> nx >> ny >> m.nxv >> m.nyv;
  in.ignore(1 << 20, '\n');
  in >> m.deta >> m.dksi;  // the header record holds deta first
  m.x.resize(static_cast<std::size_t>(m.nxv) * m.nyv);
  m.y.resize(m.x.size());
  for (std::size_t k = 0; k < m.x.size(); ++k) in >> m.x[k] >> m.y[k];
  EXPECT_TRUE(in) << file;
  return m;
}

// The convergence figure, from the equations as they stand: at every interior vertex, with
// central differences scaled by the spacings, alpha u_ksiksi - 2 beta u_ksieta + gamma u_etaeta
// over the central coefficient 2 alpha + 2 gamma, for u = x and y; the largest, over the
// shortest edge.
double relative_figure(const FileMesh& m) {
  const auto at = [&](const std::vector<double>& u, int i, int j) { return u[j * m.nxv + i]; };
  double largest = 0.0;
  for (int j = 1; j + 1 < m.nyv; ++j) {
    for (int i = 1; i + 1 < m.nxv; ++i) {
      const double xk = (at(m.x, i + 1, j) - at(m.x, i - 1, j)) / (2 * m.dksi);
      const double yk = (at(m.y, i + 1, j) - at(m.y, i - 1, j)) / (2 * m.dksi);
      const double xe = (at(m.x, i, j + 1) - at(m.x, i, j - 1)) / (2 * m.deta);
      const double ye = (at(m.y, i, j + 1) - at(m.y, i, j - 1)) / (2 * m.deta);
      const double alpha = xe * xe + ye * ye, gamma = xk * xk + yk * yk;
      const double beta = xk * xe + yk * ye;
      for (const std::vector<double>* u : {&m.x, &m.y}) {
        const double uss = at(*u, i + 1, j) - 2 * at(*u, i, j) + at(*u, i - 1, j);
        const double uee = at(*u, i, j + 1) - 2 * at(*u, i, j) + at(*u, i, j - 1);
        const double use = (at(*u, i + 1, j + 1) - at(*u, i - 1, j + 1) - at(*u, i + 1, j - 1) +
                            at(*u, i - 1, j - 1)) /
                           4;
        const double residual = alpha * uss - 2 * beta * use + gamma * uee;
        largest = std::max(largest, std::fabs(residual) / (2 * alpha + 2 * gamma));
      }
    }
  }
  double shortest = HUGE_VAL;
  for (int j = 0; j < m.nyv; ++j) {
    for (int i = 0; i < m.nxv; ++i) {
      if (i + 1 < m.nxv)
        shortest = std::min(shortest, std::hypot(at(m.x, i + 1, j) - at(m.x, i, j),
                                                 at(m.y, i + 1, j) - at(m.y, i, j)));
      if (j + 1 < m.nyv)
        shortest = std::min(shortest, std::hypot(at(m.x, i, j + 1) - at(m.x, i, j),
                                                 at(m.y, i, j + 1) - at(m.y, i, j)));
    }
  }
  return largest / shortest;
}

// ---------------------------------------------------------------------------------------------
// Converged runs

struct ConvergedCase {
  const char* label;
  Case c;
  std::vector<std::string> args;
  double tolerance;
};

const ConvergedCase kConverged[] = {
    {"Example", {40, 20, "1.0", "1.0", 2}, {"--converge"}, 1e-10},
    {"OddNx", {21, 9, "1.0", "1.0"}, {"--converge"}, 1e-10},
    {"UnequalSpacings", {30, 10, "1.0", "0.5"}, {"--converge"}, 1e-10},
    {"ToleranceGiven", {40, 20, "2.0", "1.0"}, {"--converge=1e-6"}, 1e-6},
    {"TightTolerance", {16, 8, "1.0", "1.0"}, {"--converge=1e-12"}, 1e-12},
    {"OneInteriorRow", {12, 2, "1.0", "1.0"}, {"--converge"}, 1e-10},
};

class ConvergedRun : public ::testing::TestWithParam<ConvergedCase> {};

// The mesh written satisfies the equations to the tolerance; everything but the coordinates is
// as in a run of the same case without the flag: the files, the commands, the header records.
TEST_P(ConvergedRun, SolvesTheEquationsAndChangesNothingElse) {
  const ConvergedCase& t = GetParam();
  TempDir converged, passes;
  put_inputs(converged, "conv", t.c);
  put_inputs(passes, "conv", t.c);
  const RunResult got = malha::test::run_program(MALHA_EXE, converged.path(), {}, t.args);
  const RunResult plain = malha::test::run_program(MALHA_EXE, passes.path());
  ASSERT_EQ(got.exit_status, 0) << visible(got.stderr_text);
  EXPECT_EQ(got.stderr_text, plain.stderr_text);  // the odd-nx warning alone, or nothing
  EXPECT_EQ(got.commands, plain.commands);
  const Files a = folder(converged.path()), b = folder(passes.path());
  EXPECT_EQ(names(a), names(b));
  EXPECT_EQ(a.at("conv_vert.txt"), b.at("conv_vert.txt"));                      // connectivity
  EXPECT_EQ(a.at("conv.txt").substr(0, 100), b.at("conv.txt").substr(0, 100));  // header
  if (t.c.nest == 2) {
    EXPECT_EQ(a.at("conv_nest_conec.txt"), b.at("conv_nest_conec.txt"));
  }

  const double figure = relative_figure(read_mesh(converged / "conv.txt"));
  EXPECT_LE(figure, t.tolerance);

  // The same bytes on a second run.
  TempDir again;
  put_inputs(again, "conv", t.c);
  ASSERT_EQ(malha::test::run_program(MALHA_EXE, again.path(), {}, t.args).exit_status, 0);
  EXPECT_TRUE(folder(again.path()) == a);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvergedRun, ::testing::ValuesIn(kConverged),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ConvergeOption, WithoutSmoothingSaysItHasNothingToDo) {
  TempDir with, without;
  for (const TempDir* dir : {&with, &without})
    write_file(*dir / "entradas.txt", "plain\n8\n4\n1\n2\n");
  const RunResult a = malha::test::run_program(MALHA_EXE, with.path(), {}, {"--converge"});
  const RunResult b = malha::test::run_program(MALHA_EXE, without.path());
  EXPECT_EQ(a.exit_status, 0);
  EXPECT_EQ(visible(a.stderr_text),
            visible("malha: warning: --converge has nothing to do: smoothing is off in "
                    "entradas.txt\n"));
  EXPECT_EQ(a.commands, b.commands);
  EXPECT_TRUE(folder(with.path()) == folder(without.path()));
}

// ---------------------------------------------------------------------------------------------
// Failures: a report, status 1, no output file; the two input files shown, nothing else run

struct FailureCase {
  const char* label;
  Case c;
  std::vector<std::string> args;
  std::string report;  // a part of the report
};

const FailureCase kFailures[] = {
    {"SolutionInvertsCells",
     {20, 10, "1.0", "0.1"},
     {"--converge"},
     "the solution of the smoothing equations inverts 18 cells"},
    {"DoesNotConverge",
     {200, 100, "1.0", "0.3"},
     {"--converge"},
     "the move has not halved in 15 cycles"},
    {"BelowRounding",
     {10, 5, "1.0", "1.0"},
     {"--converge=1e-16"},
     "rounding in the equations of this mesh"},
};

class ConvergeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ConvergeFailure, EndsWithAReportAndWritesNothing) {
  const FailureCase& t = GetParam();
  TempDir dir;
  put_inputs(dir, "fail", t.c);
  const Files inputs = folder(dir.path());
  const RunResult got = malha::test::run_program(MALHA_EXE, dir.path(), {}, t.args);
  EXPECT_EQ(got.signal, 0);
  EXPECT_EQ(got.exit_status, 1);
  const std::string head = "\r\nrun-time error F6901: CONVERGE(entrada_eq_elipticas.txt)\r\n- ";
  EXPECT_EQ(got.stderr_text.rfind(head, 0), 0u) << visible(got.stderr_text);
  EXPECT_NE(got.stderr_text.find(t.report), std::string::npos) << visible(got.stderr_text);
  // The figure reached is named, and the report is its three lines alone.
  EXPECT_NE(got.stderr_text.find("of the shortest edge"), std::string::npos);
  EXPECT_EQ(std::count(got.stderr_text.begin(), got.stderr_text.end(), '\n'), 3);
  EXPECT_TRUE(folder(dir.path()) == inputs) << "a file was written";
  const std::vector<std::string> shown = {"notepad entradas.txt",
                                          "notepad entrada_eq_elipticas.txt"};
  EXPECT_EQ(got.commands, shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvergeFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.label); });

// A floating-point fault of the starting mesh: the report, status, files and commands of the
// same run without the flag.
class ConvergeTrap : public ::testing::TestWithParam<const char*> {};

TEST_P(ConvergeTrap, IsReportedAsWithoutTheFlag) {
  TempDir with, without;
  const Case c{4, 2, GetParam(), "1.0", 2};
  put_inputs(with, "trap", c);
  put_inputs(without, "trap", c);
  const RunResult a = malha::test::run_program(MALHA_EXE, with.path(), {}, {"--converge"});
  const RunResult b = malha::test::run_program(MALHA_EXE, without.path());
  EXPECT_EQ(a.exit_status, 1);
  EXPECT_EQ(a.exit_status, b.exit_status);
  EXPECT_EQ(visible(a.stderr_text), visible(b.stderr_text));
  EXPECT_NE(a.stderr_text.find("run-time error M610"), std::string::npos);
  EXPECT_EQ(a.commands, b.commands);
  EXPECT_TRUE(folder(with.path()) == folder(without.path()));
}

// dksi = 0 divides by zero (M6103); a subnormal dksi overflows (M6104).
INSTANTIATE_TEST_SUITE_P(Spacings, ConvergeTrap, ::testing::Values("0.0", "1e-320"),
                         [](const auto& info) { return info.index == 0 ? "Zero" : "Subnormal"; });

// ---------------------------------------------------------------------------------------------
// In the library: agreement with long point Gauss-Seidel runs, one thread or two

struct AgreementCase {
  int nx, ny;
  double deta;
  int passes;
};

class AgreesWithPointGaussSeidel : public ::testing::TestWithParam<AgreementCase> {};

// Passes of one sweep each, long enough to have converged themselves: the largest distance
// between the two meshes is well under 1e-6 of the shortest edge.
TEST_P(AgreesWithPointGaussSeidel, AfterEnoughPasses) {
  const AgreementCase& t = GetParam();
  auto converged = malha::test::smoothing_mesh(t.nx, t.ny, 1.0, t.deta);
  auto passes = malha::test::smoothing_mesh(t.nx, t.ny, 1.0, t.deta);
  const malha::ConvergedSmoothing done = malha::converge_smoothing(*converged, 1e-10);
  passes->nsweep = 1;
  for (int pass = 0; pass < t.passes; ++pass) malha::smoothing_pass(*passes, {});
  double distance = 0.0;
  for (std::int64_t k = 1; k <= converged->nvert; ++k) {
    distance = std::max(
        distance, std::hypot(converged->xv(k) - passes->xv(k), converged->yv(k) - passes->yv(k)));
  }
  EXPECT_LT(distance, 1e-6 * done.figure.smallest_edge);
  EXPECT_LE(done.figure.relative, 1e-10);
}

INSTANTIATE_TEST_SUITE_P(Meshes, AgreesWithPointGaussSeidel,
                         ::testing::Values(AgreementCase{10, 6, 1.0, 5000},
                                           AgreementCase{20, 10, 0.5, 20000},
                                           AgreementCase{40, 20, 1.0, 20000}));

class SameOnTwoThreads : public ::testing::TestWithParam<Case> {};

// Meshes large enough for the relaxations to share their lines with the helper thread.
TEST_P(SameOnTwoThreads, AsOnOne) {
  const Case& c = GetParam();
  std::unique_ptr<malha::MeshState> meshes[2];
  malha::ConvergedSmoothing done[2];
  for (int t = 0; t < 2; ++t) {
    meshes[t] = malha::test::smoothing_mesh(c.nx, c.ny, std::stod(c.dksi), std::stod(c.deta));
    malha::SmoothingOptions options;
    options.threads = t + 1;
    done[t] = malha::converge_smoothing(*meshes[t], 1e-10, options);
  }
  EXPECT_EQ(done[0].cycles, done[1].cycles);
  const auto bytes = static_cast<std::size_t>(meshes[0]->nvert) * sizeof(double);
  EXPECT_EQ(std::memcmp(meshes[0]->xv.data(), meshes[1]->xv.data(), bytes), 0);
  EXPECT_EQ(std::memcmp(meshes[0]->yv.data(), meshes[1]->yv.data(), bytes), 0);
}

INSTANTIATE_TEST_SUITE_P(Meshes, SameOnTwoThreads,
                         ::testing::Values(Case{200, 100, "1.0", "1.0"},
                                           Case{301, 63, "1.0", "0.7"}));

// ---------------------------------------------------------------------------------------------
// The coarser grids: both ends kept, every step of 2 or 3 fine ones (3 only last), transfers
// whose weights make up 1.

class Coarsening : public ::testing::TestWithParam<int> {};

TEST_P(Coarsening, KeepsTheEndsAndWeighsToOne) {
  const int n = GetParam();
  std::vector<double> position(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) position[i] = i;
  malha::multigrid::Axis fine = malha::multigrid::make_axis(position, 1.0);
  const malha::multigrid::Axis coarse = malha::multigrid::coarsen(fine, 1.0);
  ASSERT_GE(coarse.n, 2);
  EXPECT_EQ(coarse.position.front(), 0.0);
  EXPECT_EQ(coarse.position.back(), n - 1.0);
  for (int c = 1; c < coarse.n; ++c) {
    const double step = coarse.position[c] - coarse.position[c - 1];
    const bool last = c == coarse.n - 1;
    EXPECT_TRUE(step == 2.0 || (last && step == 3.0) || (n <= 4 && step == 1.0)) << c;
  }
  for (int c = 1; c + 1 < coarse.n; ++c) {
    double sum = 0.0;
    for (int k = fine.restrict_start[c]; k < fine.restrict_start[c + 1]; ++k)
      sum += fine.restrict_weight[k];
    EXPECT_NEAR(sum, 1.0, 1e-15);
  }
  // Interpolation reproduces a linear function of the position exactly.
  for (int f = 0; f < n; ++f) {
    const int c = fine.below[f];
    const double next = c + 1 < coarse.n ? coarse.position[c + 1] : 0.0;
    EXPECT_NEAR(fine.weight[f] * coarse.position[c] + (1 - fine.weight[f]) * next, f, 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Coarsening, ::testing::Values(3, 4, 5, 6, 9, 10, 41, 42));

}  // namespace
