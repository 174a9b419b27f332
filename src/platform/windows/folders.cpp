// What names stand for in the folders on Windows: whether a file is there,
// its size, kind and identity; renaming and removing; the program's folder
// and the folder for scratch files.
#include "platform/windows/win32.h"

#include <cstdint>
#include <string>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

bool file_exists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t file_size(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

std::string program_folder() {
  std::string path(32768, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return "";
  path.resize(n);
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

FileKind file_kind(const std::string& name) {
  // A device name ("nul", "con.vts") opens the device, whatever the folder.
  std::size_t base = name.size();
  while (base > 0 && !is_path_separator(name[base - 1])) --base;
  if (is_device_name(std::string_view(name).substr(base))) return FileKind::Other;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::Regular;
}

bool file_identity(const std::string& name, FileIdentity& identity) {
  // No access asked: only the file's information is read. Backup semantics
  // let a folder open too.
  const HANDLE h =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

std::string temporary_folder() {
  char path[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof path, path);
  std::string folder = n > 0 && n < sizeof path ? std::string(path, n) : std::string(".");
  while (folder.size() > 3 && is_path_separator(folder.back())) folder.pop_back();
  return folder;
}

int replace_file(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return detail::last_error();
  return 0;
}

int remove_file(const std::string& name) {
  return DeleteFileA(name.c_str()) ? 0 : detail::last_error();
}

namespace detail {

void remove_now(const char* name) {
  DeleteFileA(name);
}

}  // namespace detail

}  // namespace malha::platform
