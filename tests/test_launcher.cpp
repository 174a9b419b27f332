// Running commands through the command interpreter.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support.h"
#include "textio.h"

namespace malha::textio {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

// Sets or removes COMSPEC for the object's lifetime.
class ComspecSetting {
 public:
  explicit ComspecSetting(const std::optional<std::string>& value) {
    if (const char* old = std::getenv("COMSPEC")) old_ = old;
    set(value);
  }
  ~ComspecSetting() { set(old_); }
  ComspecSetting(const ComspecSetting&) = delete;
  ComspecSetting& operator=(const ComspecSetting&) = delete;

 private:
  static void set(const std::optional<std::string>& value) {
    value ? ::setenv("COMSPEC", value->c_str(), 1) : ::unsetenv("COMSPEC");
  }
  std::optional<std::string> old_;
};

class LauncherTest : public ::testing::Test {
 protected:
  // An interpreter that records how many arguments it got, its first two
  // arguments, and exits with status 5.
  fs::path make_recorder(const fs::path& where) {
    const fs::path script = where / "interp.sh";
    write_file(script,
               "#!/bin/sh\n"
               "printf '%s' \"$#\" > '" +
                   (dir_ / "count").string() +
                   "'\n"
                   "printf '%s' \"$1\" > '" +
                   (dir_ / "option").string() +
                   "'\n"
                   "printf '%s' \"$2\" > '" +
                   (dir_ / "text").string() + "'\nexit 5\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }

  bool recorder_ran() const { return fs::exists(dir_ / "text"); }

  TempDir dir_;
};

TEST_F(LauncherTest, InterpreterGetsOptionAndTrimmedText) {
  const ComspecSetting comspec(make_recorder(dir_.path()).string());
  EXPECT_EQ(run_command("  notepad entradas.txt   "), 5);
  EXPECT_EQ(read_file(dir_ / "count"), "2");
  EXPECT_EQ(read_file(dir_ / "option"), "-c");
  EXPECT_EQ(read_file(dir_ / "text"), "  notepad entradas.txt");  // leading blanks kept
  // Only blanks are trimmed, and a command of blanks becomes empty.
  EXPECT_EQ(run_command("a\t "), 5);
  EXPECT_EQ(read_file(dir_ / "text"), "a\t");
  EXPECT_EQ(run_command("   "), 5);
  EXPECT_EQ(read_file(dir_ / "text"), "");
}

TEST_F(LauncherTest, DefaultInterpreterAndExitCode) {
  for (const auto& setting : {std::optional<std::string>(), std::optional<std::string>("")}) {
    const ComspecSetting comspec(setting);
    EXPECT_EQ(run_command("exit 3"), 3);
    EXPECT_EQ(run_command("true"), 0);
    // A command the interpreter cannot carry out is no launch failure.
    EXPECT_EQ(run_command("no-such-program-here 2>/dev/null"), 127);
  }
}

TEST_F(LauncherTest, CommandLengthLimit) {
  const ComspecSetting comspec(make_recorder(dir_.path()).string());
  const std::string longest(kMaxCommandLength, 'x');
  EXPECT_EQ(run_command(longest + "     "), 5);
  EXPECT_EQ(read_file(dir_ / "text"), longest);
  fs::remove(dir_ / "text");
  errno = 0;
  EXPECT_EQ(run_command(longest + "y"), -1);
  EXPECT_EQ(last_command_error(), 7);
  EXPECT_EQ(errno, E2BIG);
  EXPECT_FALSE(recorder_ran());
}

TEST_F(LauncherTest, MissingInterpreter) {
  const ComspecSetting comspec((dir_ / "no-such-interpreter").string());
  EXPECT_EQ(run_command("true"), -1);
  EXPECT_EQ(last_command_error(), 2);
}

TEST_F(LauncherTest, ComspecLengthLimit) {
  // Recorders whose paths are exactly 260 and 261 characters long.
  const auto recorder_of_length = [&](std::size_t length) {
    const std::size_t base = (dir_ / "interp.sh").string().size();
    const fs::path where = dir_ / std::string(length - base - 1, 'd');
    fs::create_directory(where);
    const fs::path script = make_recorder(where);
    EXPECT_EQ(script.string().size(), length);
    return script.string();
  };
  {
    const ComspecSetting comspec(recorder_of_length(260));
    EXPECT_EQ(run_command("ok"), 5);
    EXPECT_EQ(read_file(dir_ / "text"), "ok");
  }
  fs::remove(dir_ / "text");
  const ComspecSetting comspec(recorder_of_length(261));
  EXPECT_EQ(run_command("ok"), -1);
  EXPECT_EQ(last_command_error(), 2);
  EXPECT_FALSE(recorder_ran());
}

}  // namespace
}  // namespace malha::textio
