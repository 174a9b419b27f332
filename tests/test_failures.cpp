// Failures a user can cause, run end to end: a full disk, output and input
// names that are no files, hostile input bytes, sizes beyond the machine's
// memory, and signals while an editor runs. Each must end in a report and a
// clear exit, leave the files written before it as they are, and never hang.
//
// The tests run as root in CI, so none relies on file permissions: they use
// failures root cannot bypass (a full file system, directories, dangling
// links, address-space limits).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "support.h"
#include "textio.h"
#include "variaveis.h"

#if defined(__SANITIZE_ADDRESS__)
#define MALHA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MALHA_UNDER_ASAN 1
#endif
#endif

namespace malha {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::names_in;
using test::read_file;
using test::TempDir;
using test::visible;
using test::write_file;

#ifdef MALHA_UNDER_ASAN
// AddressSanitizer reserves terabytes of address space: no address-space
// limit can be set under it.
constexpr bool kAddressLimits = false;
#else
constexpr bool kAddressLimits = true;
#endif

// Every run in this file is held to this much address space, so that no size
// can bring the kernel's out-of-memory killer in: a refused allocation is the
// program's own report.
constexpr std::uint64_t kDefaultAddressLimit = 2ULL << 30;

std::string case_file(const std::string& name, int nx, int ny, int elliptic, int nest) {
  return name + "\n" + std::to_string(nx) + "\n" + std::to_string(ny) + "\n" +
         std::to_string(elliptic) + "\n" + std::to_string(nest) + "\n";
}

const std::string kEllipticFile = "2\n2\n0.0\n1.0\n1.0\n1\n1\n";

struct Outcome : test::RunResult {
  double seconds = 0.0;
};

// Runs the program in `dir`, in a process group of its own, with COMSPEC
// naming a shell script that logs each command text it gets and then runs
// `editor` (shell text; "$2" is the command). `during` is called once the
// program has started, with its process id and a function telling whether a
// file named "editor-running" has appeared in the script's directory (the
// script may create it as "$READY"). A run that outlives `timeout` is killed
// and counts as a hang.
struct RunOptions {
  std::optional<std::uint64_t> address_limit = kDefaultAddressLimit;  // none: no limit
  bool stderr_closed = false;
  bool ordinary_user = false;
};

template <class During>
Outcome run_malha(const fs::path& dir, const std::string& editor, During during,
                  const RunOptions& options = {}) {
  const auto [address_limit, stderr_closed, ordinary_user] = options;
  const std::chrono::seconds timeout(120);
  TempDir tools;
  const fs::path log = tools / "commands.log";
  const fs::path err = tools / "stderr.log";
  const fs::path ready = tools / "editor-running";
  const fs::path script = tools / "interpreter.sh";
  write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$2\" >> '" + log.string() + "'\nREADY='" +
                         ready.string() + "'\n" + editor + "\nexit 0\n");
  fs::permissions(script, fs::perms::owner_all);
  // An ordinary user runs the script and writes its logs there too, and runs
  // a copy of the program: the build folder may be one only its owner can
  // enter (a clone in root's home).
  std::string program = MALHA_EXE;
  if (ordinary_user) {
    fs::permissions(tools.path(), fs::perms::all);
    fs::permissions(script, fs::perms::all);
    program = (tools / "malha").string();
    fs::copy_file(MALHA_EXE, program);
    fs::permissions(program, fs::perms::all);
  }

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::setpgid(0, 0);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::setenv("COMSPEC", script.c_str(), 1);
    // The program starts with the default dispositions a shell would give it.
    for (const int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
    if (address_limit && kAddressLimits) {
      const rlimit limit{*address_limit, *address_limit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    test::redirect_standard_streams(err);
    if (stderr_closed) ::close(2);
    if (ordinary_user) test::act_as_ordinary_user();
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  during(pid, [&] { return fs::exists(ready); });

  Outcome outcome;
  int status = 0;
  for (;;) {
    const pid_t waited = ::waitpid(pid, &status, WNOHANG);
    if (waited == pid) break;
    if (std::chrono::steady_clock::now() - start > timeout) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      outcome.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // An editor the program left behind is ended with it.
  ::kill(-pid, SIGKILL);
  if (!outcome.timed_out && WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (!outcome.timed_out && WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.stderr_text = fs::exists(err) ? read_file(err) : "";
  std::istringstream lines(fs::exists(log) ? read_file(log) : "");
  for (std::string line; std::getline(lines, line);) outcome.commands.push_back(line);
  return outcome;
}

Outcome run_malha(const fs::path& dir, const RunOptions& options = {}) {
  return run_malha(
      dir, "", [](pid_t, auto&&) {}, options);
}

// Waits until `done` says so (it must, within a minute).
template <class Done>
void wait_until(Done&& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Whether a process of the group runs the program `name`.
bool program_in_group(pid_t group, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::string stat;
    try {
      stat = read_file(entry.path() / "stat");
    } catch (const std::exception&) {
      continue;
    }
    // pid (comm) state ppid pgrp ...
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    if (stat.substr(open + 1, close - open - 1) != name) continue;
    int ppid = 0, pgrp = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 &&
        pgrp == group)
      return true;
  }
  return false;
}

// The whole standard error is exactly one report of the given number,
// statement and file; `message` is a regular expression for its last line.
void expect_report(const Outcome& o, const std::string& number, const std::string& statement,
                   const std::string& file, const std::string& message) {
  EXPECT_FALSE(o.timed_out);
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exit_status, 1);
  const std::regex shape("\r\nrun-time error F" + number + ": " + statement + "\\(" + file +
                         "\\)\r\n- " + message + "\r\n");
  EXPECT_TRUE(std::regex_match(o.stderr_text, shape)) << visible(o.stderr_text);
}

std::string escaped(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// ---------------------------------------------------------------------------
// Output files.

// A small file system of its own in `dir`, or nothing where mounting is not
// allowed.
class SmallFileSystem {
 public:
  SmallFileSystem(const fs::path& dir, const char* size)
      : dir_(dir), mounted_(::mount("tmpfs", dir.c_str(), "tmpfs", 0, size) == 0) {}
  ~SmallFileSystem() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  fs::path dir_;
  bool mounted_;
};

// The disk fills while "malha.txt" is written: on a 64 KiB file system the
// first file of the set fits and the second does not. Where no file system
// can be mounted, "malha.txt" is a link to /dev/full instead.
TEST(DiskFull, ReportsTheFileAndLeavesWhatWasWrittenBefore) {
  const std::string inputs = case_file("caso", 20, 16, 1, 2);
  TempDir reference;
  write_file(reference / "entradas.txt", inputs);
  ASSERT_EQ(run_malha(reference.path()).exit_status, 0);

  TempDir dir;
  const SmallFileSystem small(dir.path(), "size=64k");
  write_file(dir / "entradas.txt", inputs);
  if (!small.mounted()) fs::create_symlink("/dev/full", dir / "malha.txt");

  const Outcome o = run_malha(dir.path());

  expect_report(o, "6601", "WRITE", "malha\\.txt",
                "error writing the file: no space left on device");
  EXPECT_EQ(read_file(dir / "caso.txt"), read_file(reference / "caso.txt"));
  if (small.mounted()) {
    const std::string partial = read_file(dir / "malha.txt");
    const std::string whole = read_file(reference / "malha.txt");
    EXPECT_LT(partial.size(), whole.size());
    EXPECT_EQ(partial, whole.substr(0, partial.size()));
  }
  // Nothing is shown, no nest file is written.
  EXPECT_EQ(o.commands, std::vector<std::string>{"notepad entradas.txt"});
  EXPECT_FALSE(fs::exists(dir / "caso_nest.txt"));
}

// An output name taken by a directory cannot be opened; one taken by a link
// to nowhere cannot be created (the program never creates a file through a
// link). Either stops the run at the opening of that file, and a file of the
// set opened before it keeps its old content.
TEST(UnusableOutputName, StopsAtTheOpenAndLeavesEarlierFilesAlone) {
  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"caso_vert.txt", "cannot open the file: is a directory"},
      {"caso_cent.txt", "cannot create the file: file exists"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 1));
    write_file(dir / "caso.txt", "from an earlier run\r\n");
    if (std::string(c.name) == "caso_vert.txt") {
      fs::create_directory(dir / c.name);
    } else {
      fs::create_symlink("no-such-folder/x.txt", dir / c.name);
    }

    const Outcome o = run_malha(dir.path());

    expect_report(o, "6401", "OPEN", escaped(c.name), c.message);
    EXPECT_EQ(read_file(dir / "caso.txt"), "from an earlier run\r\n");
    EXPECT_EQ(o.commands, std::vector<std::string>{"notepad entradas.txt"});
  }
}

// An existing output file that can only be read is found when its set is
// opened, before any file of the set is written: the run stops with the
// report its first write would give, and no file of the set changes (those
// of a set written before it are complete). The program runs as an ordinary
// user, whom the permissions bind.
TEST(UnusableOutputName, ReadOnlyFileStopsTheSetBeforeAnyFileIsCut) {
  const struct {
    const char* read_only;
    std::vector<std::string> untouched;  // written before the run, and kept
    std::vector<std::string> rewritten;  // of a set written before the failure
  } cases[] = {
      {"caso_cent.txt", {"caso.txt", "malha.txt", "caso_vert.txt", "caso_nest.txt"}, {}},
      {"caso_nest_area.txt", {"caso_nest_conec.txt", "caso_nest.txt"}, {"caso.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read_only);
    TempDir dir;
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 2));
    ASSERT_EQ(run_malha(dir.path()).exit_status, 0);
    for (const auto& name : c.untouched) write_file(dir / name, "from an earlier run\r\n");
    write_file(dir / "caso.txt", "from an earlier run\r\n");
    // Files the user may write, but for one; a folder where the user can
    // create nothing.
    for (const auto& entry : fs::directory_iterator(dir.path()))
      ::chmod(entry.path().c_str(), 0666);
    ::chmod((dir / c.read_only).c_str(), 0444);
    ::chmod(dir.path().c_str(), 0755);

    const Outcome o = run_malha(dir.path(), {.ordinary_user = true});

    expect_report(o, "6601", "WRITE", escaped(c.read_only),
                  "the file could only be opened for reading, so it cannot be written");
    for (const auto& name : c.untouched)
      EXPECT_EQ(read_file(dir / name), "from an earlier run\r\n") << name;
    for (const auto& name : c.rewritten) EXPECT_NE(read_file(dir / name).substr(0, 4), "from");
  }
}

// Started with standard error closed, the program still opens its files on
// descriptors of their own: a report goes nowhere instead of into the input
// file being read or an output file being written.
TEST(ClosedStandardError, ReportsNeverLandInTheFiles) {
  TempDir dir;
  const std::string bad_case = "caso\n4\nx\n1\n1\n";
  write_file(dir / "entradas.txt", bad_case);
  Outcome o = run_malha(dir.path(), {.stderr_closed = true});
  EXPECT_EQ(o.exit_status, 1);
  EXPECT_EQ(read_file(dir / "entradas.txt"), bad_case);

  write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 2));
  fs::create_directory(dir / "caso_nest_vert.txt");
  o = run_malha(dir.path(), {.stderr_closed = true});
  EXPECT_EQ(o.exit_status, 1);
  EXPECT_EQ(read_file(dir / "caso_nest_conec.txt"), "");
}

