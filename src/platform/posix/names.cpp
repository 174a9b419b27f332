// The rules for names on POSIX: separators, the characters and names a file
// may have, quoting for the shell, and the search of PATH for a command word.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform.h"

namespace malha::platform {

char folder_separator() {
  return '/';
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

}  // namespace malha::platform
