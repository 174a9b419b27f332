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
#include <sstream>
#include <string>
#include <vector>

#include "helper_thread.h"
#include "smoothing/controls.h"
#include "smoothing/converge.h"
#include "smoothing/figure.h"
#include "smoothing/multigrid/cycle.h"
#include "smoothing/passes.h"
#include "support.h"
#include "variaveis.h"

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
  int smoothing = 2;
};

void put_inputs(const TempDir& dir, const std::string& name, const Case& c) {
  write_file(dir / "entradas.txt", name + "\n" + std::to_string(c.nx) + "\n" +
                                       std::to_string(c.ny) + "\n" + std::to_string(c.smoothing) +
                                       "\n" + std::to_string(c.nest) + "\n");
  write_file(dir / "entrada_eq_elipticas.txt",
             std::string("1\n1\n0.0\n") + c.dksi + "\n" + c.deta + "\n0\n0\n");
}

Files folder(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir))
    files[entry.path().filename().string()] = read_file(entry.path());
  return files;
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
  const std::vector<double>&x = m.x, &y = m.y;
  const int n = m.nxv;  // vertex (i, j) at p = j n + i
  double largest = 0.0;
  for (int j = 1; j + 1 < m.nyv; ++j) {
    for (int p = j * n + 1; p < j * n + n - 1; ++p) {
      const double xk = (x[p + 1] - x[p - 1]) / (2 * m.dksi),
                   yk = (y[p + 1] - y[p - 1]) / (2 * m.dksi);
      const double xe = (x[p + n] - x[p - n]) / (2 * m.deta),
                   ye = (y[p + n] - y[p - n]) / (2 * m.deta);
      const double alpha = xe * xe + ye * ye, gamma = xk * xk + yk * yk, beta = xk * xe + yk * ye;
      for (const std::vector<double>* u : {&x, &y}) {
        const std::vector<double>& v = *u;
        const double uss = v[p + 1] - 2 * v[p] + v[p - 1], uee = v[p + n] - 2 * v[p] + v[p - n];
        const double use = (v[p + n + 1] - v[p + n - 1] - v[p - n + 1] + v[p - n - 1]) / 4;
        const double residual = alpha * uss - 2 * beta * use + gamma * uee;
        largest = std::max(largest, std::fabs(residual) / (2 * alpha + 2 * gamma));
      }
    }
  }
  double shortest = HUGE_VAL;
  for (std::size_t p = 0; p < x.size(); ++p) {
    const auto edge = [&](std::size_t q) {
      shortest = std::min(shortest, std::hypot(x[q] - x[p], y[q] - y[p]));
    };
    if ((p + 1) % n != 0) edge(p + 1);
    if (p + n < x.size()) edge(p + n);
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
    // The first cycles fold this mesh: the run starts again by continuation in deta/dksi.
    {"SpacingsFarApart", {40, 20, "1.0", "0.3"}, {"--converge"}, 1e-10},
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
  EXPECT_EQ(a.size(), b.size());
  for (const auto& [name, bytes] : b) {
    ASSERT_EQ(a.count(name), 1u) << name;
    // The connectivity files hold no coordinate; the header records of the mesh file neither.
    if (name == "conv_vert.txt" || name == "conv_nest_conec.txt") {
      EXPECT_EQ(a.at(name), bytes);
    }
  }
  EXPECT_EQ(a.at("conv.txt").substr(0, 100), b.at("conv.txt").substr(0, 100));

  // The passes' mesh shows the figure can tell a mesh that does not solve the equations.
  EXPECT_LE(relative_figure(read_mesh(converged / "conv.txt")), t.tolerance);
  EXPECT_GT(relative_figure(read_mesh(passes / "conv.txt")), t.tolerance);

  // The same bytes on a second run.
  TempDir again;
  put_inputs(again, "conv", t.c);
  ASSERT_EQ(malha::test::run_program(MALHA_EXE, again.path(), {}, t.args).exit_status, 0);
  EXPECT_TRUE(folder(again.path()) == a);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvergedRun, ::testing::ValuesIn(kConverged),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Failures: a report, status 1, no output file; the two input files shown, nothing else run

struct FailureCase {
  const char* label;
  Case c;
  std::vector<std::string> args;
  std::string report;  // a part of the report
  bool started_again;  // the continuation in deta/dksi was tried, and the report says so
};

const FailureCase kFailures[] = {
    // Carried towards deta/dksi = 0.1, the cycles stop gaining near 0.16 (point Gauss-Seidel
    // passes give 18 inverted cells with 0.1): the report says how far the spacing ratio was
    // carried.
    {"RatioNotReached",
     {20, 10, "1.0", "0.1"},
     {"--converge"},
     "the cycles had been started again from the starting mesh with equal spacings, to carry "
     "deta/dksi from 1 to 0.1 step by step: this was the step to ",
     true},
    {"BelowRounding",
     {10, 5, "1.0", "1.0"},
     {"--converge=1e-16"},
     "rounding in the equations of this mesh",
     false},
    // With the spacings apart too: no spacing ratio helps rounding, the cycles are not taken
    // again.
    {"BelowRoundingSpacingsApart",
     {10, 5, "1.0", "0.5"},
     {"--converge=1e-16"},
     "rounding in the equations of this mesh",
     false},
    // A graded mesh's shortest edge is small: the tolerance given is held to.
    {"GradedBelowItsRounding",
     {100, 50, "1.0", "1.0"},
     {"--grade=4", "--converge=1e-10"},
     "a tolerance above 5.30E-09 can be reached",
     false},
};

// The default tolerance is taken as far as rounding allows, with one warning line: the run
// writes the mesh that rounding leaves, which the files' own figure confirms.
TEST(ConvergeDefault, StopsWhereRoundingLeavesAGradedMeshAndSaysSo) {
  TempDir dir;
  put_inputs(dir, "graded", {100, 50, "1.0", "1.0"});
  const RunResult got =
      malha::test::run_program(MALHA_EXE, dir.path(), {}, {"--grade=4", "--converge"});
  ASSERT_EQ(got.exit_status, 0) << visible(got.stderr_text);
  EXPECT_EQ(got.stderr_text,
            "malha: warning: --converge: the smoothing stopped where rounding leaves this mesh, at "
            "6.32E-09 of its shortest edge, above the default tolerance 1E-10 (a graded mesh's "
            "shortest edge is small); --converge=TOL asks for TOL or a report\n");
  const double figure = relative_figure(read_mesh(dir / "graded.txt"));
  EXPECT_GT(figure, 1e-10);
  EXPECT_LT(figure, 1e-8);
}

// The files hold 16 significant digits. On a mesh whose shortest edge is 8e-6 the figure of the
// mesh in memory meets the default tolerance where the same mesh, as the files hold it, does
// not: the run claims convergence only when the files' figure (malha-report's) confirms it,
// and otherwise warns, naming the files' digits.
TEST(ConvergeDefault, ClaimsOnlyWhatTheFilesHold) {
  TempDir dir;
  put_inputs(dir, "fine", {179, 89, "4.0", "1.0"});
  const RunResult got = malha::test::run_program(MALHA_EXE, dir.path(), {}, {"--converge"});
  ASSERT_EQ(got.exit_status, 0) << visible(got.stderr_text);
  const FileMesh m = read_mesh(dir / "fine.txt");
  const double figure =
      malha::convergence_figure(m.x.data(), m.y.data(), m.nxv, m.nyv, m.dksi, m.deta).relative;
  if (got.stderr_text.find("16 significant digits of its files") == std::string::npos)
    EXPECT_LE(figure, 1e-10) << visible(got.stderr_text);
  else
    EXPECT_GT(figure, 1e-10);
}

class ConvergeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ConvergeFailure, EndsWithAReportAndWritesNothing) {
  const FailureCase& t = GetParam();
  TempDir dir;
  put_inputs(dir, "fail", t.c);
  const Files inputs = folder(dir.path());
  const RunResult got = malha::test::run_program(MALHA_EXE, dir.path(), {}, t.args);
  EXPECT_EQ(got.exit_status, 1);
  const std::string head = "\r\nrun-time error F6901: CONVERGE(entrada_eq_elipticas.txt)\r\n- ";
  EXPECT_EQ(got.stderr_text.rfind(head, 0), 0u) << visible(got.stderr_text);
  EXPECT_NE(got.stderr_text.find(t.report), std::string::npos) << visible(got.stderr_text);
  // The figure reached is named, and the report is its three lines alone.
  EXPECT_NE(got.stderr_text.find("of the shortest edge"), std::string::npos);
  EXPECT_EQ(std::count(got.stderr_text.begin(), got.stderr_text.end(), '\n'), 3);
  // What was observed, never a claim about the equations.
  EXPECT_EQ(got.stderr_text.find("no solution"), std::string::npos);
  EXPECT_EQ(got.stderr_text.find("started again") != std::string::npos, t.started_again);
  EXPECT_TRUE(folder(dir.path()) == inputs) << "a file was written";
  const std::vector<std::string> shown = {"notepad entradas.txt",
                                          "notepad entrada_eq_elipticas.txt"};
  EXPECT_EQ(got.commands, shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvergeFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.label); });