// ---------------------------------------------------------------------------
// Input files.

TEST(UnusableInputFile, DirectoryIsReportedAtItsOpening) {
  for (const char* name : {"entradas.txt", "entrada_eq_elipticas.txt"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 2, 1));
    if (fs::exists(dir / name)) fs::remove(dir / name);
    fs::create_directory(dir / name);
    const std::set<std::string> before = names_in(dir.path());

    const Outcome o = run_malha(dir.path());

    expect_report(o, "6401", "OPEN", escaped(name), "cannot open the file: is a directory");
    EXPECT_EQ(names_in(dir.path()), before);
  }
}

struct HostileCase {
  const char* label;
  std::string case_text;
  std::optional<std::string> elliptic_text;
  const char* number;
  const char* file;
  const char* message;  // regular expression
};

const HostileCase kHostileCases[] = {
    {"NulInCaseName", "ca\0so\n4\n2\n1\n1\n"s, std::nullopt, "6510", "entradas",
     R"(the case name 'ca\\x00so' \(record 1\) contains a control character.*)"},
    {"NulInNumber", "caso\n4\0\n2\n1\n1\n"s, std::nullopt, "6503", "entradas",
     R"(invalid integer '4\\x00' on line 2)"},
    {"OnlyNulBytes", std::string(4096, '\0'), std::nullopt, "6501", "entradas",
     R"(end of file while reading a value \(line 1\))"},
    // A value is at most 1 MiB long (a remark has no limit: test_textio_reader).
    {"NameLineOfMegabytesWithoutEnd", std::string(8 << 20, 'x'), std::nullopt, "6509", "entradas",
     R"(value 'x{40}\.\.\.' on line 1 is longer than 1048576 characters)"},
    {"NulInParameterFile", case_file("caso", 4, 2, 2, 1), "1\n1\n\0\n1\n1\n1\n1\n"s, "6505",
     "entrada_eq_elipticas", R"(invalid real number '\\x00' on line 3)"},
    {"ParameterFileOfBlanks", case_file("caso", 4, 2, 2, 1), "   \n\n\t\n", "6501",
     "entrada_eq_elipticas", R"(end of file while reading a value \(line 4\))"},
};

