// The process on POSIX: its standard error, its end, and the memory it may use.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform.h"

namespace malha::platform {

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

namespace {

void on_file_size_signal(int /*signal*/) {}

}  // namespace

void catch_file_size_signal() {
  struct sigaction action {};
  action.sa_handler = on_file_size_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGXFSZ, &action, nullptr);
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

}  // namespace malha::platform
