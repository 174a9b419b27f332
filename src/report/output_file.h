// The one way malha-report writes a file: whole or not at all, and never
// over a file it reads.
//
// The bytes go to a new file created exclusively in the target's folder; only
// when every byte is written and the file closed does it take the target's
// name, by a rename. Until then the target, if there is one, is untouched; a
// failure, an exception or a stop by a signal removes the new file. A target
// that is not a regular file (a symbolic link, even a dangling one, a folder,
// a device, a pipe) or that is one of the protected files (the case's own,
// through a symbolic or a hard link too) is refused before anything is
// written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"

namespace malha::report {

// Adds `file`, when it exists, to the files no output may replace (compared
// by identity, not by name). `shown` names it in the refusal.
void protect_from_writing(const std::string& file, const std::string& shown);

// A new file that takes the place of `target` when committed. For a writer
// that writes through handle(), or for a library that opens the file by its
// name itself: close_handle(), let it write temporary(), then commit().
class ReplacingFile {
 public:
  // Checks the target and creates the new file. Throws CheckFailure naming
  // the target (refused, or the new file cannot be created there).
  explicit ReplacingFile(std::string target);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  const std::string& target() const { return target_; }
  const std::string& temporary() const { return temporary_; }
  // Open for reading and writing until close_handle() or commit().
  platform::FileHandle handle() const { return handle_; }
  // Closes the handle; a failure (a full disk found at close) throws.
  void close_handle();
  // Checks the target again (it may have changed while the file was
  // written): throws CheckFailure naming it.
  void check() const;
  // Closes the handle if it is open, checks the target again and gives the
  // new file its name. Throws CheckFailure, the new file removed, on failure.
  void commit();

 private:
  std::string target_, temporary_;
  platform::FileHandle handle_ = platform::kNoFile;
  int watch_slot_ = -1;
  bool committed_ = false;
};

// A scratch file for another program to read or write: created exclusively
// under a name no other file has, in the folder for scratch files, and
// removed when the object dies or the process is stopped.
class ScratchFile {
 public:
  // `suffix` ends its name (".png"). Throws CheckFailure when it cannot be made.
  explicit ScratchFile(const std::string& suffix);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& name() const { return name_; }
  platform::FileHandle handle() const { return handle_; }
  void close_handle();

 private:
  std::string name_;
  platform::FileHandle handle_ = platform::kNoFile;
  int watch_slot_ = -1;
};

// A file written through a buffer of its own, a block at a time, numbers
// rendered without locale: the writer the exports share. It writes a
// ReplacingFile of its own for `target`, or into a scratch file.
class OutputFile {
 public:
  explicit OutputFile(const std::string& target);
  // For a name built as a std::filesystem::path. A std::string name is
  // kept byte for byte; a path may be converted on Windows (see case_data.h).
  explicit OutputFile(const std::filesystem::path& target) : OutputFile(target.string()) {}
  explicit OutputFile(ScratchFile& scratch);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void put(std::string_view text);
  // The shortest text that reads back to the same double, then `after`.
  void number(double value, char after = ' ');
  // Writes out the rest and replaces the target (or closes the scratch
  // file); a failure (a full disk) is reported, the target left as it was.
  void close();
  // For files that replace their targets together (a set is written whole
  // or not at all): finish() writes out the rest and closes the new file,
  // check() checks the target again, commit() gives the new file its name.
  // Finish every file, then check every one, then commit every one.
  void finish();
  void check() const;
  void commit();

 private:
  void flush();

  std::optional<ReplacingFile> replacing_;
  ScratchFile* scratch_ = nullptr;
  platform::FileHandle handle_;
  std::string shown_;   // the file's name in messages
  std::string buffer_;  // written out a block at a time; grows as it fills
};

// Copies the whole of file `from` (named `shown` in messages) to `to`.
void copy_into(const std::string& from, const std::string& shown, OutputFile& to);

}  // namespace malha::report
