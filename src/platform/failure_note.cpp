// The note that follows a failure report (platform.h), shared by both
// platforms: a fixed buffer, so that a signal handler can write it.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string_view>

#include "platform.h"

namespace malha::platform {

namespace {

// Room for a few warning lines; more is cut at a line end.
constexpr std::size_t kNoteRoom = 4096;
char note_text[kNoteRoom];
std::atomic<std::size_t> note_length{0};

}  // namespace

void set_failure_note(std::string_view note) {
  note_length = 0;
  std::size_t size = std::min(note.size(), kNoteRoom);
  if (size < note.size()) size = note.substr(0, size).rfind('\n') + 1;  // npos + 1 is 0
  std::copy_n(note.data(), size, note_text);
  note_length = size;
}

void write_failure_note() {
  const std::size_t size = note_length;
  if (size > 0) write_stderr(note_text, size);
}

}  // namespace malha::platform
