// The fast paths against the plain reference: smoothing passes give
// memcmp-identical coordinates and stop with the same report on the same
// meshes; the direct E25.15 renderer and the block writers give the same
// bytes as the format-driven record writer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "files/dados.h"
#include "helper_thread.h"
#include "mesh/processamento.h"
#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/controls.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "support.h"
#include "textio.h"
#include "variaveis.h"

namespace malha {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<MeshState> mesh(std::int32_t nx, std::int32_t ny, std::int32_t nsweep,
                                double dksi = 1.0, double deta = 1.0, double grading = 1.0) {
  auto s = test::smoothing_mesh(nx, ny, dksi, deta, grading);
  s->case_name = "caso";
  s->case_name.resize(kCaseNameLength, ' ');
  s->opt_nest = 2;
  s->nsweep = nsweep;
  return s;
}

constexpr SmoothingOptions kPlain{.fast = false};
constexpr SmoothingOptions kFast{};

bool same_bits(const Array1<double>& a, const Array1<double>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), static_cast<std::size_t>(a.size()) * sizeof(double)) == 0;
}

void scale_coordinates(MeshState& s, double factor) {
  for (std::int64_t k = 1; k <= s.nvert; ++k) {
    s.xv(k) *= factor;
    s.yv(k) *= factor;
  }
}

// ---------------------------------------------------------------------------
// Smoothing.

// Which path a parameterised case runs.
enum class Path { Plain, Fast };

struct Shape {
  std::int32_t nx, ny, nsweep, passes;
};

TEST(FastSmoothing, SameCoordinatesAsThePlainPassesOnManyShapes) {
  // Odd and even nx, ny = 1 and 2 (no interior row, one interior row), rows
  // shorter than the rows in flight, many sweeps per pass, and larger meshes;
  // sweeps compared for a change, without one that changes nothing (40 x 20)
  // and with one just before the last sweep (20 x 8 settles at sweep 388).
  const Shape shapes[] = {{2, 1, 1, 3},    {2, 2, 1, 3},      {2, 2, 7, 2},     {3, 2, 2, 4},
                          {5, 2, 3, 3},    {4, 3, 2, 5},      {7, 4, 1, 6},     {8, 5, 10, 3},
                          {9, 6, 2, 4},    {13, 3, 5, 3},     {40, 20, 1, 30},  {41, 21, 2, 10},
                          {64, 9, 10, 4},  {120, 61, 3, 5},   {201, 100, 1, 4}, {300, 2, 4, 3},
                          {6, 40, 3, 5},   {400, 200, 10, 1}, {17, 3, 16, 2},   {40, 20, 60, 3},
                          {20, 8, 389, 1}, {20, 8, 390, 2},   {3, 3, 40, 3}};
  ASSERT_NE(HelperThread::shared(), nullptr) << "no second thread to compare with";
  for (int threads : {1, 2, 3}) {
    // 1 and 2 threads; then one thread without AVX2.
    const SmoothingOptions fast_options{.threads = threads == 3 ? 1 : threads,
                                        .avx2 = threads != 3};
    for (const Shape& shape : shapes) {
      for (const auto& [dksi, deta] : {std::pair{1.0, 1.0}, std::pair{0.7, 1.3}}) {
        auto plain = mesh(shape.nx, shape.ny, shape.nsweep, dksi, deta);
        auto fast = mesh(shape.nx, shape.ny, shape.nsweep, dksi, deta);
        for (int pass = 1; pass <= shape.passes; ++pass) {
          smoothing_pass(*plain, kPlain);
          smoothing_pass(*fast, fast_options);
        }
        EXPECT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv))
            << shape.nx << "x" << shape.ny << " nsweep " << shape.nsweep << " dksi " << dksi
            << " threads " << threads;
      }
    }
  }
}

// With the control functions of --control the fast pass solves the
// equations with their source terms (six coefficient arrays instead of
// four): the plain pass's coordinates on graded meshes, odd nx, spacings
// apart, rows too short for the wavefront, and sweeps watched for a change.
struct ControlledShape {
  std::int32_t nx, ny, nsweep, passes;
  double grading, dksi, deta;
};

