#include "output_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "records.h"

namespace malha::report {

namespace {
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
}

OutputFile::OutputFile(const std::filesystem::path& path) : name_(path.string()) {
  file_ = std::fopen(name_.c_str(), "wb");
  if (file_ == nullptr) fail(name_, 0, "a file that can be written", std::strerror(errno));
  buffer_.reserve(kBufferBytes);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) (void)std::fclose(file_);  // only on the way out of a failure
}

void OutputFile::put(std::string_view text) {
  buffer_.append(text);
  if (buffer_.size() >= kBufferBytes) flush();
}

void OutputFile::flush() {
  if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) failed_ = true;
  buffer_.clear();
}

void OutputFile::number(double value, char after) {
  char buffer[40];
  char* end = std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr;
  *end++ = after;
  put(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

void OutputFile::close() {
  flush();
  const bool failed = failed_ || std::ferror(file_) != 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (failed || closed != 0) fail(name_, 0, "the whole file written", std::strerror(errno));
}

}  // namespace malha::report
