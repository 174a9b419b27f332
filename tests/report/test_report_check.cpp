// The checker of malha-report against the files of a real run, each spoiled
// in one way: it must stop at the right file and line and say what it
// expected and what it found. Also the reading of E25.15 fields.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "report/checks/case_files.h"
#include "report/checks/records.h"
#include "report_case.h"
#include "textio.h"

namespace {

namespace fs = std::filesystem;
using malha::report::CaseFiles;
using malha::report::CheckFailure;
using malha::report::parse_e25_15;
using malha::report::read_case;
using malha::test::read_file;
using malha::test::TempDir;
using malha::test::write_file;

TEST(E25Field, RejectsWhatIsNotSuchAField) {
  for (const char* field : {
           "1.5",                        // too short
           "    1.500000000000000E+0x",  // not a digit
           "    1.500000000000000E+1",   // an exponent digit missing (24 columns)
           "    1.000000000000000-050",  // three digits within +-99 must take the letter
           "   1.5000000000000000E+00",  // the point in the wrong column
           "  x 1.500000000000000E+00",  // not blank before the number
           "1#INF....................",  // a non-finite value
           "    1.500000000000000D+00",  // not the letter E
       }) {
    double value = 0.0;
    EXPECT_FALSE(parse_e25_15(field, value)) << field;
  }
}

// What parse_e25_15 must make of an E25.15 field: the value strtod gives for
// the same number, correctly rounded, bit for bit; false where that number is
// beyond the doubles (strtod's infinity, or zero from digits that are not).
void expect_as_strtod(std::string_view field) {
  // "-150" is "E-150" for strtod.
  std::string text(field.substr(0, field.size() - 4));
  if (field.find('E') == std::string_view::npos) text.push_back('E');
  text.append(field.substr(field.size() - 4));
  errno = 0;
  const double want = std::strtod(text.c_str(), nullptr);
  const bool zero_digits = text.find_first_of("123456789") > text.find('E');
  const bool beyond = std::isinf(want) || (want == 0.0 && !zero_digits);
  double value = 0.0;
  const bool read = parse_e25_15(field, value);
  ASSERT_EQ(read, !beyond) << field;
  if (read) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(want))
        << field << ": " << std::hexfloat << value << " against " << want;
  }
}

// The field malha writes for `value`.
std::string e25_field(double value) {
  char field[malha::textio::kE25Width];
  malha::textio::put_e25_15(field, value);
  return std::string(field, sizeof field);
}

// The fields malha writes for two million doubles of every exponent and sign,
// subnormals included, and one million of the sizes of coordinates; then a
// million fields of random digits over the whole range of exponents, which
// hold the numbers halfway between two doubles that a double's own digits do
// not.
TEST(E25Field, ReadsAsStrtodDoes) {
  std::mt19937_64 random(20261207);
  for (int n = 0; n < 2'000'000; ++n) {
    const double value = std::bit_cast<double>(random());
    if (std::isfinite(value)) expect_as_strtod(e25_field(value));
  }
  std::uniform_real_distribution<double> coordinate(-2.0, 2.0);
  for (int n = 0; n < 1'000'000; ++n) expect_as_strtod(e25_field(coordinate(random)));
  std::uniform_int_distribution<int> digit(0, 9), exponent(-340, 320);
  for (int n = 0; n < 1'000'000; ++n) {
    std::string number = std::to_string(digit(random)) + ".";
    for (int k = 0; k < 15; ++k) number += std::to_string(digit(random));
    const int e = exponent(random);
    char tail[8];
    std::snprintf(tail, sizeof tail, std::abs(e) > 99 ? "%+04d" : "E%+03d", e);
    number += tail;
    number.insert(0, malha::textio::kE25Width - number.size(), ' ');
    expect_as_strtod(number);
  }
}

