// Running commands through the command interpreter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform.h"
#include "support.h"
#include "textio.h"

namespace malha::textio {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

// Sets or removes an environment variable for the object's lifetime.
class EnvSetting {
 public:
  EnvSetting(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~EnvSetting() { set(old_); }
  EnvSetting(const EnvSetting&) = delete;
  EnvSetting& operator=(const EnvSetting&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    value ? ::setenv(name_, value->c_str(), 1) : ::unsetenv(name_);
  }
  const char* name_;
  std::optional<std::string> old_;
};

class LauncherTest : public ::testing::Test {
 protected:
  // An interpreter that records how many arguments it got, its first two
  // arguments, and exits with status 5.
  fs::path make_recorder(const fs::path& where) {
    const fs::path script = where / "interp.sh";
    std::string body = "#!/bin/sh\n";
    for (const auto& [what, file] : {std::pair{"$#", "count"}, {"$1", "option"}, {"$2", "text"}})
      body += std::string("printf '%s' \"") + what + "\" > '" + (dir_ / file).string() + "'\n";
    write_file(script, body + "exit 5\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }

  bool recorder_ran() const { return fs::exists(dir_ / "text"); }

  TempDir dir_;
};

TEST_F(LauncherTest, InterpreterGetsOptionAndTrimmedText) {
  const EnvSetting comspec("COMSPEC", make_recorder(dir_.path()).string());
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
    const EnvSetting comspec("COMSPEC", setting);
    EXPECT_EQ(run_command("exit 3"), 3);
    EXPECT_EQ(run_command("true"), 0);
    // A command the interpreter cannot carry out is no launch failure.
    EXPECT_EQ(run_command("no-such-program-here 2>/dev/null"), 127);
  }
}

TEST_F(LauncherTest, CommandLengthLimit) {
  const EnvSetting comspec("COMSPEC", make_recorder(dir_.path()).string());
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
  const EnvSetting comspec("COMSPEC", (dir_ / "no-such-interpreter").string());
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
    const EnvSetting comspec("COMSPEC", recorder_of_length(260));
    EXPECT_EQ(run_command("ok"), 5);
    EXPECT_EQ(read_file(dir_ / "text"), "ok");
  }
  fs::remove(dir_ / "text");
  const EnvSetting comspec("COMSPEC", recorder_of_length(261));
  EXPECT_EQ(run_command("ok"), -1);
  EXPECT_EQ(last_command_error(), 2);
  EXPECT_FALSE(recorder_ran());
}

// The PATH a command sees, given this process's PATH and the fallback folder.
struct PathCase {
  const char* name;
  std::optional<std::string> path;  // none: PATH unset
  std::string fallback;
  std::string seen;  // what the command sees; "DEFAULT:" stands for the system's default
};

class CommandPathTest : public LauncherTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(CommandPathTest, FallbackFolderComesLast) {
  const PathCase& c = GetParam();
  const EnvSetting comspec("COMSPEC", std::nullopt);
  const EnvSetting path("PATH", c.path);
  platform::set_command_path_fallback(c.fallback);
  const fs::path seen = dir_ / "seen";
  EXPECT_EQ(run_command("printf %s \"$PATH\" > '" + seen.string() + "'"), 0);
  platform::set_command_path_fallback("");
  std::string expected = c.seen;
  if (expected.starts_with("DEFAULT:")) {
    char text[1024] = {};
    ::confstr(_CS_PATH, text, sizeof text);
    expected.replace(0, 7, text);
  }
  EXPECT_EQ(read_file(seen), expected);
  // This process's own PATH is left alone.
  const char* own = std::getenv("PATH");
  EXPECT_EQ(own ? std::optional<std::string>(own) : std::nullopt, c.path);
}

const PathCase kPathCases[] = {
    {"NoFallback", "/usr/bin:/bin", "", "/usr/bin:/bin"},
    {"Appended", "/usr/bin:/bin", "/opt/m/libexec/malha", "/usr/bin:/bin:/opt/m/libexec/malha"},
    {"AlreadyFirst", "/opt/m/libexec/malha:/usr/bin:/bin", "/opt/m/libexec/malha",
     "/opt/m/libexec/malha:/usr/bin:/bin"},
    {"AlreadyLast", "/usr/bin:/bin:/opt/m/libexec/malha", "/opt/m/libexec/malha",
     "/usr/bin:/bin:/opt/m/libexec/malha"},
    {"LongerNameIsAnother", "/usr/bin:/bin:/opt/m/libexec/malha2", "/opt/m/libexec/malha",
     "/usr/bin:/bin:/opt/m/libexec/malha2:/opt/m/libexec/malha"},
    {"BlanksKept", "/usr/bin:/bin", "/home/a b/libexec/malha",
     "/usr/bin:/bin:/home/a b/libexec/malha"},
    {"SeparatorInFolder", "/usr/bin:/bin", "/opt/a:b/libexec/malha", "/usr/bin:/bin"},
    {"PathUnset", std::nullopt, "/opt/m/libexec/malha", "DEFAULT:/opt/m/libexec/malha"},
};
INSTANTIATE_TEST_SUITE_P(Launcher, CommandPathTest, ::testing::ValuesIn(kPathCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A program of the fallback folder runs when PATH has none of that name, and
// one on PATH wins over it.
TEST_F(LauncherTest, ProgramOnPathWinsOverFallback) {
  const EnvSetting comspec("COMSPEC", std::nullopt);
  for (const char* folder : {"fallback", "first"}) {
    fs::create_directory(dir_ / folder);
    write_file(dir_ / folder / "standin", std::string("#!/bin/sh\necho ") + folder + " > \"$1\"\n");
    fs::permissions(dir_ / folder / "standin", fs::perms::owner_all);
  }
  const std::string own_path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  platform::set_command_path_fallback((dir_ / "fallback").string());
  const std::string command = "standin '" + (dir_ / "said").string() + "'";
  EXPECT_EQ(run_command(command), 0);
  EXPECT_EQ(read_file(dir_ / "said"), "fallback\n");
  {
    const EnvSetting path("PATH", (dir_ / "first").string() + ":" + own_path);
    EXPECT_EQ(run_command(command), 0);
    EXPECT_EQ(read_file(dir_ / "said"), "first\n");
  }
  platform::set_command_path_fallback("");
  EXPECT_EQ(run_command(command + " 2>/dev/null"), 127);
}

}  // namespace
}  // namespace malha::textio