class HostileInput : public ::testing::TestWithParam<HostileCase> {};

// Bytes no editor should have left in the file end the run with a READ report
// that shows them escaped, in bounded time, with nothing written.
TEST_P(HostileInput, EndsInAReadReportAndWritesNothing) {
  const HostileCase& c = GetParam();
  TempDir dir;
  write_file(dir / "entradas.txt", c.case_text);
  if (c.elliptic_text) write_file(dir / "entrada_eq_elipticas.txt", *c.elliptic_text);
  const std::set<std::string> before = names_in(dir.path());

  const Outcome o = run_malha(dir.path());

  expect_report(o, c.number, "READ", std::string(c.file) + "\\.txt", c.message);
  EXPECT_LT(o.seconds, 30.0);
  EXPECT_EQ(names_in(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The longest value the reader takes is 1 MiB, quoted or not; one character
// more is refused.
TEST(HostileInputDeathTest, ValueLengthLimitIsExact) {
  TempDir dir;
  const test::ChangeDir cd(dir.path());
  const std::size_t limit = std::size_t{1} << 20;
  write_file(dir / "in.txt", std::string(limit, 'a') + "\n'" + std::string(limit, 'b') + "'\n" +
                                 std::string(limit + 1, 'c') + "\n");
  textio::open_unit(1, "in.txt");
  std::string text;
  textio::read_text(1, text);
  EXPECT_EQ(text, std::string(100, 'a'));
  textio::read_text(1, text);
  EXPECT_EQ(text, std::string(100, 'b'));
  EXPECT_EXIT(textio::read_text(1, text), ::testing::ExitedWithCode(1),
              "F6509: READ\\(in\\.txt\\)\r\n- value 'c{40}\\.\\.\\.' on line 3 is longer than "
              "1048576 characters\r\n$");
  textio::close_unit(1);
}

// A case name that is not UTF-8 is a name all the same: its bytes name the
// files, and the editor gets the name quoted.
TEST(HostileInput, CaseNameOfInvalidUtf8IsUsedAsItsBytes) {
  TempDir dir;
  write_file(dir / "entradas.txt", case_file("caso\xFF\xC3", 2, 1, 1, 1));
  const Outcome o = run_malha(dir.path());
  EXPECT_EQ(o.exit_status, 0) << visible(o.stderr_text);
  EXPECT_TRUE(fs::exists(dir / "caso\xFF\xC3.txt"));
  ASSERT_GE(o.commands.size(), 2u);
  EXPECT_EQ(o.commands[1], "notepad 'caso\xFF\xC3.txt'");
}

// ---------------------------------------------------------------------------
// Storage.

std::int64_t storage_for(int nx, int ny, int elliptic, int nest) {
  MeshState s;
  s.nx = nx;
  s.ny = ny;
  s.opt_elliptic = elliptic;
  s.opt_nest = nest;
  derive_counters(s);
  return storage_bytes(s);
}

// More storage than the machine has is refused before the first allocation:
// under an address-space limit far below the first array, the report is the
// storage check's, not a refused allocation's.
TEST(Storage, MoreThanTheMachineHasIsRefusedBeforeAnyAllocation) {
  const std::uint64_t memory = platform::physical_memory_bytes();
  if (memory == 0 || static_cast<std::uint64_t>(storage_for(46000, 46000, 2, 2)) <= memory)
    GTEST_SKIP() << "this machine has the memory for the largest mesh";
  TempDir dir;
  write_file(dir / "entradas.txt", case_file("caso", 46000, 46000, 2, 2));

  const Outcome o = run_malha(dir.path(), {.address_limit = 256ULL << 20});

  expect_report(o, "6801", "ALLOCATE", "mesh",
                "nx = 46000 and ny = 46000 need [0-9]+ MiB of storage, more than the [0-9]+ MiB "
                "of memory this machine has");
  EXPECT_LT(o.seconds, 30.0);
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"entradas.txt"});
}

// Storage the machine has but the process may not take (an address-space
// limit here) ends in the report of the array that was refused, not in the
// out-of-memory killer.
TEST(Storage, RefusedAllocationIsReportedWithTheArray) {
  if (!kAddressLimits) GTEST_SKIP() << "address-space limits do not work under the sanitizer";
  const std::uint64_t memory = platform::physical_memory_bytes();
  if (memory != 0 && static_cast<std::uint64_t>(storage_for(6000, 6000, 1, 1)) > memory)
    GTEST_SKIP() << "this machine refuses the mesh before allocating";
  TempDir dir;
  write_file(dir / "entradas.txt", case_file("caso", 6000, 6000, 1, 1));

  const Outcome o = run_malha(dir.path(), {.address_limit = 1ULL << 30});

  expect_report(o, "6801", "ALLOCATE", "(yv|xc|yc|xcf|ycf|conn|connf|area|xv)",
                "not enough memory for array [a-z]+ \\([0-9]+ elements, [0-9]+ MiB\\)");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"entradas.txt"});
}