// The ends of the doubles and the numbers next to them, and numbers halfway
// between two doubles (strtod rounds them to the even one).
TEST(E25Field, ReadsTheEdgesAsStrtodDoes) {
  for (const char* field : {
           "    4.940656458412465-324",  // the smallest subnormal
           "    2.470328229206233-324",  // just above half of it: rounds up to it
           "    2.470328229206232-324",  // just below: zero, beyond the doubles
           "    2.225073858507201-308",  // the largest subnormal
           "    2.225073858507201E-99",
           "    2.225073858507202-308",  // the smallest normal
           "    1.797693134862315+308",  // below the largest double
           "    1.797693134862316+308",  // above it and its half ulp: beyond
           "   -1.797693134862316+308",
           "    9.007199254740993E+15",  // 2^53 + 1: halfway, to even 2^53
           "    9.007199254740995E+15",  // 2^53 + 3: halfway, to even 2^53 + 4
           "    9.999999999999999E+22",  // past the exact powers of ten
           "    1.000000000000000E+23", "    1.000000000000000-100",
           "    1.000000000000000-150",  // beyond -99 the letter is dropped
           "    9.999999999999999E-99", "   -0.000000000000000E+00",
           "    0.000000000000000-400", "    1.000000000000000-400",
       }) {
    expect_as_strtod(field);
  }
}

// The files of one run of malha: case "t", nx = 5 (odd), ny = 3, smoothed,
// with the nest files; and of the same run with control functions.
const fs::path& run_files() {
  return malha::test::malha_run("t\n5\n3\n2\n2\n", "5\n20\n0.0\n1.0\n1.0\n0\n0\n");
}
const fs::path& controlled_run_files() {
  return malha::test::malha_run("t\n5\n3\n2\n2\n", "5\n20\n0.0\n1.0\n1.0\n0\n0\n", {"--control"});
}

struct Spoil;

class Checker : public testing::Test {
 protected:
  void SetUp() override { fs::copy(run_files(), dir_.path()); }

  CaseFiles files() const { return {dir_.path(), "t"}; }

  // Rewrites record `line` (1-based) of the file; an edit that returns
  // nothing drops the record.
  void edit(const std::string& file, std::size_t line,
            const std::function<std::string(std::string)>& change) {
    const auto records = malha::test::crlf_records(read_file(dir_ / file));
    std::string out;
    for (std::size_t k = 0; k < records.size(); ++k) {
      const std::string r = k + 1 == line ? change(records[k]) : records[k];
      if (k + 1 != line || !r.empty()) out += r + "\r\n";
    }
    write_file(dir_ / file, out);
  }

  // The message of the failure without the folder, which names its file first.
  std::string failure(const std::string& name = "t") {
    const std::string folder = dir_.path().string() + "/";
    try {
      read_case({dir_.path(), name});
    } catch (const CheckFailure& f) {
      const std::string what = f.what();
      EXPECT_TRUE(what.starts_with(folder)) << what;
      return what.starts_with(folder) ? what.substr(folder.size()) : what;
    }
    return "no failure";
  }

  std::string spoiled(const fs::path& run, const Spoil& s);

  TempDir dir_;
};

