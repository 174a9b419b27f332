// Files that are no regular files in place of each file the two programs
// read: a FIFO (which would block its reader for ever) and a device that never
// ends. Each is refused at once with one report naming the file and what it
// is, and nothing is written. Also the checks of malha-report on the sizes a
// header promises: against the file's size and against the machine's memory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::test::names_in;
using malha::test::RunResult;
using malha::test::TempDir;
using malha::test::visible;
using malha::test::write_file;

// A run that has not ended by then is stuck, and counts as a failure.
constexpr int kTimeoutSeconds = 20;

// What stands in place of the file.
struct Special {
  const char* label;
  const char* kind;  // as the messages name it
  void (*make)(const fs::path& at);
};

const Special kSpecials[] = {
    {"Fifo", "a FIFO", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0); }},
    {"EndlessDevice", "a character device",
     [](const fs::path& at) { fs::create_symlink("/dev/zero", at); }},
};

// Where it stands: a file one of the programs reads.
struct Place {
  const char* label;
  bool report;       // read by malha-report (else by malha)
  const char* file;  // the file replaced
  std::vector<std::string> args = {};
};

const Place kPlaces[] = {
    {"CaseFile", false, "entradas.txt"},
    {"ParameterFile", false, "entrada_eq_elipticas.txt"},
    {"ReportVertexFile", true, "t.txt", {"t"}},
    {"ReportOptionalFile", true, "t_nest_area.txt", {"t"}},
    {"ReportCaseFile", true, "entradas.txt"},
};

// The one report on `kind` standing in place of the file.
std::string report_on(const Place& place, const std::string& kind) {
  const std::string file = place.file;
  return place.report
             ? "malha-report: " + file + ": expected a regular file, found " + kind + "\n"
             : "\r\nrun-time error F6401: OPEN(" + file + ")\r\n- cannot read the file: it is " +
                   kind + ", not a regular file\r\n";
}

class SpecialFile : public ::testing::TestWithParam<std::tuple<Special, Place>> {
 protected:
  // The files of a smoothed run with the nest files, case "t".
  static void SetUpTestSuite() {
    run_ = new TempDir;
    write_file(*run_ / "entradas.txt", "t\n5\n3\n2\n2\n");
    write_file(*run_ / "entrada_eq_elipticas.txt", "5\n20\n0.0\n1.0\n1.0\n0\n0\n");
    const RunResult run = malha::test::run_program(MALHA_EXE, run_->path());
    ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  }
  static void TearDownTestSuite() { delete run_; }

  static TempDir* run_;
};

TempDir* SpecialFile::run_ = nullptr;

TEST_P(SpecialFile, IsRefusedAtOnceWithOneReport) {
  const auto& [special, place] = GetParam();
  TempDir dir;
  for (const auto& entry : fs::directory_iterator(run_->path()))
    if (place.report || entry.path().filename() == "entradas.txt" ||
        entry.path().filename() == "entrada_eq_elipticas.txt")
      fs::copy(entry.path(), dir / entry.path().filename().string());
  fs::remove(dir / place.file);
  special.make(dir / place.file);
  const std::set<std::string> before = names_in(dir.path());

  const RunResult r = malha::test::run_program(place.report ? MALHA_REPORT_EXE : MALHA_EXE,
                                               dir.path(), {}, place.args, kTimeoutSeconds);

  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(visible(r.stderr_text), visible(report_on(place, special.kind)));
  // The report's output is its verdict alone.
  EXPECT_EQ(r.stdout_text, place.report ? "1 check failed: file check\n" : "");
  EXPECT_EQ(names_in(dir.path()), before);
  if (!place.report) {
    // Only the input files are ever shown; the one refused is not read.
    ASSERT_FALSE(r.commands.empty());
    EXPECT_EQ(r.commands.back(), std::string("notepad ") + place.file);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SpecialFile,
                         ::testing::Combine(::testing::ValuesIn(kSpecials),
                                            ::testing::ValuesIn(kPlaces)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).label) + "In" +
                                  std::get<1>(info.param).label;
                         });

// A vertex file whose header promises a large mesh and whose size agrees,
// but which holds nothing: a sparse file. malha-report must neither take the
// memory the header promises before the records are there, nor ask for more
// than the machine has.
struct SparseCase {
  const char* label;
  std::int32_t n;       // nx = ny
  const char* message;  // a regular expression for the one line
};

const SparseCase kSparseCases[] = {
    // 2 GiB: the records are read, and the first one is found wanting.
    {"FitsTheMachine", 6400, "malha-report: t\\.txt, line 3: expected .*\n"},
    // 110 GiB: more than the machine has (unless it has over 160 GiB).
    {"BeyondTheMachine", 46000,
     "malha-report: t\\.txt, line 1: expected a mesh that fits in the [0-9]+ MiB of memory this "
     "machine has, found nx = 46000 and ny = 46000, which need [0-9]+ MiB\n"},
};

// The most memory malha-report may take for a case it refuses.
constexpr long kMostKilobytes = 100 * 1024;

class SparseVertexFile : public ::testing::TestWithParam<SparseCase> {};

TEST_P(SparseVertexFile, IsRefusedWithoutTakingTheMemoryItsHeaderPromises) {
  const SparseCase& c = GetParam();
  const std::int64_t vertices = (std::int64_t{c.n} + 1) * (c.n + 1);
  if (c.n > 10000 && static_cast<double>(malha::platform::physical_memory_bytes()) > 160e9)
    GTEST_SKIP() << "this machine has the memory for the largest mesh";
  TempDir dir;
  const std::string n = std::to_string(c.n), nv = std::to_string(c.n + 1);
  const auto field = [](const std::string& v) { return std::string(10 - v.size(), ' ') + v; };
  write_file(dir / "t.txt", field(n) + field(n) + field(nv) + field(nv) + field("1") + "\r\n" +
                                "    1.000000000000000E+00    1.000000000000000E+00\r\n");
  fs::resize_file(dir / "t.txt", static_cast<std::uintmax_t>((vertices + 2) * 52));
  // The other files every run writes, there but empty: t.txt is reported first.
  for (const char* other : {"t_vert.txt", "t_vert_fict.txt", "t_cent.txt", "t_cent_fict.txt"})
    write_file(dir / other, "");

  const RunResult r =
      malha::test::run_program(MALHA_REPORT_EXE, dir.path(), {}, {"t"}, kTimeoutSeconds);
  rusage children{};
  ::getrusage(RUSAGE_CHILDREN, &children);

  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_TRUE(std::regex_match(r.stderr_text, std::regex(c.message))) << visible(r.stderr_text);
  EXPECT_LT(children.ru_maxrss, kMostKilobytes);
}

INSTANTIATE_TEST_SUITE_P(Headers, SparseVertexFile, ::testing::ValuesIn(kSparseCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
