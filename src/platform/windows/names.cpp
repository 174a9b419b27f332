// The rules for names on Windows: separators, the characters and device names
// a file may not have, quoting for cmd.exe, and the search of the current
// folder and PATH for a command word.
#include "platform/windows/win32.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace malha::platform {

char folder_separator() {
  return '\\';
}

bool is_path_separator(char c) {
  return c == '/' || c == '\\';
}

std::string find_on_path(std::string_view program) {
  if (program.empty()) return "";
  for (char c : program)
    if (is_path_separator(c) || c == ':') return "";  // not a command word
  std::string name(program);
  if (name.find('.') == std::string::npos) name += ".exe";
  // cmd.exe looks in the current folder before PATH.
  std::vector<std::string> folders = {"."};
  char buffer[32768];
  const DWORD n = GetEnvironmentVariableA("PATH", buffer, sizeof buffer);
  const std::string all = n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string folder = all.substr(start, end - start);
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
      folder = folder.substr(1, folder.size() - 2);
    if (!folder.empty()) folders.push_back(folder);
    start = end + 1;
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "\\" + name;
    const DWORD attributes = GetFileAttributesA(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return candidate;
  }
  return "";
}

namespace {

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const char* refused_name_char(unsigned char c) {
  // "%" is expanded by the command interpreter even between double quotes.
  if (c == '%') return "the command interpreter would expand";
  const bool forbidden =
      c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
  return forbidden ? "cannot stand in a file name" : nullptr;
}

bool same_file_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (ascii_lower(a[k]) != ascii_lower(b[k])) return false;
  return true;
}

bool is_device_name(std::string_view stem) {
  // "nul.txt" and "nul.a.txt" are the null device, not files.
  std::string_view base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view device : kDevices)
    if (same_file_name(base, device)) return true;
  if (base.size() == 4 &&
      (same_file_name(base.substr(0, 3), "com") || same_file_name(base.substr(0, 3), "lpt"))) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}

std::string quoted_for_interpreter(std::string_view name) {
  // The characters that would end the quotes or be expanded inside them are
  // refused in names beforehand.
  std::string quoted = "\"";
  quoted += name;
  quoted += '"';
  return quoted;
}

bool interpreter_passes(std::string_view word) {
  // A '\\' before the closing quote would escape it for the command's own
  // reading of its command line.
  if (!word.empty() && word.back() == '\\') return false;
  for (char c : word) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '"' || u == '%' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace malha::platform