TEST(FastSmoothing, ControlFunctionsGiveThePlainCoordinates) {
  const ControlledShape shapes[] = {
      {40, 20, 5, 20, 1.0, 1.0, 1.0},  {41, 20, 5, 10, 1.0, 1.0, 1.0},
      {26, 13, 2, 10, 2.0, 1.0, 1.0},  {24, 12, 5, 8, 3.0, 0.5, 0.5},
      {24, 12, 5, 8, 1.0, 0.7, 1.3},   {24, 12, 5, 8, 1.0, 1.0, 2.0},
      {9, 4, 3, 10, 1.0, 1.0, 1.0},    {121, 60, 3, 4, 1.0, 1.0, 1.0},
      {40, 20, 60, 2, 2.0, 1.0, 1.0},  {400, 200, 5, 2, 1.0, 1.0, 1.0},
  };
  ASSERT_NE(HelperThread::shared(), nullptr) << "no second thread to compare with";
  for (int threads : {1, 2, 3}) {
    // 1 and 2 threads; then one thread without AVX2.
    const SmoothingOptions fast_options{.threads = threads == 3 ? 1 : threads,
                                        .avx2 = threads != 3};
    for (const ControlledShape& c : shapes) {
      auto plain = mesh(c.nx, c.ny, c.nsweep, c.dksi, c.deta, c.grading);
      auto fast = mesh(c.nx, c.ny, c.nsweep, c.dksi, c.deta, c.grading);
      for (MeshState* s : {plain.get(), fast.get()}) {
        fill_controls(*s);
        s->controls = true;
      }
      for (int pass = 1; pass <= c.passes; ++pass) {
        smoothing_pass(*plain, kPlain);
        smoothing_pass(*fast, fast_options);
      }
      EXPECT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv))
          << c.nx << "x" << c.ny << " grading " << c.grading << " dksi " << c.dksi << " deta "
          << c.deta << " threads " << threads;
    }
  }
}

// The two threads of the wavefront wait for each other through progress
// counters; a missing wait shows as a rare mismatch, so many short passes are
// compared one by one, with extra threads competing for the cores.
TEST(FastSmoothing, TwoThreadWavefrontUnderLoad) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> load;
  for (int n = 0; n < 2; ++n) {
    load.emplace_back([&stop] {
      volatile double sink = 1.0;
      while (!stop.load()) sink = sink * 1.0000001;
    });
  }
  ASSERT_NE(HelperThread::shared(), nullptr) << "no second thread to compare with";
  const SmoothingOptions two_threads{.threads = 2};
  for (const Shape& shape :
       {Shape{70, 31, 2, 60}, Shape{23, 12, 3, 60}, Shape{200, 5, 1, 60}, Shape{24, 5, 400, 2}}) {
    auto plain = mesh(shape.nx, shape.ny, shape.nsweep);
    auto fast = mesh(shape.nx, shape.ny, shape.nsweep);
    // The second half of the passes with control functions (six arrays).
    for (int pass = 1; pass <= shape.passes; ++pass) {
      if (pass == shape.passes / 2 + 1) {
        for (MeshState* s : {plain.get(), fast.get()}) {
          fill_controls(*s);
          s->controls = true;
        }
      }
      smoothing_pass(*plain, kPlain);
      smoothing_pass(*fast, two_threads);
      ASSERT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv))
          << shape.nx << "x" << shape.ny << " pass " << pass;
    }
  }
  stop.store(true);
  for (auto& t : load) t.join();
}

// Once a sweep has changed no bit, the fast pass skips the sweeps left: with
// as many sweeps as a run can ask for it ends at once, with the coordinates
// of plain passes run well past that sweep (in brackets: the sweep that
// first changes nothing on the first pass). Narrow rows, groups of rows on
// one and on two threads, one interior row.
TEST(FastSmoothing, SweepsThatChangeNothingEndThePass) {
  const Shape shapes[] = {{2, 2, 0, 1} /* 2 */,     {3, 3, 0, 1} /* 27 */,
                          {20, 8, 0, 1} /* 388 */,  {24, 5, 0, 1} /* 369 */,
                          {17, 17, 0, 1} /* 919 */, {30, 2, 0, 1} /* 531 */};
  for (int threads : {1, 2}) {
    for (const Shape& shape : shapes) {
      auto plain = mesh(shape.nx, shape.ny, 2000);
      auto fast = mesh(shape.nx, shape.ny, std::numeric_limits<std::int32_t>::max());
      smoothing_pass(*plain, kPlain);
      smoothing_pass(*fast, SmoothingOptions{.threads = threads});
      EXPECT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv))
          << shape.nx << "x" << shape.ny << " threads " << threads;
    }
  }
}

TEST(FastSmoothing, KeptSourcesUseTheGeneralEquations) {
  for (int flag : {0, 2}) {
    auto plain = mesh(10, 6, 2);
    auto fast = mesh(10, 6, 2);
    for (MeshState* s : {plain.get(), fast.get()}) {
      s->opt_psrc = flag;
      s->opt_qsrc = 2;
      for (std::int64_t k = 1; k <= s->nvert; ++k) {
        s->psrc(k) = 0.01 * static_cast<double>(k % 7);
        s->qsrc(k) = -0.02 * static_cast<double>(k % 5);
      }
    }
    for (int pass = 1; pass <= 4; ++pass) {
      smoothing_pass(*plain, kPlain);
      smoothing_pass(*fast, kFast);
    }
    EXPECT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv)) << flag;
  }
}

