// POSIX implementation of the platform layer (Linux with glibc).
#include <fcntl.h>
#include <fenv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__i386__)
#include <fpu_control.h>
#endif

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "platform_internal.h"

// Not every C library declares it.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace malha::platform {

namespace {

constexpr int kTrappedExceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

constexpr char kReportInvalid[] =
    "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n";
constexpr char kReportDivide[] =
    "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n";
constexpr char kReportOverflow[] =
    "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n";

// Set by the first fault: when two threads trap at once, the first writes
// the report and ends the process, and the second waits for that end without
// writing a second report. (A lock-free flag: safe in a signal handler.)
std::atomic_flag report_claimed = ATOMIC_FLAG_INIT;

// Runs on SIGFPE: only async-signal-safe calls.
void on_floating_point_fault(int /*signal*/, siginfo_t* info, void* /*context*/) {
  if (report_claimed.test_and_set()) {
    for (;;) pause();
  }
  const char* report = kReportInvalid;
  std::size_t size = sizeof kReportInvalid - 1;
  switch (info->si_code) {
    case FPE_FLTDIV:
    case FPE_INTDIV:
      report = kReportDivide;
      size = sizeof kReportDivide - 1;
      break;
    case FPE_FLTOVF:
    case FPE_INTOVF:
      report = kReportOverflow;
      size = sizeof kReportOverflow - 1;
      break;
    default:
      break;
  }
  write_stderr(report, size);
  _exit(1);
}

}  // namespace

void install_fp_traps() {
  fesetround(FE_TONEAREST);
#if defined(__i386__)
  // x87 arithmetic: round every operation to a 53-bit significand.
  fpu_control_t cw;
  _FPU_GETCW(cw);
  cw = (cw & ~_FPU_EXTENDED) | _FPU_DOUBLE;
  _FPU_SETCW(cw);
#endif
  struct sigaction action {};
  action.sa_sigaction = on_floating_point_fault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(kTrappedExceptions);
}

bool fp_traps_enabled() {
  return (fegetexcept() & kTrappedExceptions) == kTrappedExceptions;
}

FpTrapsHeld::FpTrapsHeld() : saved_(static_cast<unsigned>(fegetexcept())) {
  fedisableexcept(FE_ALL_EXCEPT);
}

FpTrapsHeld::~FpTrapsHeld() {
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(static_cast<int>(saved_));
}

