// A file written through a buffer of its own, a block at a time, numbers
// rendered without locale: the writer the exports share.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace malha::report {

class OutputFile {
 public:
  explicit OutputFile(const std::filesystem::path& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void put(std::string_view text);
  // The shortest text that reads back to the same double, then `after`.
  void number(double value, char after = ' ');
  // Flushes and closes; a failure (a full disk) is reported.
  void close();

 private:
  void flush();

  std::FILE* file_ = nullptr;
  std::string name_;
  std::string buffer_;  // written out a block at a time
  bool failed_ = false;
};

}  // namespace malha::report