// Runs the flag leaves as they are: the status, the report, the files and the commands of the same
// run without it, behind a warning when smoothing is off.
struct AsWithoutCase {
  const char* label;
  Case c;
  int status;
  std::string warning;
  const char* report;  // a part of standard error
};

const std::string kNothingToDo =
    "malha: warning: --converge has nothing to do: smoothing is off in entradas.txt\n";

const AsWithoutCase kAsWithout[] = {
    {"SmoothingOff", {8, 4, "1.0", "1.0", 2, 1}, 0, kNothingToDo, "nothing to do"},
    // A floating-point fault of the starting mesh: dksi = 0 divides by zero, a subnormal dksi
    // overflows.
    {"SpacingZero", {4, 2, "0.0", "1.0", 2}, 1, "", "run-time error M6103"},
    {"SpacingSubnormal", {4, 2, "1e-320", "1.0", 2}, 1, "", "run-time error M6104"},
    // Spacings whose coefficients overflow in the passes' sweeps: the cycles
    // would meet a NaN (invalid) first.
    {"SpacingTiny", {20, 10, "1e-300", "1.0", 2}, 1, "", "run-time error M6104"},
    {"SpacingsTinyBoth", {20, 10, "1e-160", "1e-160", 2}, 1, "", "run-time error M6104"},
    {"SpacingsHuge", {20, 10, "1e300", "1e300", 2}, 1, "", "run-time error M6103"},
};