// ---------------------------------------------------------------------------
// Two runs in one folder.

// A run started in a folder where another run works is refused at once with
// one line, before it shows, reads or writes anything; the first run goes on
// and completes. Once it has ended, by a report or by a signal as well, the
// folder is free again.
TEST(TwoRuns, TheSecondRunInAFolderIsRefusedWhileTheFirstWorks) {
  const struct {
    const char* label;
    std::string first_case;
    const char* first_editor;  // once the second run has been tried
    int first_status;          // -1: ended by SIGTERM
  } cases[] = {
      {"completes", case_file("caso", 4, 2, 1, 1), "true", 0},
      {"stops with a report", "caso\n4\nx\n1\n1\n", "true", 1},
      {"is ended by a signal", case_file("caso", 4, 2, 1, 1), "kill -TERM $PPID", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    write_file(dir / "entradas.txt", c.first_case);
    test::RunResult second;
    // The first run's editor waits, in the folder, for the file "go".
    const Outcome first =
        run_malha(dir.path(),
                  std::string("if [ \"$2\" = 'notepad entradas.txt' ]; then touch \"$READY\"; ") +
                      "while [ ! -e go ]; do sleep 0.02; done; " + c.first_editor + "; fi",
                  [&](pid_t, auto&& ready) {
                    wait_until(ready);
                    second = test::run_program(MALHA_EXE, dir.path(), {}, {}, 60);
                    write_file(dir / "go", "");
                  });

    EXPECT_EQ(second.exit_status, 1);
    EXPECT_EQ(second.stderr_text,
              "malha: another run of malha is working in this folder; wait until it has ended, "
              "or run this case in a folder of its own (two runs at once would mix their "
              "files)\n");
    EXPECT_TRUE(second.commands.empty());
    EXPECT_FALSE(first.timed_out);
    EXPECT_EQ(first.exit_status, c.first_status) << visible(first.stderr_text);
    EXPECT_EQ(first.signal, c.first_status < 0 ? SIGTERM : 0);
    // The folder is free again.
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 1));
    EXPECT_EQ(test::run_program(MALHA_EXE, dir.path(), {}, {}, 60).exit_status, 0);
  }
}

