#include "report/output_file.h"

#include <charconv>
#include <mutex>
#include <utility>
#include <vector>

#include "report/checks/records.h"

namespace malha::report {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

struct Protected {
  platform::FileIdentity identity;
  std::string shown;
};

std::mutex protected_mutex;
std::vector<Protected>& protected_files() {
  static std::vector<Protected> files;
  return files;
}

// The name of the protected file `target` is, or "" when it is none of them.
std::string protected_match(const std::string& target) {
  platform::FileIdentity identity;
  if (!platform::file_identity(target, identity)) return "";
  const std::lock_guard<std::mutex> lock(protected_mutex);
  for (const Protected& p : protected_files())
    if (p.identity == identity) return p.shown;
  return "";
}

// Refuses a target that is not a regular file or no file, or is protected.
void check_target(const std::string& target) {
  static constexpr const char* kExpected = "no file or a regular file to replace";
  switch (platform::file_kind(target)) {
    case platform::FileKind::Missing:
      return;
    case platform::FileKind::Regular:
      break;
    case platform::FileKind::Link:
      fail(target, 0, kExpected, "a symbolic link (not followed)");
    case platform::FileKind::Folder:
      fail(target, 0, kExpected, "a folder");
    case platform::FileKind::Other:
      fail(target, 0, kExpected, "a device, a pipe or another special file");
  }
  if (const std::string other = protected_match(target); !other.empty())
    fail(target, 0, "a file of its own", "the case file " + other + " under that name (a link)");
  // A file its owner made read-only is kept, as malha keeps its own outputs
  // (F6601): replacing it by a rename would undo that choice.
  platform::FileHandle handle = platform::kNoFile;
  platform::Access access = platform::Access::ReadWrite;
  if (platform::open_existing(target, handle, access) != 0) return;
  (void)platform::close_file(handle);
  if (access == platform::Access::ReadOnly)
    fail(target, 0, "no file or a writable file to replace",
         "a file that can only be read, so it cannot be written");
}

// The folder part of `path`, separator included ("" for a bare name).
std::string folder_of(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !platform::is_path_separator(path[end - 1])) --end;
  return path.substr(0, end);
}

// Closes a file written to, if open; a failure (a full disk found at close)
// is reported.
void close_written(platform::FileHandle& handle, const std::string& shown) {
  if (handle == platform::kNoFile) return;
  const int error = platform::close_file(handle);
  handle = platform::kNoFile;
  if (error != 0) fail(shown, 0, "the whole file written", platform::error_text(error));
}

}  // namespace

void protect_from_writing(const std::string& file, const std::string& shown) {
  platform::FileIdentity identity;
  if (!platform::file_identity(file, identity)) return;
  const std::lock_guard<std::mutex> lock(protected_mutex);
  protected_files().push_back({identity, shown});
}

ReplacingFile::ReplacingFile(std::string target) : target_(std::move(target)) {
  check_target(target_);
  const int error = platform::create_temporary(folder_of(target_) + ".malha-report-", ".tmp",
                                               handle_, temporary_);
  if (error != 0)
    fail(target_, 0, "a folder where a new file can be created", platform::error_text(error));
  watch_slot_ = platform::watch_temporary(temporary_);
}

ReplacingFile::~ReplacingFile() {
  if (handle_ != platform::kNoFile) (void)platform::close_file(handle_);
  if (!committed_) (void)platform::remove_file(temporary_);
  platform::forget_temporary(watch_slot_);
}

void ReplacingFile::close_handle() {
  close_written(handle_, target_);
}

void ReplacingFile::check() const {
  check_target(target_);
}

void ReplacingFile::commit() {
  close_handle();
  check();  // again: it may have changed while the file was written
  const int error = platform::replace_file(temporary_, target_);
  if (error != 0) fail(target_, 0, "a file that can be replaced", platform::error_text(error));
  committed_ = true;
}

ScratchFile::ScratchFile(const std::string& suffix) {
  const int error = platform::create_temporary(platform::temporary_folder() + "/malha-report-",
                                               suffix, handle_, name_);
  if (error != 0)
    fail(platform::temporary_folder(), 0, "a folder for scratch files",
         platform::error_text(error));
  watch_slot_ = platform::watch_temporary(name_);
}

ScratchFile::~ScratchFile() {
  if (handle_ != platform::kNoFile) (void)platform::close_file(handle_);
  (void)platform::remove_file(name_);
  platform::forget_temporary(watch_slot_);
}

void ScratchFile::close_handle() {
  close_written(handle_, name_);
}

OutputFile::OutputFile(const std::string& target) : replacing_(std::in_place, target) {
  handle_ = replacing_->handle();
  shown_ = target;
}

OutputFile::OutputFile(ScratchFile& scratch)
    : scratch_(&scratch), handle_(scratch.handle()), shown_(scratch.name()) {}

void OutputFile::put(std::string_view text) {
  buffer_.append(text);
  if (buffer_.size() >= kBufferBytes) flush();
}

void OutputFile::flush() {
  const int error = platform::write_all(handle_, buffer_.data(), buffer_.size());
  buffer_.clear();
  if (error != 0) fail(shown_, 0, "the whole file written", platform::error_text(error));
}

void OutputFile::number(double value, char after) {
  char buffer[40];
  char* end = std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr;
  *end++ = after;
  put(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

void OutputFile::close() {
  flush();
  if (replacing_)
    replacing_->commit();
  else
    scratch_->close_handle();
}

void OutputFile::finish() {
  flush();
  if (replacing_)
    replacing_->close_handle();
  else
    scratch_->close_handle();
}

void OutputFile::check() const {
  if (replacing_) replacing_->check();
}

void OutputFile::commit() {
  if (replacing_) replacing_->commit();
}

void copy_into(const std::string& from, const std::string& shown, OutputFile& to) {
  platform::FileHandle in = platform::kNoFile;
  int error = platform::open_for_reading(from, in);
  if (error != 0) fail(shown, 0, "a readable file", platform::error_text(error));
  std::string block(kBufferBytes, '\0');
  for (;;) {
    std::size_t got = 0;
    error = platform::read_some(in, block.data(), block.size(), got);
    if (error != 0 || got == 0) break;
    to.put(std::string_view(block.data(), got));
  }
  (void)platform::close_file(in);
  if (error != 0) fail(shown, 0, "a readable file", platform::error_text(error));
}

}  // namespace malha::report
