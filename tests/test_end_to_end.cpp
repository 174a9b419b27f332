// Whole runs of the program in a scratch directory: the files of the golden cases byte for byte,
// the commands it hands to the interpreter, record counts on a larger mesh, files that exist
// before the run, and the input it rejects.
//
// The golden cases under golden/ are produced by golden/generate.py, an independent model of a
// run; regenerate them with "python3 tests/golden/generate.py".

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::test::crlf_records;
using malha::test::names_in;
using malha::test::read_file;
using malha::test::RunResult;
using malha::test::TempDir;
using malha::test::visible;
using malha::test::write_file;

using Files = std::map<std::string, std::string>;  // file name -> content

const fs::path kGolden = fs::path(MALHA_TEST_DATA) / "golden";

RunResult run_in(const TempDir& dir) {
  return malha::test::run_program(MALHA_EXE, dir.path());
}

// ---------------------------------------------------------------------------------------------
// Input files and expected commands

// The case file as a user writes it: each value followed by a remark. `name_record` is record 1
// exactly as written (quoted or not).
std::string case_file(const std::string& name_record, int nx, int ny, int opt_elliptic,
                      int opt_nest) {
  return name_record + "   case name\r\n" + std::to_string(nx) + "   nx: volumes along ksi\r\n" +
         std::to_string(ny) + "   ny: volumes along eta\r\n" + std::to_string(opt_elliptic) +
         "   opt_elliptic: 2 = elliptic smoothing\r\n" + std::to_string(opt_nest) +
         "   opt_nest: 2 = nest files\r\n";
}

// The UTF-8 byte-order mark some editors write at the start of a file.
const std::string kByteOrderMark = "\xEF\xBB\xBF";

std::string elliptic_file(int nsweep, int niter, const std::string& dksi, const std::string& deta) {
  return std::to_string(nsweep) + "   nsweep\n" + std::to_string(niter) + "   niter\n" +
         "0.0   not used\n" + dksi + "   dksi\n" + deta + "   deta\n" + "0   opt_psrc\n" +
         "0   opt_qsrc\n";
}

// A file name as it appears in a command: names made of letters, digits and . _ - + only stand
// as they are; any other name is put in single quotes, a quote inside written as '\''.
std::string command_word(const std::string& name) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-' || c == '+';
  };
  if (!name.empty() && std::all_of(name.begin(), name.end(), plain)) return name;
  std::string word = "'";
  for (char c : name) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

const std::vector<std::string> kShownMeshSuffixes = {".txt", "_vert.txt", "_vert_fict.txt",
                                                     "_cent.txt", "_cent_fict.txt"};
const std::vector<std::string> kShownNestSuffixes = {
    "_nest.txt", "_nest_conec.txt", "_nest_vert.txt", "_nest_cent.txt", "_nest_area.txt"};

std::vector<std::string> expected_commands(const std::string& stem, bool smoothing, bool nest) {
  std::vector<std::string> commands = {"notepad entradas.txt"};
  if (smoothing) commands.push_back("notepad entrada_eq_elipticas.txt");
  for (const auto& suffix : kShownMeshSuffixes)
    commands.push_back("notepad " + command_word(stem + suffix));
  commands.push_back("wgnuplot malha.gnu");
  commands.push_back("wgnuplot malha_cent.gnu");
  if (nest) {
    for (const auto& suffix : kShownNestSuffixes)
      commands.push_back("notepad " + command_word(stem + suffix));
  }
  return commands;
}

// ---------------------------------------------------------------------------------------------
// Directory content

Files read_folder(const fs::path& dir) {
  Files files;
  for (const auto& name : names_in(dir)) files[name] = read_file(dir / name);
  return files;
}

void put_files(const TempDir& dir, const Files& files) {
  for (const auto& [name, content] : files) write_file(dir / name, content);
}

Files golden_inputs(const std::string& golden_case) {
  Files inputs;
  for (const char* name : {"entradas.txt", "entrada_eq_elipticas.txt"}) {
    if (fs::exists(kGolden / golden_case / name))
      inputs[name] = read_file(kGolden / golden_case / name);
  }
  return inputs;
}

