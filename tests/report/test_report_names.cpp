// Case names that hold what a shell, gnuplot or a terminal treats specially:
// each must reach every command either program runs as one literal argument,
// run nothing, and show in messages, JSON and pictures as printable text.
// The commands run through the real /bin/sh; stand-ins for notepad, wgnuplot
// and gnuplot record the arguments they get.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "report/checks/case_files.h"
#include "report/checks/records.h"
#include "report/report.h"
#include "report_case.h"

namespace {

namespace fs = std::filesystem;
using malha::test::read_file;
using malha::test::visible;
using malha::test::write_file;

// Shown in a message with control bytes as \xNN, in a picture's title also
// bytes that are not UTF-8; empty when the same as the name.
struct HostileName {
  const char* label;
  std::string stem;
  bool malha_accepts;  // malha refuses control characters and folder separators
  std::string shown = {}, title = {};
};

const std::vector<HostileName>& hostile_names() {
  static const std::vector<HostileName> table = {
      {"single quote", "it's", true},
      {"double quotes", "say \"hi\"", true},
      {"backslash", "back\\slash", false},
      {"command substitution", "$(touch INJECTED)", true},
      {"backquotes", "`touch INJECTED`", true},
      {"semicolon", "a;touch INJECTED", true},
      {"ampersand", "a&touch INJECTED&", true},
      {"pipe", "a|touch INJECTED", true},
      {"line feeds around gnuplot text", "x\nsystem(\"touch INJECTED\")\nx", false,
       "x\\x0Asystem(\"touch INJECTED\")\\x0Ax"},
      {"gnuplot quotes", "x'\nsystem('touch INJECTED')\n'", false,
       "x'\\x0Asystem('touch INJECTED')\\x0A'"},
      {"carriage return", "a\rb", false, "a\\x0Db"},
      {"percent", "100%PATH%", true},
      {"exclamation mark", "bang!!", true},
      {"leading dash", "-x", true},
      {"blanks", "my  mesh", true},
      {"not UTF-8", "b\xff", true, "", "b\\xFF"},
  };
  return table;
}

bool valid_utf8_without_controls(const std::string& text) {
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t n = malha::report::utf8_length(text, k);
    if (n == 0 || (n == 1 && text[k] < 0x20 && text[k] != '\n')) return false;
    k += n;
  }
  return true;
}

// Stand-ins for notepad, wgnuplot and gnuplot append their name and
// arguments to $RECORD_LOG (fields separated by \x1F, calls by \x1E).
class HostileNames : public malha::test::ReportFolder {
 protected:
  void SetUp() override {
    ReportFolder::SetUp();
    const std::string record =
        "{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do printf '\\037%s' \"$a\"; done;"
        " printf '\\036'; } >> \"$RECORD_LOG\"\n";
    stand_in("notepad", record);
    stand_in("wgnuplot", record);
    stand_in("gnuplot", record + malha::test::kDrawsPng);
  }

  // The calls recorded since the last look: each the command's name, then
  // its arguments.
  std::vector<std::vector<std::string>> calls() const {
    std::vector<std::vector<std::string>> out;
    if (!fs::exists(log_)) return out;
    std::istringstream records(read_file(log_));
    fs::remove(log_);
    for (std::string call; std::getline(records, call, '\x1e');) {
      std::istringstream parts(call);
      out.emplace_back();
      for (std::string f; std::getline(parts, f, '\x1f');) out.back().push_back(f);
    }
    return out;
  }

  bool injected() const {
    for (const fs::path& folder : {case_dir_, bin_, scratch_, dir_.path()})
      if (fs::exists(folder / "INJECTED")) return true;
    return false;
  }
};

TEST_F(HostileNames, MalhasEditorGetsEachFileAsOneArgument) {
  for (const HostileName& n : hostile_names()) {
    if (!n.malha_accepts) continue;
    SCOPED_TRACE(n.label);
    fs::remove_all(case_dir_);
    fs::create_directories(case_dir_);
    std::string quoted = "'";
    for (char c : n.stem) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    write_file(case_dir_ / "entradas.txt", quoted + "'\n4\n2\n1\n1\n");
    const auto result = run(MALHA_EXE, {});
    ASSERT_EQ(result.exit_status, 0) << result.stderr_text;
    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 8u);  // entradas.txt, five case files, two plot scripts
    for (std::size_t k = 0; k < 6; ++k) {
      ASSERT_EQ(recorded[k].size(), 2u) << "one argument to notepad";
      EXPECT_EQ(recorded[k][0], "notepad");
      EXPECT_TRUE(fs::is_regular_file(case_dir_ / recorded[k][1])) << visible(recorded[k][1]);
    }
    EXPECT_EQ(recorded[1][1], n.stem + ".txt");
    EXPECT_EQ(recorded[6], (std::vector<std::string>{"wgnuplot", "malha.gnu"}));
    EXPECT_FALSE(injected());
  }
}

