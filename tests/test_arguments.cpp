// The command line: no argument runs the case; --help, -h and --version answer on standard
// output and end; any other argument is refused with status 2. In none of those answers is a
// file read, written or a command started.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::test::TempDir;
using malha::test::visible;

struct ArgumentCase {
  const char* label;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> in_stdout;  // texts standard output holds (empty when refused)
  std::string in_stderr;               // a text standard error holds ("" for none at all)
};

const std::vector<std::string> kUsageParts = {
    "Usage: malha",         "entradas.txt", "entrada_eq_elipticas.txt",
    "CASE_nest_area.txt",   "COMSPEC=true", "libexec/malha",
    "share/malha/examples", "Exit status",  "MALHA_EDIT_INPUTS_ONLY"};

const ArgumentCase kArgumentCases[] = {
    {"Help", {"--help"}, 0, kUsageParts, ""},
    {"ShortHelp", {"-h"}, 0, kUsageParts, ""},
    {"Version", {"--version"}, 0, {"malha " MALHA_PROJECT_VERSION "\n"}, ""},
    {"UnknownOption", {"--verbose"}, 2, {}, "'--verbose'"},
    {"FileName", {"entradas.txt"}, 2, {}, "'entradas.txt'"},
    {"EmptyArgument", {""}, 2, {}, "''"},
    {"ExtraAfterHelp", {"--help", "now"}, 2, {}, "'now'"},
    {"ExtraAfterVersion", {"--version", "-h"}, 2, {}, "'-h'"},
};

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, AnswerOrRefuseWithoutTouchingAnything) {
  const ArgumentCase& c = GetParam();
  TempDir dir;

  const auto result = malha::test::run_program(MALHA_EXE, dir.path(), {}, c.args);

  EXPECT_EQ(result.exit_status, c.status);
  for (const std::string& part : c.in_stdout)
    EXPECT_NE(result.stdout_text.find(part), std::string::npos) << part;
  if (c.in_stdout.empty()) {
    EXPECT_EQ(result.stdout_text, "");
  }
  if (c.in_stderr.empty()) {
    EXPECT_EQ(visible(result.stderr_text), "");
  } else {
    // One line naming the argument and pointing to --help.
    EXPECT_NE(result.stderr_text.find(c.in_stderr), std::string::npos) << result.stderr_text;
    EXPECT_NE(result.stderr_text.find("--help"), std::string::npos) << result.stderr_text;
    EXPECT_EQ(result.stderr_text.find('\n'), result.stderr_text.size() - 1) << result.stderr_text;
  }
  EXPECT_TRUE(result.commands.empty());
  EXPECT_TRUE(fs::is_empty(dir.path())) << "a file was created";
}

INSTANTIATE_TEST_SUITE_P(CommandLine, Arguments, ::testing::ValuesIn(kArgumentCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
