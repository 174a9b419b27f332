// Open files on POSIX: opening without waiting, reading, writing, cutting
// and closing them, and the lock of the working folder (held on the open
// folder).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

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

namespace detail {

int create_new(const std::string& name, FileHandle& handle) {
  return create_exclusive(name, handle);
}

bool name_taken(int error) {
  return error == EEXIST;
}

}  // namespace detail

}  // namespace malha::platform