// ---------------------------------------------------------------------------
// Signals while an editor runs.

// Ctrl-C at the terminal reaches the whole foreground group. The program
// ignores it while it waits; an editor that it ends has been interrupted by
// the user, so the run stops: a line says so and the program ends by SIGINT,
// as the editor did, never with a complete run's status. Files written
// before stay as they are.
TEST(SignalsDuringEditor, CtrlCThatEndsTheEditorStopsTheRun) {
  const struct {
    const char* command;
    std::set<std::string> names;
  } cases[] = {
      {"notepad entradas.txt", {"entradas.txt"}},
      {"notepad caso_vert.txt",
       {"entradas.txt", "caso.txt", "caso_vert.txt", "caso_vert_fict.txt", "caso_cent.txt",
        "caso_cent_fict.txt", "malha.txt", "centroides.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    TempDir dir;
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 2));
    const Outcome o = run_malha(
        dir.path(), std::string("if [ \"$2\" = '") + c.command + "' ]; then exec sleep 60; fi",
        [](pid_t pid, auto&&) {
          // Once the editor runs: a signal before that would find the
          // interpreter still deciding what to run.
          wait_until([pid] { return program_in_group(pid, "sleep"); });
          ::kill(-pid, SIGINT);
        });

    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.signal, SIGINT);
    EXPECT_EQ(o.stderr_text, std::string("\r\nrun stopped: the command \"") + c.command +
                                 "\" was ended by SIGINT\r\n");
    EXPECT_EQ(o.commands.back(), c.command);
    EXPECT_EQ(names_in(dir.path()), c.names);
  }
}

