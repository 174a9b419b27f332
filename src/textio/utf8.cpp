// Lengths of UTF-8 text in characters, for names cut to a number of bytes.
#include <algorithm>
#include <cstddef>
#include <string_view>

#include "textio.h"

namespace malha::textio {

namespace {

// The length of the valid UTF-8 sequence that starts text[at] (2 to 4), or
// 0 when none does: a lead byte and its continuation bytes, no overlong
// form, no surrogate, nothing past U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = at + 1; k < at + length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  const unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
    return 0;
  return length;
}

}  // namespace

TextLength utf8_text_length(std::string_view text, std::size_t limit) {
  TextLength out;
  bool valid = true;
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    std::size_t step = c < 0x80 ? 1 : utf8_sequence(text, at);
    if (step == 0) {
      valid = false;
      step = 1;
    }
    if (at + step <= limit) {
      out.kept_bytes = at + step;
      ++out.kept;
    }
    ++out.written;
    at += step;
  }
  if (valid) return out;
  // Text that is not UTF-8 is taken as its bytes.
  out.written = text.size();
  out.kept = out.kept_bytes = std::min(text.size(), limit);
  return out;
}

}  // namespace malha::textio