class AsWithoutTheFlag : public ::testing::TestWithParam<AsWithoutCase> {};

TEST_P(AsWithoutTheFlag, SameRunAndReport) {
  const AsWithoutCase& t = GetParam();
  TempDir with, without;
  put_inputs(with, "as", t.c);
  put_inputs(without, "as", t.c);
  const RunResult a = malha::test::run_program(MALHA_EXE, with.path(), {}, {"--converge"});
  const RunResult b = malha::test::run_program(MALHA_EXE, without.path());
  EXPECT_EQ(a.exit_status, t.status);
  EXPECT_EQ(b.exit_status, t.status);
  EXPECT_EQ(visible(a.stderr_text), visible(t.warning + b.stderr_text));
  EXPECT_NE(a.stderr_text.find(t.report), std::string::npos) << visible(a.stderr_text);
  EXPECT_EQ(a.commands, b.commands);
  EXPECT_TRUE(folder(with.path()) == folder(without.path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, AsWithoutTheFlag, ::testing::ValuesIn(kAsWithout),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// In the library: agreement with long point Gauss-Seidel runs, one thread or two

struct LibraryCase {
  int nx, ny;
  double dksi, deta;
  int passes;  // point Gauss-Seidel passes of one sweep, long enough to have converged; 0: none
  // The cycles the smoothing takes, within a band that a fault slowing the cycles would leave
  // (a restriction with the wrong weights turns 11 cycles into dozens).
  int least_cycles, most_cycles;
  double grading = 1.0;   // --grade
  bool controls = false;  // --control: the source terms from the starting mesh
};

// The algebraic mesh of a case, graded as asked, ready for smoothing.
std::unique_ptr<malha::MeshState> start_mesh(const LibraryCase& t) {
  auto s = malha::test::algebraic_mesh(t.nx, t.ny, t.grading);
  s->opt_elliptic = 2;
  s->dksi = t.dksi;
  s->deta = t.deta;
  malha::allocate_group_b(*s);
  if (t.controls) {
    malha::fill_controls(*s);
    s->controls = true;
  }
  return s;
}

class InTheLibrary : public ::testing::TestWithParam<LibraryCase> {};

// The same mesh on one thread and two (the large meshes share their lines with the helper
// thread), and on one thread without the four-lane loops of level 0 (AVX2), within 1e-6 of the
// shortest edge of the mesh the passes reach.
TEST_P(InTheLibrary, SameOnTwoThreadsAndAgreesWithThePasses) {
  const LibraryCase& t = GetParam();
  ASSERT_NE(malha::HelperThread::shared(), nullptr) << "no second thread to compare with";
  constexpr int kWays = 3;  // one thread, two threads, one thread on two lanes only
  std::unique_ptr<malha::MeshState> meshes[kWays];
  malha::ConvergedSmoothing done[kWays];
  for (int k = 0; k < kWays; ++k) {
    meshes[k] = start_mesh(t);
    malha::SmoothingOptions options;
    options.threads = k == 1 ? 2 : 1;
    options.avx2 = k != 2;
    done[k] = malha::converge_smoothing(*meshes[k], 1e-10, false, options);
  }
  const malha::MeshState& converged = *meshes[0];
  EXPECT_LE(done[0].figure.relative, 1e-10);
  EXPECT_GE(done[0].cycles, t.least_cycles);
  EXPECT_LE(done[0].cycles, t.most_cycles);
  const auto bytes = static_cast<std::size_t>(converged.nvert) * sizeof(double);
  for (int k = 1; k < kWays; ++k) {
    EXPECT_EQ(done[0].cycles, done[k].cycles) << "way " << k;
    EXPECT_EQ(std::memcmp(converged.xv.data(), meshes[k]->xv.data(), bytes), 0) << "way " << k;
    EXPECT_EQ(std::memcmp(converged.yv.data(), meshes[k]->yv.data(), bytes), 0) << "way " << k;
  }
  if (t.passes == 0) return;
  auto passes = start_mesh(t);
  passes->nsweep = 1;
  malha::SmoothingWorkspace workspace;
  for (int pass = 0; pass < t.passes; ++pass) malha::smoothing_pass(*passes, {}, workspace);
  double distance = 0.0;
  for (std::int64_t k = 1; k <= converged.nvert; ++k) {
    distance = std::max(
        distance, std::hypot(converged.xv(k) - passes->xv(k), converged.yv(k) - passes->yv(k)));
  }
  EXPECT_LT(distance, 1e-6 * done[0].figure.smallest_edge);
}

INSTANTIATE_TEST_SUITE_P(Meshes, InTheLibrary,
                         ::testing::Values(LibraryCase{10, 6, 1.0, 1.0, 5000, 8, 11},
                                           LibraryCase{20, 10, 1.0, 0.5, 20000, 11, 14},
                                           LibraryCase{40, 20, 1.0, 1.0, 20000, 8, 11},
                                           LibraryCase{200, 100, 1.0, 1.0, 0, 10, 13},
                                           LibraryCase{301, 63, 1.0, 0.7, 0, 14, 18}));

// Spacings far apart: the first cycles from the algebraic mesh fold it, and the cycles went on to
// a mesh with inverted cells, or stopped gaining, where the passes reach a sound mesh; the
// continuation in the spacing ratio reaches the passes' mesh.
INSTANTIATE_TEST_SUITE_P(SpacingsApart, InTheLibrary,
                         ::testing::Values(LibraryCase{40, 20, 1.0, 0.3, 50000, 31, 38},
                                           LibraryCase{20, 10, 1.0, 0.25, 50000, 30, 37},
                                           LibraryCase{41, 20, 1.0, 0.25, 50000, 68, 82},
                                           LibraryCase{41, 20, 3.0, 1.0, 50000, 26, 33},
                                           LibraryCase{40, 20, 1.0, 3.0, 50000, 7, 10},
                                           LibraryCase{41, 20, 1.0, 0.5, 50000, 27, 34, 2.0}));

// With the control functions' source terms (--control) the cycles solve the equations the passes
// solve with them: the coarse levels take the sources at their vertices, and near the outer
// corner, where the sources outweigh the second differences, hybrid differences (a finer grading
// or spacing pulls harder).
INSTANTIATE_TEST_SUITE_P(WithControls, InTheLibrary,
                         ::testing::Values(LibraryCase{20, 10, 1.0, 1.0, 20000, 13, 18, 1.0, true},
                                           LibraryCase{40, 20, 1.0, 1.0, 20000, 19, 26, 1.0, true},
                                           LibraryCase{41, 20, 1.0, 1.0, 20000, 18, 25, 1.0, true},
                                           LibraryCase{40, 20, 1.0, 1.0, 20000, 15, 20, 2.0, true},
                                           LibraryCase{24, 12, 1.0, 0.5, 50000, 21, 28, 1.0, true},
                                           LibraryCase{24, 12, 2.0, 1.0, 50000, 21, 28, 1.0, true},
                                           LibraryCase{200, 100, 1.0, 1.0, 0, 37, 48, 1.0, true},
                                           LibraryCase{200, 100, 1.0, 1.0, 0, 50, 64, 2.0, true}));

// The observer sees the state after every cycle, numbered from 0 to the cycles run, the last
// being the result; where the cycles start again (from the starting mesh, or from the mesh of a
// step of the continuation), the number repeats.
TEST(ConvergeObserver, SeesEveryCycleAndTheStartsAgain) {
  const LibraryCase t{40, 20, 1.0, 0.3, 0, 0, 100};
  auto s = start_mesh(t);
  std::vector<malha::ConvergeStep> steps;
  const malha::ConvergedSmoothing done = malha::converge_smoothing(
      *s, 1e-10, false, {}, [&](const malha::ConvergeStep& step) { steps.push_back(step); });
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front().cycle, 0);
  EXPECT_EQ(steps.back().cycle, done.cycles);
  EXPECT_LE(steps.back().largest_move, 1e-10 * done.figure.smallest_edge);
  std::vector<int> starts;
  for (std::size_t k = 1; k < steps.size(); ++k) {
    const int gap = steps[k].cycle - steps[k - 1].cycle;
    EXPECT_TRUE(gap == 1 || gap == 0) << k;
    if (gap == 0) starts.push_back(steps[k].cycle);
  }
  // The first cycles fold this mesh and are given up within a few cycles; then equal spacings
  // and at least one step of the ratio.
  ASSERT_GE(starts.size(), 2u);
  EXPECT_LE(starts.front(), 6);
}

// Where rounding holds the figure of a graded mesh above the tolerance, the cycles stop a few
// after the move stopped falling (they waited 15, 44 cycles in all on this mesh). That they
// stop at rounding, and the figure they reach, the whole run of this mesh shows
// (ConvergeDefault).
TEST(ConvergeAtRounding, StopsSoonOnceTheMoveStopsFalling) {
  const LibraryCase t{100, 50, 1.0, 1.0, 0, 33, 37, 4.0};
  auto s = start_mesh(t);
  const malha::ConvergedSmoothing done = malha::converge_smoothing(*s, 1e-10, true);
  EXPECT_GE(done.cycles, t.least_cycles);
  EXPECT_LE(done.cycles, t.most_cycles);
}

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