void write_stderr(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(STDERR_FILENO, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void exit_now(int status) {
  _exit(status);
}

bool stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

int stderr_columns() {
  struct winsize size {};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

namespace {

// A memory limit set for this process's control group, or 0 when none.
std::uint64_t cgroup_memory_limit() {
  for (const char* file :
       {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char text[64] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0 || text[0] < '0' || text[0] > '9') continue;  // "max": no limit
    return std::strtoull(text, nullptr, 10);
  }
  return 0;
}

}  // namespace

std::uint64_t physical_memory_bytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  std::uint64_t bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  const std::uint64_t limit = cgroup_memory_limit();
  if (limit > 0 && limit < bytes) bytes = limit;
  return bytes;
}

bool file_exists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0;
}

std::int64_t file_size(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::string program_folder() {
  // Linux names the program's file here; elsewhere the folder stays unknown.
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return "";
  path.resize(static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/'));
}

char folder_separator() {
  return '/';
}

namespace {

// A file the program opens never takes the place of a closed standard stream:
// a report written to descriptor 2 would otherwise land in it. Returns the
// descriptor to use, or -1 with errno set (the file is then closed).
int above_standard_streams(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

// Opens without waiting: O_NONBLOCK lets a FIFO without a writer (or, for
// writing, without a reader) and a device that waits for a carrier open at
// once. The flag is cleared again on the open file, so that reads and writes
// wait as usual. Returns the descriptor, or -1 with errno set.
int open_at_once(const std::string& name, int flags) {
  int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || (fd = above_standard_streams(fd)) < 0) return -1;
  const int status = ::fcntl(fd, F_GETFL);
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

int open_existing(const std::string& name, FileHandle& handle, Access& access) {
  static constexpr struct {
    int flags;
    Access access;
  } kAttempts[] = {
      {O_RDWR, Access::ReadWrite}, {O_RDONLY, Access::ReadOnly}, {O_WRONLY, Access::WriteOnly}};
  int first_error = 0;
  for (const auto& attempt : kAttempts) {
    const int fd = open_at_once(name, attempt.flags);
    if (fd >= 0) {
      // A directory opens read-only on POSIX; it is no file to read or write.
      struct stat st {};
      if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return EISDIR;
      }
      handle = fd;
      access = attempt.access;
      return 0;
    }
    if (first_error == 0) first_error = errno;
  }
  return first_error;
}

FolderLock lock_working_folder() {
  // The descriptor stays open, its lock held, until the process ends; no
  // command started inherits it.
  const int fd = open_at_once(".", O_RDONLY | O_DIRECTORY);
  if (fd < 0) return FolderLock::Unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return FolderLock::Held;
  const int error = errno;
  ::close(fd);
  return error == EWOULDBLOCK ? FolderLock::HeldByAnother : FolderLock::Unavailable;
}

int open_for_reading(const std::string& name, FileHandle& handle) {
  const int fd = open_at_once(name, O_RDONLY);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  handle = fd;
  return 0;
}

const char* irregular_kind(FileHandle handle) {
  struct stat st {};
  if (::fstat(static_cast<int>(handle), &st) != 0) return "a file whose kind cannot be told";
  if (S_ISREG(st.st_mode)) return nullptr;
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  if (S_ISCHR(st.st_mode)) return "a character device";
  if (S_ISBLK(st.st_mode)) return "a block device";
  if (S_ISDIR(st.st_mode)) return "a directory";
  return "not a regular file";
}

std::int64_t open_file_size(FileHandle handle) {
  struct stat st {};
  return ::fstat(static_cast<int>(handle), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

int create_exclusive(const std::string& name, FileHandle& handle) {
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) fd = above_standard_streams(fd);
  if (fd < 0) return errno;
  handle = fd;
  return 0;
}

FileKind file_kind(const std::string& name) {
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0) return FileKind::Missing;
  if (S_ISREG(st.st_mode)) return FileKind::Regular;
  if (S_ISDIR(st.st_mode)) return FileKind::Folder;
  if (S_ISLNK(st.st_mode)) return FileKind::Link;
  return FileKind::Other;
}

bool file_identity(const std::string& name, FileIdentity& identity) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  identity.device = static_cast<std::uint64_t>(st.st_dev);
  identity.file = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

std::string temporary_folder() {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  if (path[0] != '/') {
    char here[4096];
    if (::getcwd(here, sizeof here) != nullptr) path = std::string(here) + "/" + path;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

int replace_file(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int remove_file(const std::string& name) {
  return ::unlink(name.c_str()) == 0 ? 0 : errno;
}

bool is_path_separator(char c) {
  return c == '/';
}

std::string find_on_path(std::string_view program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr || program.empty()) return "";
  if (program.find('/') != std::string_view::npos) return "";  // not a command word
  const std::string all = path;
  for (std::size_t start = 0; start <= all.size();) {
    std::size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    // An empty entry is the current folder.
    std::string candidate = end > start ? all.substr(start, end - start) : ".";
    candidate += '/';
    candidate += program;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

// ---------------------------------------------------------------------------
// Watched temporary files (the slots are platform_common.cpp's).

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

void on_stop_signal(int signal) {
  detail::remove_watched();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  (void)::raise(signal);  // delivered when the handler returns
}

}  // namespace

namespace detail {

int create_new(const std::string& name, FileHandle& handle) {
  return create_exclusive(name, handle);
}

bool name_taken(int error) {
  return error == EEXIST;
}

void remove_now(const char* name) {
  ::unlink(name);  // async-signal-safe
}

// The stop signals remove the watched files first. A signal the process was
// started ignoring (nohup, a background job) stays ignored.
void on_first_watch() {
  for (int signal : kStopSignals) {
    struct sigaction old {};
    sigaction(signal, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace detail

void stop_by_signal(int signal, std::string_view message) {
  detail::remove_watched();
  write_stderr(message.data(), message.size());
  // Ended by the user, not crashed: SIGQUIT leaves no core file behind.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  (void)::raise(signal);
  // cppcheck-suppress unreachableCode ; reached if the signal does not end it
  _exit(128 + signal);
}

const char* stop_signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGHUP:
      return "SIGHUP";
    case SIGTERM:
      return "SIGTERM";
    default:
      return nullptr;
  }
}

int read_some(FileHandle handle, char* buffer, std::size_t size, std::size_t& got) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle), buffer, size);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int write_all(FileHandle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int truncate_at(FileHandle handle, std::int64_t position) {
  const int fd = static_cast<int>(handle);
  // Devices and pipes have no length to cut: writing simply starts there.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) return 0;
  if (::ftruncate(fd, static_cast<off_t>(position)) != 0) return errno;
  if (::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0) return errno;
  return 0;
}

int close_file(FileHandle handle) {
  // POSIX leaves the descriptor closed even when close reports an error; do
  // not retry on EINTR.
  if (::close(static_cast<int>(handle)) != 0 && errno != EINTR) return errno;
  return 0;
}

std::string error_text(int code) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be in `buffer`.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  std::string result = text;
  if (!result.empty())
    result[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(result[0])));
  return result;
}

const char* refused_name_char(unsigned char /*c*/) {
  return nullptr;
}

bool is_device_name(std::string_view /*stem*/) {
  return false;
}

bool same_file_name(std::string_view a, std::string_view b) {
  return a == b;
}

std::string quoted_for_interpreter(std::string_view name) {
  // Single quotes keep every byte literal for the shell; a quote inside is
  // closed, escaped and reopened.
  std::string quoted = "'";
  for (char c : name) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}

bool interpreter_passes(std::string_view /*word*/) {
  return true;  // no byte but NUL ends single quotes, and no name holds NUL
}

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

}  // namespace

void set_command_path_fallback(std::string folder) {
  command_path_fallback = folder.find(':') == std::string::npos ? std::move(folder) : "";
}

int launch_interpreter(std::string_view command, int& reason, int* interrupted_by) {
  const char* comspec = std::getenv("COMSPEC");
  std::string interpreter = "/bin/sh";
  if (comspec != nullptr && comspec[0] != '\0') {
    if (std::strlen(comspec) > 260) {
      reason = 2;
      return -1;
    }
    interpreter = comspec;
  }
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

  // A caller that wants to know of an interrupt notes it instead of ignoring
  // it; either way the process goes on until the command has ended.
  struct sigaction ignore = {};
  struct sigaction old_int = {};
  struct sigaction old_quit = {};
  ignore.sa_handler = interrupted_by != nullptr ? note_interrupt : SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  interrupt_received = 0;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);

  std::string path_entry;
  const std::vector<char*> environment = command_environment(path_entry);
  pid_t pid = -1;
  const int spawn_error =
      posix_spawnp(&pid, interpreter.c_str(), nullptr, &attr, argv, environment.data());
  posix_spawnattr_destroy(&attr);

  int result = -1;
  int ended_by = 0;  // the signal that ended the interpreter
  if (spawn_error != 0) {
    reason = launch_reason(spawn_error);
  } else {
    int status = 0;
    pid_t waited;
    do {
      waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
      reason = 12;
    } else if (WIFEXITED(status)) {
      result = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      ended_by = WTERMSIG(status);
      result = 128 + ended_by;
    }
  }

  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
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