// An editor that takes Ctrl-C as a key of its own is not ended by it, and the
// run goes on when it is closed.
TEST(SignalsDuringEditor, CtrlCTheEditorKeepsLetsTheRunFinish) {
  TempDir dir;
  write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 1));
  const Outcome o = run_malha(dir.path(),
                              "if [ \"$2\" = 'notepad entradas.txt' ]; then trap '' INT; "
                              "touch \"$READY\"; sleep 2; fi",
                              [](pid_t pid, auto&& ready) {
                                wait_until(ready);
                                ::kill(-pid, SIGINT);
                              });
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exit_status, 0) << visible(o.stderr_text);
  EXPECT_TRUE(fs::exists(dir / "caso.txt"));
}

// SIGTERM or SIGHUP sent to the program while it waits for an editor ends it
// at once by that signal, with nothing written.
TEST(SignalsDuringEditor, TerminatingTheWaitingProgramEndsIt) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    write_file(dir / "entradas.txt", case_file("caso", 4, 2, 1, 1));
    const Outcome o = run_malha(
        dir.path(), "if [ \"$2\" = 'notepad entradas.txt' ]; then touch \"$READY\"; sleep 60; fi",
        [sig](pid_t pid, auto&& ready) {
          wait_until(ready);
          ::kill(pid, sig);
        });
    EXPECT_FALSE(o.timed_out);
    EXPECT_EQ(o.signal, sig);
    EXPECT_LT(o.seconds, 30.0);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"entradas.txt"});
  }
}

}  // namespace
}  // namespace malha