// A reader's buffer is the size of its file (a small case's files are a few
// hundred bytes); records longer than that, of a file that grew after it was
// opened, are read whole all the same, up to the 1 MiB of any record.
TEST(RecordReaderBuffer, SizedToTheFileAndGrownForALongerRecord) {
  TempDir dir;
  const fs::path file = dir / "grows.txt";
  write_file(file, "short\r\n");
  malha::report::RecordReader in(file.string(), "grows.txt");
  const std::string longer(100000, 'x');
  {
    std::FILE* f = std::fopen(file.string().c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputs((longer + "\r\nlast\r\n").c_str(), f);
    std::fclose(f);
  }
  std::string_view record;
  ASSERT_TRUE(in.next(record));
  EXPECT_EQ(record, "short");
  ASSERT_TRUE(in.next(record));
  EXPECT_EQ(record, longer);
  ASSERT_TRUE(in.next(record));
  EXPECT_EQ(record, "last");
  EXPECT_FALSE(in.next(record));
}

TEST_F(Checker, FilesOfARunAreConsistent) {
  const auto checked = read_case(files());
  EXPECT_EQ(checked.checked.size(), 10u);
  EXPECT_EQ(checked.mesh.nx, 5);
  EXPECT_EQ(checked.mesh.vertices(), 24);
}

// The cells of a graded mesh at the re-entrant corner, about 3e-10 across
// here, are far smaller than the files' 16 digits of a coordinate near 0.5:
// their centroids and areas agree with the vertices to those digits.
TEST(GradedCase, CellsSmallerThanTheFilesDigitsAreConsistent) {
  TempDir dir;
  write_file(dir / "entradas.txt", "t\n400\n200\n1\n2\n");
  const auto run = malha::test::run_program(MALHA_EXE, dir.path(), {}, {"--grade=4"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_EQ(read_case(CaseFiles{dir.path(), "t"}).checked.size(), 10u);
}

TEST_F(Checker, ACaseWithoutNestFilesHasTheMeshSetChecked) {
  for (const char* f :
       {"t_nest.txt", "t_nest_conec.txt", "t_nest_vert.txt", "t_nest_cent.txt", "t_nest_area.txt"})
    fs::remove(dir_ / f);
  EXPECT_EQ(read_case(files()).checked.size(), 5u);
}

// A file given as the case that is no case's CASE.txt: why, and what it is
// when the name tells; a file of the case "t" says whose it is.
TEST_F(Checker, AFileThatIsNoCaseSaysSoAndWhy) {
  const std::string sizes =
      " is not a case: line 1 is not the sizes record nx ny nxv nyv opt that begins a case's "
      "CASE.txt: expected ";
  const std::string columns = sizes + "a record of 50 columns (5 fields of 10), found ";
  const std::pair<std::string, std::string> table[] = {
      {"malha", sizes + "an integer in columns 1-10, found '    0.0000'; malha.txt is a file every "
                        "case shares"},
      {"centroides", sizes},
      {"entradas", columns + "1 columns 't'"},
      {"t_vert", sizes},
      {"t_nest_vert", columns + "32 columns"},
      // Five integers in their columns, not the sizes of a mesh.
      {"t_vert_fict", sizes + "nxv = nx + 1 = 10 and nyv = ny + 1 = 2"},
  };
  for (const auto& [stem, message] : table) {
    SCOPED_TRACE(stem);
    const std::string what = failure(stem);
    EXPECT_EQ(what.substr(0, stem.size() + 4 + message.size()), stem + ".txt" + message);
    if (stem.starts_with("t_")) {
      EXPECT_TRUE(what.ends_with("of the case 't'; malha-report " + (dir_ / "t").string() +
                                 " checks that case"))
          << what;
    }
  }
}

// A process that may not start a thread (its user at the limit of its
// processes) checks the case on one thread, with the same report.
TEST_F(Checker, OneThreadWhereASecondCannotBeHad) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/prlimit") || !fs::exists("/usr/bin/setpriv"))
    GTEST_SKIP() << "needs root, prlimit and setpriv to act as a user at its process limit";
  // The case's own folder (the folder for scratch folders above it is open to all).
  fs::permissions(dir_.path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    fs::permissions(entry.path(), fs::perms::others_read, fs::perm_options::add);
  // A user of its own, with no other process that the limit would count.
  const std::string user = std::to_string(4'000'000 + ::getpid() % 1'000'000);
  // A sanitizer's leak check needs a thread of its own at the end: not here.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string no_leak_check =
      (asan != nullptr ? std::string(asan) + ":" : std::string()) + "detect_leaks=0";
  const auto one =
      malha::test::run_program("/usr/bin/prlimit", dir_.path(), {{"ASAN_OPTIONS", no_leak_check}},
                               {"--nproc=1", "/usr/bin/setpriv", "--reuid=" + user,
                                "--regid=" + user, "--clear-groups", MALHA_REPORT_EXE, "t"});
  const auto two = malha::test::run_program(MALHA_REPORT_EXE, dir_.path(), {}, {"t"});
  ASSERT_EQ(two.exit_status, 0) << two.stderr_text;
  EXPECT_EQ(one.exit_status, 0) << one.stderr_text;
  EXPECT_EQ(one.stdout_text, two.stdout_text);
}

TEST_F(Checker, LineFeedsAloneAreRead) {
  std::string text = read_file(dir_ / "t.txt");
  std::erase(text, '\r');
  write_file(dir_ / "t.txt", text);
  EXPECT_EQ(read_case(files()).mesh.nyv, 4);
}

// A file spoiled: record `line` changed, or with line 0 the files named
// (separated by blanks) removed.
struct Spoil {
  const char* name;
  const char* file;
  std::size_t line;
  std::function<std::string(std::string)> change;
  const char* message;  // the start of what the checker must say
};

std::string replace_at(std::string s, std::size_t at, const std::string& with) {
  return s.replace(at, with.size(), with);
}

// A whole record in place of the one there.
std::function<std::string(std::string)> record(const char* text) {
  return [text](const std::string&) { return std::string(text); };
}

// Another digit in place of the one at `at`.
std::string bump(std::string s, std::size_t at) {
  s[at] = s[at] == '9' ? '1' : '9';
  return s;
}

const std::vector<Spoil>& spoils() {
  static const std::vector<Spoil> table = {
      // A file the case needs and does not have: the first one missing is named.
      {"mesh file missing", "t_cent.txt", 0, nullptr,
       "t_cent.txt: expected the file (every run of malha writes it beside t.txt), found no such "
       "file"},
      {"first of two missing", "t_cent_fict.txt t_vert.txt", 0, nullptr,
       "t_vert.txt: expected the file (every run of malha writes it beside t.txt), found no such "
       "file"},
      {"one nest file missing", "t_nest_area.txt", 0, nullptr,
       "t_nest_area.txt: expected the file (malha writes the 5 nest files together, and 4 of them "
       "are here), found no such file"},
      {"all nest files but one missing",
       "t_nest.txt t_nest_conec.txt t_nest_vert.txt t_nest_cent.txt", 0, nullptr,
       "t_nest_conec.txt: expected the file (malha writes the 5 nest files together, and 1 of them "
       "are here), found no such file"},
      {"case file missing", "t.txt", 0, nullptr, "t.txt: expected a readable file, found"},
      {"vertex record cut", "t.txt", 26, [](std::string) { return std::string(); },
       "t.txt, line 26: expected the record of vertex 24 of 24 (nxv x nyv), found the end of "
       "the file"},
      {"connectivity record cut", "t_vert.txt", 15, [](std::string) { return std::string(); },
       "t_vert.txt, line 15: expected the corners of volume 15 (i = 5, j = 3), found the end"},
      {"header count against records", "t.txt", 1,
       [](std::string r) { return replace_at(r, 29, "7"); },
       "t.txt is not a case: line 1 is not the sizes record nx ny nxv nyv opt that begins a "
       "case's CASE.txt: expected nxv = nx + 1 = 6 and nyv = ny + 1 = 4, found nxv = 7, nyv = 4"},
      {"header promising more records than the file holds", "t.txt", 1,
       record("         6         3         7         4         2"),
       "t.txt: expected 28 vertex records (nxv x nyv), at least 1428 bytes, found 1352 bytes"},
      // Counts derived from the header are 64-bit: nx + 1 of the largest
      // 32-bit nx, and the ring of volumes around nx = 2147483646.
      {"header nx at the top of the 32-bit range", "t.txt", 1,
       record("2147483647         32147483647         4         2"),
       "t.txt is not a case: line 1 is not the sizes record nx ny nxv nyv opt that begins a "
       "case's CASE.txt: expected nxv = nx + 1 = 2147483648 and nyv = ny + 1 = 4, found "
       "nxv = 2147483647, nyv = 4"},
      {"header whose ring of volumes passes the 32-bit range", "t.txt", 1,
       record("2147483646         32147483647         4         2"),
       "t.txt, line 1: expected a mesh whose volumes can be numbered in 32 bits, found "
       "2147483646 x 3 volumes"},
      {"vertex number out of range", "t_vert.txt", 1,
       [](std::string r) { return replace_at(r, 8, "99"); },
       "t_vert.txt, line 1: expected vertex numbers from 1 to 24, found 99"},
      {"corners clockwise", "t_vert.txt", 2, record("         2         8         9         3"),
       "t_vert.txt, line 2: expected the corners of volume 2 (i = 2, j = 1) counter-clockwise, "
       "2 3 9 8, found 2 8 9 3 (clockwise)"},
      {"extended number changed", "t_vert_fict.txt", 1,
       [](std::string r) { return replace_at(r, 9, "8"); },
       "t_vert_fict.txt, line 1: expected the extended number 9 of volume 1"},
      {"centroid changed", "t_cent.txt", 4, [](std::string r) { return bump(r, 8); },
       "t_cent.txt, line 4: expected the centroid of volume 4 (i = 4, j = 1) computed from its "
       "corners"},
      {"area changed", "t_nest_area.txt", 3, [](std::string r) { return bump(r, 6); },
       "t_nest_area.txt, line 3: expected the area of volume 3"},
      {"nest vertex changed", "t_nest.txt", 5, [](std::string r) { return bump(r, 20); },
       "t_nest.txt, line 5: expected vertex 4 as t.txt has it"},
      {"neighbour table asymmetric", "t_nest_conec.txt", 1,
       [](std::string r) { return replace_at(r, 15, "3"); },
       "t_nest_conec.txt, line 3: expected volume 3 to name volume 1 as its ksi- neighbour"},
      {"neighbour out of range", "t_nest_conec.txt", 2,
       [](std::string r) { return replace_at(r, 5, "999"); },
       "t_nest_conec.txt, line 2: expected volume numbers from 0 (the boundary) to 15, found 999"},
      {"column shifted", "t_cent_fict.txt", 7, [](std::string r) { return " " + r; },
       "t_cent_fict.txt, line 7: expected a record of 50 columns (2 fields of 25), found 51"},
      {"not a number", "t_nest_cent.txt", 2, [](std::string r) { return replace_at(r, 5, "x"); },
       "t_nest_cent.txt, line 2: expected a real number of the form 1.234567890123456E+00 in "
       "columns 1-25"},
      {"record added", "t_cent.txt", 15, [](std::string r) { return r + "\r\n" + r; },
       "t_cent.txt, line 16: expected 15 records and then the end of the file, found another"},
  };
  return table;
}

// The control functions' file spoiled: sizes or a kind that are not those of
// the case, beside a mesh that was not smoothed, cut, lengthened, not a
// number.
const std::vector<Spoil>& control_spoils() {
  static const std::vector<Spoil> table = {
      {"other sizes", "t_controle.txt", 1, record("         7         4         1"),
       "t_controle.txt, line 1: expected nxv = 6 and nyv = 4, those of t.txt, found nxv = 7, "
       "nyv = 4"},
      {"unknown kind", "t_controle.txt", 1, record("         6         4         2"),
       "t_controle.txt, line 1: expected the kind of the control functions, 1 (those at the "
       "outer corner), found 2"},
      {"sizes record short", "t_controle.txt", 1, record("         6         4"),
       "t_controle.txt, line 1: expected a record of 30 columns (3 fields of 10), found 20"},
      {"beside an algebraic mesh", "t.txt", 1, [](std::string r) { return replace_at(r, 49, "1"); },
       "t_controle.txt, line 1: expected control functions beside a smoothed mesh, found control "
       "functions beside the algebraic mesh of t.txt (opt = 1)"},
      {"record cut", "t_controle.txt", 25, [](std::string) { return std::string(); },
       "t_controle.txt, line 25: expected P and Q of vertex 24 of 24 (nxv x nyv), found the end"},
      {"record added", "t_controle.txt", 25, [](std::string r) { return r + "\r\n" + r; },
       "t_controle.txt, line 26: expected 25 records and then the end of the file, found another"},
      {"not a number", "t_controle.txt", 9, [](std::string r) { return replace_at(r, 5, "x"); },
       "t_controle.txt, line 9: expected a real number of the form 1.234567890123456E+00 in "
       "columns 1-25"},
  };
  return table;
}

// The case of `run` in the test's folder with file `s.file` spoiled; the
// checker's message.
std::string Checker::spoiled(const fs::path& run, const Spoil& s) {
  fs::copy(run, dir_.path(), fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  std::istringstream files(s.file);
  for (std::string file; files >> file;) {
    if (s.line == 0)
      fs::remove(dir_ / file);
    else
      edit(file, s.line, s.change);
  }
  return failure();
}

TEST_F(Checker, ControlFunctionsAreReadAndEachSpoiledOneNamed) {
  fs::copy(controlled_run_files(), dir_.path(),
           fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  const auto checked = read_case(files());
  EXPECT_EQ(checked.mesh.controls, 1);
  ASSERT_EQ(checked.mesh.psrc.size(), 24u);
  EXPECT_NE(checked.mesh.psrc[7], 0.0);  // vertex (2, 2)
  EXPECT_EQ(checked.checked.back(), "t_controle.txt");
  for (const Spoil& s : control_spoils()) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(spoiled(controlled_run_files(), s).substr(0, std::string(s.message).size()),
              s.message);
  }
}

TEST_F(Checker, EachSpoiledFileIsNamedWithLineExpectedAndFound) {
  for (const Spoil& s : spoils()) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(spoiled(run_files(), s).substr(0, std::string(s.message).size()), s.message);
  }
}

}  // namespace