// The expected output of a golden case; the case-dependent names get the stem `stem`.
Files golden_outputs(const std::string& golden_case, const std::string& stem) {
  Files outputs;
  for (const auto& [name, content] : read_folder(kGolden / golden_case / "expected")) {
    const bool case_file_name = name.rfind(golden_case, 0) == 0;
    outputs[case_file_name ? stem + name.substr(golden_case.size()) : name] = content;
  }
  return outputs;
}

// Compares two file contents line by line so that a failure shows the first line that differs.
::testing::AssertionResult same_content(const std::string& name, const std::string& actual,
                                        const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto lines = [](const std::string& text) {
    std::vector<std::string> result;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size() - 1);
      result.push_back(text.substr(start, end + 1 - start));
      start = end + 1;
    }
    return result;
  };
  const auto got = lines(actual);
  const auto want = lines(expected);
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return ::testing::AssertionFailure()
         << name << " differs at line " << i + 1 << " (" << got.size() << " lines, expected "
         << want.size() << ")\n  got:      \"" << (i < got.size() ? visible(got[i]) : "<end>")
         << "\"\n  expected: \"" << (i < want.size() ? visible(want[i]) : "<end>") << "\"";
}

// The directory holds exactly the files of `want` (dot-files aside), each with its content.
void expect_folder(const TempDir& dir, const Files& want) {
  std::set<std::string> want_names;
  for (const auto& entry : want) want_names.insert(entry.first);
  EXPECT_EQ(names_in(dir.path()), want_names);
  for (const auto& [name, content] : want) {
    if (fs::exists(dir / name)) {
      EXPECT_TRUE(same_content(name, read_file(dir / name), content));
    }
  }
}

