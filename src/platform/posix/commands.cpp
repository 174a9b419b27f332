// Commands on POSIX: the command interpreter started with posix_spawn, its
// environment, and a stop signal that ends it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

// Not every C library declares it.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace malha::platform {

namespace {

int launch_reason(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return 2;
    case ENOEXEC:
      return 8;
    default:
      return 12;
  }
}

// The user stopped the command: the run stops too, the way the command did,
// so that whoever started the program sees it interrupted and never a
// complete run. No file is open at that point: commands run between stages.
[[noreturn]] void stop_like(std::string_view command, int signal, const char* name) {
  std::string message = "\r\nrun stopped: the command \"";
  message += command;
  message += "\" was ended by ";
  message += name;
  message += "\r\n";
  stop_by_signal(signal, message);
}

// The stop signal received while a command runs, when the caller asked for it.
volatile sig_atomic_t interrupt_received = 0;
void note_interrupt(int signal) {
  interrupt_received = signal;
}

std::string command_path_fallback;

// Whether the PATH value lists the folder.
bool path_names(std::string_view path, std::string_view folder) {
  while (true) {
    const std::size_t end = path.find(':');
    if (path.substr(0, end) == folder) return true;
    if (end == std::string_view::npos) return false;
    path.remove_prefix(end + 1);
  }
}

// The environment of a command: this process's, with the fallback folder at
// the end of its PATH (the first PATH entry, the one getenv and the shell
// read). `path_entry` holds the text of the changed entry.
std::vector<char*> command_environment(std::string& path_entry) {
  std::vector<char*> entries;
  const std::string& folder = command_path_fallback;
  bool path_seen = folder.empty();
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (path_seen || !text.starts_with("PATH=")) {
      entries.push_back(*entry);
      continue;
    }
    path_seen = true;
    if (path_names(text.substr(5), folder)) {
      entries.push_back(*entry);
      continue;
    }
    path_entry = std::string(text) + ":" + folder;
    entries.push_back(path_entry.data());
  }
  if (!path_seen) {
    // No PATH: the shell searches the system's default one.
    const std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
    std::string path(size, '\0');
    if (size > 0) ::confstr(_CS_PATH, path.data(), size);
    path.resize(std::strlen(path.c_str()));
    path_entry = "PATH=" + path + ":" + folder;
    entries.push_back(path_entry.data());
  }
  entries.push_back(nullptr);
  return entries;
}

// The longest COMSPEC taken for the interpreter's name (the longest path
// Windows has); a longer one fails as a missing program would.
constexpr std::size_t kLongestInterpreter = 260;

// The interpreter: COMSPEC when it is set and not empty, else /bin/sh; false
// when COMSPEC is too long.
bool interpreter_name(std::string& interpreter) {
  const char* comspec = std::getenv("COMSPEC");
  interpreter = "/bin/sh";
  if (comspec == nullptr || comspec[0] == '\0') return true;
  if (std::strlen(comspec) > kLongestInterpreter) return false;
  interpreter = comspec;
  return true;
}

// SIGINT and SIGQUIT while a command runs: ignored, or with `note` noted in
// interrupt_received; as they were again when it ends.
class InterruptsSetAside {
 public:
  explicit InterruptsSetAside(bool note) {
    struct sigaction aside = {};
    aside.sa_handler = note ? note_interrupt : SIG_IGN;
    sigemptyset(&aside.sa_mask);
    interrupt_received = 0;
    sigaction(SIGINT, &aside, &old_int_);
    sigaction(SIGQUIT, &aside, &old_quit_);
  }
  ~InterruptsSetAside() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGQUIT, &old_quit_, nullptr);
  }
  InterruptsSetAside(const InterruptsSetAside&) = delete;
  InterruptsSetAside& operator=(const InterruptsSetAside&) = delete;

 private:
  struct sigaction old_int_ = {};
  struct sigaction old_quit_ = {};
};

// Starts `interpreter -c command` in the command environment; 0, or the error
// of posix_spawnp.
int spawn_interpreter(std::string& interpreter, std::string_view command, pid_t& pid) {
  std::string option = "-c";
  std::string text(command);
  char* argv[] = {interpreter.data(), option.data(), text.data(), nullptr};

  // Like system(): while the child runs, an interrupt from the terminal goes
  // to the child (the editor), not to this process. The child starts with the
  // default dispositions.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGFPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  std::string path_entry;
  const std::vector<char*> environment = command_environment(path_entry);
  const int spawn_error =
      posix_spawnp(&pid, interpreter.c_str(), nullptr, &attr, argv, environment.data());
  posix_spawnattr_destroy(&attr);
  return spawn_error;
}

// Waits for the interpreter: its exit status, or 128 + the signal that ended
// it (`ended_by`); -1 with `reason` 12 when it cannot be waited for.
int wait_for_interpreter(pid_t pid, int& reason, int& ended_by) {
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) {
    reason = 12;
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    ended_by = WTERMSIG(status);
    return 128 + ended_by;
  }
  return -1;
}

}  // namespace

void set_command_path_fallback(std::string folder) {
  command_path_fallback = folder.find(':') == std::string::npos ? std::move(folder) : "";
}

int launch_interpreter(std::string_view command, int& reason, int* interrupted_by) {
  std::string interpreter;
  if (!interpreter_name(interpreter)) {
    reason = 2;
    return -1;
  }
  int result = -1;
  int ended_by = 0;  // the signal that ended the interpreter
  {
    // A caller that wants to know of an interrupt notes it instead of ignoring
    // it; either way the process goes on until the command has ended.
    const InterruptsSetAside aside(interrupted_by != nullptr);
    pid_t pid = -1;
    const int spawn_error = spawn_interpreter(interpreter, command, pid);
    if (spawn_error != 0)
      reason = launch_reason(spawn_error);
    else
      result = wait_for_interpreter(pid, reason, ended_by);
  }
  if (interrupted_by != nullptr) {
    *interrupted_by = stop_signal_name(ended_by) != nullptr ? ended_by : interrupt_received;
  } else if (const char* name = stop_signal_name(ended_by); name != nullptr) {
    stop_like(command, ended_by, name);
  }
  if (result == -1) errno = reason;
  return result;
}

std::string_view commands_help() {
  return "Each command goes through the command interpreter named by COMSPEC (/bin/sh\n"
         "when it is not set), as $COMSPEC -c \"command\", and the run waits for it;\n"
         "what a command returns is never looked at. Unattended runs (scripts, CI):\n"
         "    COMSPEC=true malha\n"
         "On Linux, two stand-ins named notepad (your $VISUAL or $EDITOR) and wgnuplot\n"
         "(gnuplot; a PNG file when there is no display) are installed in\n"
         "    STANDINS\n"
         "The installed program adds that folder to the end of the PATH its commands\n"
         "see, so a notepad or wgnuplot on PATH comes first. MALHA_EDIT_INPUTS_ONLY=1\n"
         "shows only the two input files in the editor:\n"
         "    MALHA_EDIT_INPUTS_ONLY=1 malha\n";
}

}  // namespace malha::platform
