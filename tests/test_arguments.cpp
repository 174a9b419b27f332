// The command line: --help, -h and --version answer on standard output; a run option with a
// value it does not take, or any other argument, is refused with status 2. None of them reads,
// writes or starts anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run/usage.h"
#include "support.h"

namespace {

struct ArgumentCase {
  const char* label;
  std::vector<std::string> args;
  int status;
  std::string out;  // a part of standard output ("" for none at all)
  std::string err;  // a part of the one line on standard error ("" for none at all)
};

const ArgumentCase kArgumentCases[] = {
    {"Help", {"--help"}, 0, "Usage: malha", ""},
    {"ShortHelp", {"-h"}, 0, "MALHA_EDIT_INPUTS_ONLY", ""},
    {"Version", {"--version"}, 0, "malha " MALHA_PROJECT_VERSION "\n", ""},
    {"ShortVersion", {"-V"}, 0, "malha " MALHA_PROJECT_VERSION "\n", ""},
    {"VersionNotAfterAnOption", {"-x", "-V"}, 2, "", "'-x'"},
    {"UnknownOption", {"--verbose"}, 2, "", "'--verbose'"},
    {"ExtraAfterHelp", {"--help", "now"}, 2, "", "'now'"},
    // The values of both options are read alike (a finite number, all of the
    // value, not an empty one after "="); each has its range.
    {"ToleranceTrailingText", {"--converge=1e-10x"}, 2, "", "below 1 in '--converge=1e-10x'"},
    {"ToleranceZero", {"--converge=0"}, 2, "", "above 0 and below 1 in '--converge=0'"},
    {"ToleranceOne", {"--converge=1"}, 2, "", "'--converge=1'"},
    {"ConvergeMisspelt", {"--convergence"}, 2, "", "unknown argument '--convergence'"},
    {"BadToleranceAfterGoodOne", {"--converge", "--converge=2"}, 2, "", "'--converge=2'"},
    {"HelpTellsTheGrading", {"--help"}, 0, "--grade[=GAMMA]", ""},
    {"GradeBelowOne", {"--grade=0.5"}, 2, "", "GAMMA must be from 1 to 4 in '--grade=0.5'"},
    {"GradeAboveFour", {"--grade=4.01"}, 2, "", "GAMMA must be from 1 to 4 in '--grade=4.01'"},
    {"GradeNotANumber", {"--grade=two"}, 2, "", "GAMMA is not a number in '--grade=two'"},
    {"GradeNaN", {"--grade=nan"}, 2, "", "GAMMA is not a number in '--grade=nan'"},
    {"GradeInfinite", {"--grade=inf"}, 2, "", "GAMMA is not a number in '--grade=inf'"},
    {"GradeEmptyValue", {"--grade="}, 2, "", "no value after '=' in '--grade='"},
    {"HelpAfterGrade", {"--grade", "--help"}, 2, "", "'--help'"},
    // A value after a blank instead of '=' gets a hint at the '=' form; an
    // option after an option does not.
    {"ToleranceAfterABlank",
     {"--converge", "1e-8"},
     2,
     "",
     "unknown argument '1e-8'; did you mean --converge=1e-8? (see"},
    {"GammaAfterABlank", {"--grade", "3"}, 2, "", "'3'; did you mean --grade=3? (see"},
    {"NoHintAfterAValueGiven", {"--grade=2", "3"}, 2, "", "unknown argument '3' (see"},
    {"NoHintForAnOption", {"--grade", "--fast"}, 2, "", "unknown argument '--fast' (see"},
    // --control takes no value.
    {"HelpTellsTheControl", {"--help"}, 0, "Control functions (--control)", ""},
    {"ControlWithAValue", {"--control=2"}, 2, "", "unknown argument '--control=2'"},
    // Control bytes in an argument are shown as \xNN, never sent to the
    // terminal: the refusal stays one line.
    {"EscapeSequence", {"--x\x1b[2J"}, 2, "", "unknown argument '--x\\x1B[2J'"},
    {"LineFeedInAValue", {"--grade=2\n3"}, 2, "", "'--grade=2\\x0A3'"},
};

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, AnswerOrRefuseWithoutTouchingAnything) {
  const ArgumentCase& c = GetParam();
  malha::test::TempDir dir;
  const auto result = malha::test::run_program(MALHA_EXE, dir.path(), {}, c.args);
  EXPECT_EQ(result.exit_status, c.status);
  EXPECT_EQ(result.stdout_text.empty(), c.out.empty());
  EXPECT_NE(result.stdout_text.find(c.out), std::string::npos) << result.stdout_text;
  const std::string& err = result.stderr_text;
  EXPECT_EQ(err.empty(), c.err.empty());
  if (!c.err.empty()) {  // one line naming the argument and pointing to --help
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    EXPECT_NE(err.find("--help"), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  }
  EXPECT_TRUE(result.commands.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "a file was created";
}

INSTANTIATE_TEST_SUITE_P(CommandLine, Arguments, ::testing::ValuesIn(kArgumentCases),
                         [](const auto& info) { return std::string(info.param.label); });

// An option given more than once counts the last time only, its default
// coming back when the last time has no value.
struct RepeatCase {
  const char* label;
  std::vector<const char*> args;
  double tolerance;
  bool tolerance_given;
  double grading;
};

const RepeatCase kRepeatCases[] = {
    {"ToleranceThenNone", {"--converge=1e-8", "--converge"}, 1e-10, false, 1.0},
    {"NoneThenTolerance", {"--converge", "--converge=1e-8"}, 1e-8, true, 1.0},
    {"TwoTolerances", {"--converge=1e-6", "--converge=1e-8"}, 1e-8, true, 1.0},
    {"GammaThenGamma", {"--grade=2", "--grade=3"}, 1e-10, false, 3.0},
    {"GammaThenNone", {"--grade=3", "--grade"}, 1e-10, false, 2.0},
};

class RepeatedOption : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(RepeatedOption, TheLaterOneStands) {
  const RepeatCase& c = GetParam();
  std::vector<const char*> argv = {"malha"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  malha::RunRequest request;
  ASSERT_EQ(malha::handle_arguments(static_cast<int>(argv.size()), argv.data(), request),
            malha::kGoOnWithTheRun);
  EXPECT_EQ(request.converge_tolerance, c.tolerance);
  EXPECT_EQ(request.converge_tolerance_given, c.tolerance_given);
  EXPECT_EQ(request.grading, c.grading);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, RepeatedOption, ::testing::ValuesIn(kRepeatCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