Files merged(Files a, const Files& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// The run completed; standard error (not a terminal) holds the warnings given, if any.
void expect_success(const RunResult& result, const std::string& warnings = "") {
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(visible(result.stderr_text), visible(warnings));
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The run stopped with a report of a failed read of the case file.
void expect_case_read_error(const RunResult& result) {
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(result.stderr_text.starts_with("\r\nrun-time error F"))
      << visible(result.stderr_text);
  EXPECT_TRUE(contains(result.stderr_text, ": READ(entradas.txt)")) << visible(result.stderr_text);
}

// ---------------------------------------------------------------------------------------------
// Golden cases

// The one warning of the odd3x2 case: the bottom arm runs past x = 1, to x = 2 outside and 1.5
// inside, so the mesh covers 0.75 + 0.5 * (1 + 0.5) / 2.
constexpr char kOdd3x2Warning[] =
    "malha: warning: nx = 3 is odd: the right end of the mesh leans beyond x = 1 and the mesh "
    "covers 1.125, 0.375 more than the region's 0.75; an even nx fits the region\n";

// The warning of a case whose nest-files option is 0.
constexpr char kNestZeroWarning[] =
    "malha: warning: line 5 of entradas.txt (nest files) is 0, neither 1 (off) nor 2 (on): taken "
    "as off, no nest file was written\n";

struct GoldenCase {
  const char* name;  // folder under golden/, and the case name it holds
  bool smoothing;
  bool nest;
  const char* warnings = "";
};

const GoldenCase kGoldenCases[] = {
    {"ex2x1", false, true},                    // two volumes, algebraic mesh
    {"gs4x2", true, true},                     // one interior row, a single sweep
    {"odd3x2", false, false, kOdd3x2Warning},  // odd nx: the bottom arm runs past x = 1
    {"ell8x4", true, true},                    // several iterations and sweeps, unequal spacings
    {"gs2x2", true, false, kNestZeroWarning},  // one interior vertex
};

class GoldenRun : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenRun, WritesExactlyTheExpectedFilesAndShowsThem) {
  const GoldenCase& c = GetParam();
  TempDir dir;
  const Files inputs = golden_inputs(c.name);
  ASSERT_EQ(inputs.size(), c.smoothing ? 2u : 1u);
  put_files(dir, inputs);

  const RunResult result = run_in(dir);

  expect_success(result, c.warnings);
  expect_folder(dir, merged(inputs, golden_outputs(c.name, c.name)));
  EXPECT_EQ(result.commands, expected_commands(c.name, c.smoothing, c.nest));
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRun, ::testing::ValuesIn(kGoldenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The commands the golden runs are held to, spelt out: the mesh files, the
// plots, then the nest files; the parameter file after the case file.
TEST(CommandSequence, AsSpeltOut) {
  EXPECT_EQ(
      expected_commands("ex2x1", false, true),
      (std::vector<std::string>{
          "notepad entradas.txt", "notepad ex2x1.txt", "notepad ex2x1_vert.txt",
          "notepad ex2x1_vert_fict.txt", "notepad ex2x1_cent.txt", "notepad ex2x1_cent_fict.txt",
          "wgnuplot malha.gnu", "wgnuplot malha_cent.gnu", "notepad ex2x1_nest.txt",
          "notepad ex2x1_nest_conec.txt", "notepad ex2x1_nest_vert.txt",
          "notepad ex2x1_nest_cent.txt", "notepad ex2x1_nest_area.txt"}));
  EXPECT_EQ(expected_commands("gs2x2", true, false),
            (std::vector<std::string>{
                "notepad entradas.txt", "notepad entrada_eq_elipticas.txt", "notepad gs2x2.txt",
                "notepad gs2x2_vert.txt", "notepad gs2x2_vert_fict.txt", "notepad gs2x2_cent.txt",
                "notepad gs2x2_cent_fict.txt", "wgnuplot malha.gnu", "wgnuplot malha_cent.gnu"}));
}

// ---------------------------------------------------------------------------------------------
// A larger mesh: record counts and widths, and the records files share

TEST(LargeMesh, RecordCountsAndSharedRecords) {
  const int nx = 40, ny = 20;
  const int nvol = nx * ny, nvert = (nx + 1) * (ny + 1), nvolf = (nx + 2) * (ny + 2);
  TempDir dir;
  write_file(dir / "entradas.txt", case_file("big", nx, ny, 2, 2));
  write_file(dir / "entrada_eq_elipticas.txt", elliptic_file(2, 3, "1.0", "1.0"));

  const RunResult result = run_in(dir);
  expect_success(result);
  EXPECT_EQ(result.commands, expected_commands("big", true, true));

  const auto records = [&](const std::string& name) { return crlf_records(read_file(dir / name)); };
  const auto expect_shape = [](const std::string& name, const std::vector<std::string>& recs,
                               std::size_t first, std::size_t count, std::size_t width) {
    ASSERT_EQ(recs.size(), first + count) << name;
    for (std::size_t i = first; i < recs.size(); ++i)
      ASSERT_EQ(recs[i].size(), width) << name << " record " << i + 1;
  };

  const auto mesh = records("big.txt");
  expect_shape("big.txt", mesh, 2, nvert, 50);
  if (HasFatalFailure()) return;  // the records below would not be there
  EXPECT_EQ(mesh[0], "        40        20        41        21         2");
  EXPECT_EQ(mesh[1], "    1.000000000000000E+00    1.000000000000000E+00");

  const auto outline = records("malha.txt");
  ASSERT_EQ(outline.size(), 6u * nvol);
  for (std::size_t i = 0; i < outline.size(); ++i)
    ASSERT_EQ(outline[i].size(), i % 6 == 5 ? 1u : 50u) << "malha.txt record " << i + 1;
  EXPECT_EQ(outline.back(), " ");

  expect_shape("big_vert.txt", records("big_vert.txt"), 0, nvol, 40);
  expect_shape("big_vert_fict.txt", records("big_vert_fict.txt"), 0, nvol, 50);
  expect_shape("big_cent.txt", records("big_cent.txt"), 0, nvol, 50);
  expect_shape("big_cent_fict.txt", records("big_cent_fict.txt"), 0, nvolf, 50);
  expect_shape("centroides.txt", records("centroides.txt"), 0, nvol, 50);
  EXPECT_EQ(read_file(dir / "big_cent.txt"), read_file(dir / "centroides.txt"));

  expect_shape("big_nest_conec.txt", records("big_nest_conec.txt"), 0, nvol, 32);
  expect_shape("big_nest_vert.txt", records("big_nest_vert.txt"), 0, nvol, 32);
  expect_shape("big_nest_cent.txt", records("big_nest_cent.txt"), 0, nvol, 50);
  expect_shape("big_nest_area.txt", records("big_nest_area.txt"), 0, nvol, 25);
  const auto nest = records("big_nest.txt");
  expect_shape("big_nest.txt", nest, 1, nvert, 50);
  if (HasFatalFailure()) return;
  EXPECT_EQ(nest[0], "      40      20      41      21       2");
  EXPECT_TRUE(std::equal(nest.begin() + 1, nest.end(), mesh.begin() + 2));
  EXPECT_EQ(read_file(dir / "big_nest_cent.txt"), read_file(dir / "big_cent.txt"));

  EXPECT_EQ(names_in(dir.path()).size(), 2u + 7u + 5u);
}

// ---------------------------------------------------------------------------------------------
// Files that exist before the run

TEST(ExistingFiles, LongerOutputFilesAreReplacedExactly) {
  TempDir dir;
  const Files inputs = golden_inputs("ex2x1");
  const Files outputs = golden_outputs("ex2x1", "ex2x1");
  put_files(dir, inputs);
  for (const auto& [name, content] : outputs)
    write_file(dir / name, std::string(content.size() * 3, 'x') + "\r\n");

  expect_success(run_in(dir));
  expect_folder(dir, merged(inputs, outputs));
}

TEST(ExistingFiles, NestFilesAreLeftAloneWithoutTheNestOption) {
  TempDir dir;
  const Files inputs = golden_inputs("odd3x2");
  put_files(dir, inputs);
  Files old_nest;
  for (const auto& suffix : kShownNestSuffixes)
    old_nest["odd3x2" + suffix] = "old " + suffix + "\n";
  put_files(dir, old_nest);
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const auto& entry : old_nest) fs::last_write_time(dir / entry.first, old_time);

  const RunResult result = run_in(dir);

  // One line names them, in the order the summary lists a set.
  expect_success(result, std::string(kOdd3x2Warning) +
                             "malha: warning: nest files of an earlier run are left as they were "
                             "(this run wrote none, so they may not match the mesh files): "
                             "odd3x2_nest.txt, odd3x2_nest_conec.txt, odd3x2_nest_vert.txt, "
                             "odd3x2_nest_cent.txt, odd3x2_nest_area.txt\n");
  expect_folder(dir, merged(merged(inputs, old_nest), golden_outputs("odd3x2", "odd3x2")));
  for (const auto& entry : old_nest)
    EXPECT_EQ(fs::last_write_time(dir / entry.first), old_time) << entry.first;
  EXPECT_EQ(result.commands, expected_commands("odd3x2", false, false));
}

// ---------------------------------------------------------------------------------------------
// The elliptic option

TEST(EllipticOption, OffLeavesAnExistingParameterFileUnreadAndUnshown) {
  TempDir dir;
  // Read, this file would stop the run: a zero spacing divides by zero.
  const Files inputs = merged(golden_inputs("ex2x1"),
                              {{"entrada_eq_elipticas.txt", elliptic_file(1, 1, "0.0", "0.0")}});
  put_files(dir, inputs);

  const RunResult result = run_in(dir);

  expect_success(result);
  expect_folder(dir, merged(inputs, golden_outputs("ex2x1", "ex2x1")));
  EXPECT_EQ(result.commands, expected_commands("ex2x1", false, true));
}

TEST(EllipticOption, HandEditedFormsReadAsThePlainValues) {
  // A byte-order mark, blank lines, tabs, a repeat count, a value ended by a
  // comma or a slash, and null records: the spacings keep 1.0 and the source
  // flags 0.
  TempDir plain, edited;
  write_file(plain / "entradas.txt", case_file("forms", 6, 3, 2, 1));
  write_file(plain / "entrada_eq_elipticas.txt", elliptic_file(2, 3, "1.0", "1.0"));
  write_file(edited / "entradas.txt",
             kByteOrderMark + "\r\n   \r\n\tforms,remark\r\n1*6 nx\r\n\r\n3/ny\r\n+2\r\n1\r\n");
  write_file(edited / "entrada_eq_elipticas.txt",
             kByteOrderMark + "2\n\n3\n1.5D-3\n/ dksi\n , deta\n,\n,\n");

  expect_success(run_in(plain));
  const RunResult result = run_in(edited);
  expect_success(result);
  EXPECT_EQ(result.commands, expected_commands("forms", true, false));
  Files want = read_folder(plain.path());
  Files got = read_folder(edited.path());
  for (Files* files : {&want, &got}) {
    files->erase("entradas.txt");
    files->erase("entrada_eq_elipticas.txt");
  }
  EXPECT_EQ(got, want);
}

TEST(EllipticOption, ZeroIterationsKeepTheAlgebraicMeshButWriteTheSpacingsRead) {
  TempDir plain, smoothed;
  write_file(plain / "entradas.txt", case_file("alg", 8, 4, 1, 2));
  write_file(smoothed / "entradas.txt", case_file("alg", 8, 4, 2, 2));
  write_file(smoothed / "entrada_eq_elipticas.txt", elliptic_file(3, 0, "0.5", "2.0"));

  expect_success(run_in(plain));
  const RunResult result = run_in(smoothed);
  expect_success(result,
                 "malha: warning: niter = 0 (line 2 of entrada_eq_elipticas.txt) runs no "
                 "smoothing pass: the mesh is the algebraic one\n");
  EXPECT_EQ(result.commands, expected_commands("alg", true, true));

  const Files want = read_folder(plain.path());
  const Files got = read_folder(smoothed.path());
  ASSERT_EQ(got.size(), want.size() + 1);
  for (const auto& [name, content] : want) {
    if (name == "entradas.txt") continue;
    ASSERT_TRUE(got.count(name)) << name;
    auto got_records = crlf_records(got.at(name));
    auto want_records = crlf_records(content);
    if (name == "alg.txt") {
      // Header: opt_elliptic 2 instead of 1; then deta before dksi.
      ASSERT_GE(got_records.size(), 2u);
      EXPECT_EQ(got_records[0], "         8         4         9         5         2");
      EXPECT_EQ(got_records[1], "    2.000000000000000E+00    5.000000000000000E-01");
      EXPECT_EQ(want_records[1], "    1.000000000000000E+00    1.000000000000000E+00");
      got_records.erase(got_records.begin(), got_records.begin() + 2);
      want_records.erase(want_records.begin(), want_records.begin() + 2);
    } else if (name == "alg_nest.txt") {
      ASSERT_GE(got_records.size(), 1u);
      EXPECT_EQ(got_records[0], "       8       4       9       5       2");
      got_records.erase(got_records.begin());
      want_records.erase(want_records.begin());
    }
    EXPECT_EQ(got_records, want_records) << name;
  }
}

// ---------------------------------------------------------------------------------------------
// Values cut at a ',' or a '/': read as free format reads them (the files are those of the value
// read), with one warning line each naming the file, the line and what was read.

struct CutCase {
  const char* label;
  Files written;  // the input files as written
  Files meant;    // the input files with the values as read
  std::string warnings;
};

const std::string kCommaWarning = "a ',' ends a value; a decimal fraction takes a point\n";

const CutCase kCutCases[] = {
    {"DecimalCommaInASpacing",
     {{"entradas.txt", case_file("c", 6, 3, 2, 1)},
      {"entrada_eq_elipticas.txt", elliptic_file(2, 3, "1,0", "1.0")}},
     {{"entradas.txt", case_file("c", 6, 3, 2, 1)},
      {"entrada_eq_elipticas.txt", elliptic_file(2, 3, "1.0", "1.0")}},
     "malha: warning: line 4 of entrada_eq_elipticas.txt holds '1,0', read as 1: " + kCommaWarning},
    {"DecimalCommaInAnInteger",
     {{"entradas.txt", "c\r\n6,5\r\n3\r\n1\r\n2\r\n"}},
     {{"entradas.txt", case_file("c", 6, 3, 1, 2)}},
     "malha: warning: line 2 of entradas.txt holds '6,5', read as 6: " + kCommaWarning},
    {"FractionWithASlash",
     {{"entradas.txt", case_file("c", 6, 3, 2, 1)},
      {"entrada_eq_elipticas.txt", elliptic_file(2, 3, "1.0", "1/2")}},
     {{"entradas.txt", case_file("c", 6, 3, 2, 1)},
      {"entrada_eq_elipticas.txt", elliptic_file(2, 3, "1.0", "1.0")}},
     "malha: warning: line 5 of entrada_eq_elipticas.txt holds '1/2', read as 1: a '/' ends a "
     "value\n"},
    {"SlashInAnUnquotedName",
     {{"entradas.txt", case_file("meshes/l120", 6, 3, 1, 1)}},
     {{"entradas.txt", case_file("meshes", 6, 3, 1, 1)}},
     "malha: warning: line 1 of entradas.txt holds 'meshes/l120', read as 'meshes': a '/' ends a "
     "value unless the text is quoted, and a case name cannot hold one\n"},
    {"TwoInOneFile",
     {{"entradas.txt", "c\r\n6,5\r\n3,0\r\n1\r\n2\r\n"}},
     {{"entradas.txt", case_file("c", 6, 3, 1, 2)}},
     "malha: warning: line 2 of entradas.txt holds '6,5', read as 6: " + kCommaWarning +
         "malha: warning: line 3 of entradas.txt holds '3,0', read as 3: " + kCommaWarning},
};

class CutValue : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutValue, ReadsAsBeforeAndWarns) {
  const CutCase& c = GetParam();
  TempDir written, meant;
  put_files(written, c.written);
  put_files(meant, c.meant);
  expect_success(run_in(meant));
  const RunResult result = run_in(written);
  expect_success(result, c.warnings);
  Files want = read_folder(meant.path());
  Files got = read_folder(written.path());
  for (const auto& [name, content] : c.written) want.erase(name), got.erase(name);
  EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Inputs, CutValue, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Case names and the command texts built from them

struct NameCase {
  const char* label;
  std::string record;  // record 1 of the case file as written
  std::string stem;    // the case name without trailing blanks
  std::string shown;   // the command that shows the first mesh file
  std::string warnings = "";
};

const std::string kLongName = std::string(95, 'n') + "12345" + "_cut_off";
// Forty euro signs, three bytes each.
const std::string kEuros = [] {
  std::string out;
  for (int k = 0; k < 40; ++k) out += "\xE2\x82\xAC";
  return out;
}();

const NameCase kNameCases[] = {
    {"Blank", "'my mesh'", "my mesh", "notepad 'my mesh.txt'"},
    {"Quote", "'it''s'", "it's", "notepad 'it'\\''s.txt'"},
    {"LeadingBlank", "' lead'", " lead", "notepad ' lead.txt'"},
    {"TrailingBlanks", "'trail   '", "trail", "notepad trail.txt"},
    {"PlainPunctuation", "v1.2_a-b+c", "v1.2_a-b+c", "notepad v1.2_a-b+c.txt"},
    // A byte-order mark at the start of the file, as some editors save it, is
    // skipped: it does not stand in the name, nor hide its quotes.
    {"QuotedAfterByteOrderMark", kByteOrderMark + "'my mesh'", "my mesh", "notepad 'my mesh.txt'"},
    // Only one mark, and only at the start: a second one is the name's.
    {"SecondByteOrderMark", kByteOrderMark + kByteOrderMark + "x", kByteOrderMark + "x",
     "notepad '" + kByteOrderMark + "x.txt'"},
    // A longer name is cut to its first 100 characters, which name the files;
    // the run says so once it has completed.
    {"LongerThan100Characters", kLongName, kLongName.substr(0, 100),
     "notepad " + kLongName.substr(0, 100) + ".txt",
     "malha: warning: the case name in entradas.txt has 108 characters; its first 100 name the "
     "files: '" +
         kLongName.substr(0, 100) + "'\n"},
    // Cut at a character boundary: 2 + 32 x 3 bytes, the 33rd euro sign would
    // pass the 100th; counted in characters.
    {"LongerThan100BytesOfUtf8", "ab" + kEuros, "ab" + kEuros.substr(0, 96),
     "notepad 'ab" + kEuros.substr(0, 96) + ".txt'",
     "malha: warning: the case name in entradas.txt has 42 characters; its first 34 name the "
     "files: 'ab" +
         kEuros.substr(0, 96) + "'\n"},
};

class CaseName : public ::testing::TestWithParam<NameCase> {};

TEST_P(CaseName, NamesTheFilesAndQuotesThemInCommands) {
  const NameCase& c = GetParam();
  TempDir dir;
  const Files inputs = {{"entradas.txt", case_file(c.record, 2, 1, 1, 2)}};
  put_files(dir, inputs);

  const RunResult result = run_in(dir);

  expect_success(result, c.warnings);
  expect_folder(dir, merged(inputs, golden_outputs("ex2x1", c.stem)));
  ASSERT_GE(result.commands.size(), 2u);
  EXPECT_EQ(result.commands[1], c.shown);
  EXPECT_EQ(result.commands, expected_commands(c.stem, false, true));
}

INSTANTIATE_TEST_SUITE_P(Names, CaseName, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Rejected case files: the run stops right after reading the case file, reporting a failed read

struct RejectedCase {
  const char* label;
  std::string case_text;
};

const RejectedCase kRejectedCases[] = {
    {"OneVolumeAlongKsi", case_file("bad", 1, 2, 2, 2)},
    {"NoVolumesAlongKsi", case_file("bad", 0, 2, 2, 2)},
    {"NegativeNx", case_file("bad", -5, 2, 2, 2)},
    {"NoVolumesAlongEta", case_file("bad", 2, 0, 2, 2)},
    {"CountsOverflow", case_file("bad", 70000, 70000, 2, 2)},
    {"EmptyName", case_file("/", 2, 1, 2, 2)},
    {"SlashInName", case_file("'a/b'", 2, 1, 2, 2)},
    {"ControlCharacterInName", case_file("'a\x01z'", 2, 1, 2, 2)},
    {"NameMalha", case_file("malha", 2, 1, 2, 2)},
    {"NameCentroides", case_file("centroides", 2, 1, 2, 2)},
    {"NameEntradas", case_file("entradas", 2, 1, 2, 2)},
    {"NameEntradaEqElipticas", case_file("entrada_eq_elipticas", 2, 1, 2, 2)},
};

class RejectedCaseFile : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedCaseFile, StopsWithAReadErrorAndWritesNothing) {
  TempDir dir;
  const Files inputs = {{"entradas.txt", GetParam().case_text},
                        {"entrada_eq_elipticas.txt", elliptic_file(1, 1, "1.0", "1.0")}};
  put_files(dir, inputs);

  const RunResult result = run_in(dir);

  expect_case_read_error(result);
  expect_folder(dir, inputs);
  EXPECT_EQ(result.commands, std::vector<std::string>{"notepad entradas.txt"});
}

INSTANTIATE_TEST_SUITE_P(Values, RejectedCaseFile, ::testing::ValuesIn(kRejectedCases),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Failures during the run

TEST(RunFailure, ZeroSpacingStopsWithTheDivideByZeroReport) {
  TempDir dir;
  const Files inputs = {{"entradas.txt", case_file("trap", 4, 2, 2, 2)},
                        {"entrada_eq_elipticas.txt", elliptic_file(1, 1, "0.0", "1.0")}};
  put_files(dir, inputs);

  const RunResult result = run_in(dir);

  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(
      visible(result.stderr_text),
      visible("\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"));
  expect_folder(dir, inputs);
  const std::vector<std::string> want = {"notepad entradas.txt",
                                         "notepad entrada_eq_elipticas.txt"};
  EXPECT_EQ(result.commands, want);
}

// A decimal comma that gives a spacing of 0 makes the run fail; the value is named after the
// report, which alone names no file.
TEST(RunFailure, DecimalCommaReadAsAZeroSpacingIsNamedAfterTheReport) {
  TempDir dir;
  put_files(dir, {{"entradas.txt", case_file("trap", 4, 2, 2, 2)},
                  {"entrada_eq_elipticas.txt", elliptic_file(1, 1, "1.0", "0,5")}});

  const RunResult result = run_in(dir);

  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(visible(result.stderr_text),
            visible("\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"
                    "malha: warning: line 5 of entrada_eq_elipticas.txt holds '0,5', read as 0: " +
                    kCommaWarning));
}

TEST(RunFailure, MissingCaseFileIsCreatedEmptyAndReadPastItsEnd) {
  TempDir dir;

  const RunResult result = run_in(dir);

  expect_case_read_error(result);
  // It says the file is empty, what it must hold and where the example files are.
  for (const char* part :
       {"the file is empty (end of file", "five values", "case name", "examples"})
    EXPECT_TRUE(contains(result.stderr_text, part)) << part << ": " << visible(result.stderr_text);
  expect_folder(dir, {{"entradas.txt", ""}});
  EXPECT_EQ(result.commands, std::vector<std::string>{"notepad entradas.txt"});
}

}  // namespace