// gnuplot gets the names and the title as arguments; the report, the JSON
// and the SVG show them printable.
TEST_F(HostileNames, GnuplotGetsThemAsArgumentsTheReportShowsThemPrintable) {
  for (const HostileName& name : hostile_names()) {
    SCOPED_TRACE(name.label);
    HostileName n = name;
    if (n.shown.empty()) n.shown = n.stem;
    if (n.title.empty()) n.title = n.shown;
    malha::test::copy_case(malha::test::malha_run(malha::test::kSmallCase), case_dir_, n.stem);
    const auto result = report({"--map", "equiangle_skew", "--", n.stem});
    ASSERT_EQ(result.exit_status, 0) << visible(result.stderr_text);
    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_EQ(recorded[0].size(), 10u)
        << "gnuplot -c SCRIPT DATA PICTURE TITLE LABEL LOW HIGH SCALE";
    EXPECT_EQ(recorded[0][1], "-c");
    EXPECT_LT(std::stod(recorded[0][7]), std::stod(recorded[0][8])) << "the colour range";
    EXPECT_EQ(recorded[0][9], "linear");
    EXPECT_EQ(recorded[0][5], n.title + ": equiangle skew");
    for (std::size_t k = 2; k <= 4; ++k)
      EXPECT_EQ(fs::path(recorded[0][k]).parent_path(), scratch_) << "a scratch file";
    EXPECT_TRUE(fs::is_regular_file(case_dir_ / (n.stem + "_equiangle_skew.png")));
    EXPECT_EQ(result.stdout_text.substr(0, 5 + n.shown.size() + 1), "case " + n.shown + ":");
    EXPECT_NE(result.stdout_text.find("map: wrote " + n.shown + "_equiangle_skew.png (PNG"),
              std::string::npos);
    EXPECT_FALSE(injected());
    const auto json = report({"--json", "--", n.stem});
    ASSERT_EQ(json.exit_status, 0) << visible(json.stderr_text);
    EXPECT_TRUE(valid_utf8_without_controls(json.stdout_text)) << visible(json.stdout_text);
    const auto svg = report({"--map", "area", "--svg", "--", n.stem});
    ASSERT_EQ(svg.exit_status, 0) << visible(svg.stderr_text);
    EXPECT_TRUE(valid_utf8_without_controls(read_file(case_dir_ / (n.stem + "_area.svg"))));
  }
}

TEST_F(HostileNames, MessagesNameWhatWasWrong) {
  fs::create_directory(case_dir_ / "c");
  const struct {
    std::string arg, stderr_text;
  } table[] = {
      {"c/", "c/: expected a case name or the path to its CASE.txt, found a folder name\n"},
      // A folder named without its '/' is no case either, unless c.txt is beside it.
      {"c", "c: expected a case name or the path to its CASE.txt, found a folder (and no c.txt)\n"},
      // The files looked for are named with the folder given.
      {"/dev/null", "/dev/null.txt: expected a readable file, found no such file or directory\n"},
      {"c/x", "c/x.txt: expected a readable file, found no such file or directory\n"},
      {"no\nsuch", "no\\x0Asuch.txt: expected a readable file, found no such file or directory\n"},
      {"--\x1b[2J", "unknown option '--\\x1B[2J'\nTry 'malha-report --help'.\n"},
  };
  for (const auto& m : table) {
    SCOPED_TRACE(visible(m.arg));
    const auto result = report({m.arg});
    EXPECT_NE(result.exit_status, 0);
    EXPECT_EQ(result.stderr_text, "malha-report: " + m.stderr_text);
  }
}

// Numbers as wide as a column still stand apart from their neighbours.
TEST_F(HostileNames, HugeNumbersKeepTheirColumnsApart) {
  malha::report::Report r;
  r.files = {case_dir_.string(), "t"};
  const auto checked = malha::report::read_case(r.files);
  r.mesh = &checked.mesh;
  r.checked = checked.checked;
  for (auto& m : r.quality.metrics) {
    m.min.value = -1.5e+300;
    m.mean = -2.5e+300;
    m.max.value = -3.5e+300;
    m.cells = 1;
  }
  const std::string text = malha::report::text_report(r);
  // The name in 33 columns, each number in 12.
  EXPECT_NE(text.find("area" + std::string(29 + 3, ' ') + "-1.5e+300   -2.5e+300   -3.5e+300"),
            std::string::npos)
      << text;
  for (auto& m : r.quality.metrics) m.min.value = m.mean = m.max.value = -1.23456789e+300;
  EXPECT_NE(malha::report::text_report(r).find(" -1.23457e+300 -1.23457e+300 -1.23457e+300   "),
            std::string::npos);
}

}  // namespace