// Meshes scaled so that det = yeta*xksi - xeta*yksi lies near the ends of the
// range where jac = 1/det and 1/(jac*jac) do not trap: the coordinates stay
// identical whether the pass runs fast or falls back to the plain operations.
TEST(FastSmoothing, ScaledMeshesNearTheTrapThresholds) {
  for (double factor : {0x1p-250, 0x1p-245, 0x1p+240, 0x1p+250}) {
    auto plain = mesh(9, 5, 2);
    auto fast = mesh(9, 5, 2);
    scale_coordinates(*plain, factor);
    scale_coordinates(*fast, factor);
    for (int pass = 1; pass <= 3; ++pass) {
      smoothing_pass(*plain, kPlain);
      smoothing_pass(*fast, kFast);
    }
    EXPECT_TRUE(same_bits(plain->xv, fast->xv) && same_bits(plain->yv, fast->yv)) << factor;
  }
}

// A run that traps stops with the same report on both paths: a zero spacing
// (division by zero before any vertex), a vertex where all derivatives vanish
// (division by zero in jac), and meshes scaled so far that jac*jac overflows
// or 1/(jac*jac) does, which the fast path never computes without sources.
// With source terms kept as control functions: the same meshes; sources so
// large that their terms overflow; and sources that cancel alpha and gamma
// in ap, which is then zero and divides.
struct TrapCase {
  const char* name;
  double dksi, factor;
  bool collapse;  // move vertex (2, 2)'s neighbours onto one point
  const char* report;
  double sources = 0.0;  // P and Q at every vertex, kept as control functions; 0: none
};

const char kDivide[] =
    "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n";
const char kOverflow[] = "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n";

class FastSmoothingTraps : public ::testing::TestWithParam<std::tuple<TrapCase, Path>> {};

TEST_P(FastSmoothingTraps, SameReportAsThePlainPass) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto& [c, path] = GetParam();
  EXPECT_EXIT(
      {
        platform::install_fp_traps();
        auto s = mesh(8, 4, 2, c.dksi, 1.0);
        scale_coordinates(*s, c.factor);
        if (c.collapse) {
          const std::int64_t k = s->nxv + 2;  // vertex (2, 2)
          for (std::int64_t n : {k - 1, k + 1, k - s->nxv, k + s->nxv}) {
            s->xv(n) = 0.25;
            s->yv(n) = 0.25;
          }
        }
        if (c.sources != 0.0) {
          for (std::int64_t k = 1; k <= s->nvert; ++k) s->psrc(k) = s->qsrc(k) = c.sources;
          s->controls = true;
        }
        for (int pass = 1; pass <= 2; ++pass)
          smoothing_pass(*s, path == Path::Plain ? kPlain : kFast);
        std::exit(0);
      },
      ::testing::ExitedWithCode(c.report == nullptr ? 0 : 1),
      ::testing::StrEq(c.report == nullptr ? "" : c.report));
}

const TrapCase kTrapCases[] = {
    {"ZeroSpacing", 0.0, 1.0, false, kDivide},        {"CollapsedVertex", 1.0, 1.0, true, kDivide},
    {"TinyMesh", 1.0, 0x1p-262, false, kOverflow},    {"HugeMesh", 1.0, 0x1p+262, false, kOverflow},
    {"ScaledButSafe", 1.0, 0x1p-240, false, nullptr},
    {"CollapsedControlled", 1.0, 1.0, true, kDivide, 0.01},
    {"TinyControlled", 1.0, 0x1p-262, false, kOverflow, 0.01},
    {"HugeControlled", 1.0, 0x1p+262, false, kOverflow, 0.01},
    {"SafeControlled", 1.0, 0x1p-240, false, nullptr, 0.01},
    {"HugeSources", 1.0, 0x1p+200, false, kOverflow, 1e300},
    {"CancellingSources", 1.0, 1.0, false, kDivide, 1e20},
};

INSTANTIATE_TEST_SUITE_P(Cases, FastSmoothingTraps,
                         ::testing::Combine(::testing::ValuesIn(kTrapCases),
                                            ::testing::Values(Path::Plain, Path::Fast)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == Path::Plain ? "Plain" : "Fast");
                         });

// ---------------------------------------------------------------------------
// E25.15 rendering.

void expect_same_field(double value) {
  char fast[25];
  textio::put_e25_15(fast, value);
  ASSERT_EQ(std::string(fast, 25), textio::render_real_field(value, 25, 15, 2, 1))
      << std::hexfloat << value;
}

