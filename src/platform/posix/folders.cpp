// What names stand for in the folders on POSIX: whether a file is there, its
// size, kind and identity; renaming and removing; the program's folder and
// the folder for scratch files.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

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
  // TMPDIR when it names a folder; one that is missing or no folder (a
  // mistyped setting) leaves the system's, as the C library's tmpfile does.
  constexpr const char* kSystemFolder = "/tmp";
  const char* folder = std::getenv("TMPDIR");
  struct stat st {};
  const bool usable =
      folder != nullptr && folder[0] != '\0' && ::stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
  std::string path = usable ? folder : kSystemFolder;
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

namespace detail {

void remove_now(const char* name) {
  ::unlink(name);  // async-signal-safe
}

}  // namespace detail

}  // namespace malha::platform