TEST(FastRendering, ChosenValues) {
  for (double v :
       {0.0, -0.0, 1.0, 1.5, -0.25, 0.3, 2.0 / 3.0, 1.0 / 7.0, 1.0 - 0x1p-53, -0.00001, 1e-150,
        1e100, 1e-16, 1e17, 9.9999999999999995e16, 0x1p-1074, 0x1p-1022, 1.7976931348623157e308}) {
    expect_same_field(v);
    expect_same_field(-v);
  }
  for (std::uint64_t bits : {0x7FF0000000000000u, 0xFFF0000000000000u, 0x7FF8000000000000u,
                             0xFFF8000000000000u, 0x7FF0000000000001u}) {
    expect_same_field(std::bit_cast<double>(bits));
  }
  // Powers of ten and their neighbours over the whole range.
  for (int p = -325; p <= 308; ++p) {
    const double ten = std::pow(10.0, p);
    expect_same_field(ten);
    expect_same_field(std::nextafter(ten, 0.0));
    expect_same_field(std::nextafter(ten, INFINITY));
  }
  // Binary fractions that end exactly at the 18th significant digit: ties at
  // the 17th.
  for (int e = 1; e <= 8; ++e) {
    for (std::uint64_t m = (std::uint64_t{1} << 53) - 2000; m < (std::uint64_t{1} << 53); ++m)
      expect_same_field(std::ldexp(static_cast<double>(m), -e));
  }
}

TEST(FastRendering, RandomValues) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-60, 60);
  for (int n = 0; n < 2'000'000; ++n) {
    double v;
    switch (n % 3) {
      case 0:
        v = std::bit_cast<double>(random());
        break;
      case 1:
        v = unit(random);
        break;
      default:
        v = std::ldexp(unit(random), exponent(random));
        break;
    }
    expect_same_field(v);
  }
}

TEST(FastRendering, IntegerFields) {
  for (std::int32_t v : {0, 7, -1, 10, 99, 100, -12, -99, 12345, 99999999, 100000000, -9999999,
                         -10000000, 2147483647, -2147483647 - 1, 123456789, -123456789}) {
    for (int w : {1, 3, 8, 10, 11, 16, 20}) {
      char field[20];
      textio::put_integer_field(field, v, w);
      EXPECT_EQ(std::string(field, static_cast<std::size_t>(w)),
                textio::render_integer_field(v, w, 1))
          << v << " I" << w;
    }
  }
}

// ---------------------------------------------------------------------------
// Output files.

using Files = std::map<std::string, std::string>;

Files written_files(MeshState& s, const OutputOptions& options) {
  test::TempDir dir;
  {
    test::ChangeDir cd(dir.path());
    write_mesh_files(s, options);
    if (!s.nbr.allocated()) {
      allocate_group_c(s);
      number_neighbours(s);
    }
    write_nest_files(s, options);
  }
  Files files;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    files[entry.path().filename().string()] = test::read_file(entry.path());
  return files;
}

TEST(FastOutput, SameFilesAsThePlainWriter) {
  // The commands the writers run must do nothing.
  ::setenv("COMSPEC", "true", 1);
  // nsweep 3: with the control functions of --control, and their file.
  for (const Shape& shape :
       std::vector<Shape>{{2, 1, 0, 0},
                          {3, 2, 1, 2},
                          {8, 4, 2, 3},
                          {37, 11, 1, 5},
                          {250, 120, 1, 2},
                          {9, 4, 3, 2},
                          {250, 120, 3, 2}}) {
    auto s = mesh(shape.nx, shape.ny, shape.nsweep);
    if (shape.nsweep == 3) {
      fill_controls(*s);
      s->controls = true;
    }
    for (int pass = 1; pass <= shape.passes; ++pass) smoothing_pass(*s, kFast);
    compute_centroids(*s);
    const Files plain = written_files(*s, OutputOptions{.fast = false});
    ASSERT_EQ(plain.size(), s->controls ? 13u : 12u);
    // The helper rendering ahead, and this thread alone.
    for (int threads : {0, 1}) {
      const Files fast = written_files(*s, OutputOptions{.threads = threads});
      for (const auto& [name, content] : plain) {
        ASSERT_TRUE(fast.count(name)) << name;
        EXPECT_TRUE(fast.at(name) == content)
            << shape.nx << "x" << shape.ny << " threads " << threads << ": " << name;
      }
    }
  }
}

TEST(FastOutput, ExistingLongerFilesAreReplacedExactly) {
  ::setenv("COMSPEC", "true", 1);
  auto s = mesh(6, 3, 1);
  compute_centroids(*s);
  const Files plain = written_files(*s, OutputOptions{.fast = false});
  test::TempDir dir;
  for (const auto& [name, content] : plain) test::write_file(dir / name, content + content);
  {
    test::ChangeDir cd(dir.path());
    write_mesh_files(*s, OutputOptions{});
    write_nest_files(*s, OutputOptions{});
  }
  for (const auto& [name, content] : plain) EXPECT_EQ(test::read_file(dir / name), content) << name;
}

}  // namespace
}  // namespace malha
