// Field renderers: Iw.m and Ew.d[Ee] under a scale factor, for the write
// statement; the stages of the E field are shared with the fast records
// (real_field.h).
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "textio.h"
#include "textio/internal.h"
#include "textio/real_field.h"

namespace malha::textio {

namespace {

void append_asterisks(std::string& out, int w) {
  out.append(static_cast<std::size_t>(w), '*');
}

}  // namespace

void append_integer_field(std::string& out, std::int32_t value, int w, int m) {
  if (w <= 0) return;
  if (m == 0 && value == 0) {  // Iw.0 writes zero as an empty field
    out.append(static_cast<std::size_t>(w), ' ');
    return;
  }
  const bool negative = value < 0;
  std::uint32_t magnitude =
      negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const long long written = std::max<long long>(n, m);
  const long long length = written + (negative ? 1 : 0);
  if (length > w) {
    append_asterisks(out, w);
    return;
  }
  out.append(static_cast<std::size_t>(w - length), ' ');
  if (negative) out.push_back('-');
  out.append(static_cast<std::size_t>(written - n), '0');
  while (n > 0) out.push_back(digits[--n]);
}

namespace {

// Class text of a value that is not finite, recognised by its bits alone (no
// floating-point operation touches it, so a signalling NaN raises nothing).
const char* non_finite_text(std::uint64_t bits) {
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 51;
  constexpr std::uint64_t kIndefinite = 0xFFF8000000000000u;
  if ((bits & kFraction) == 0) return "1#INF";
  if (bits == kIndefinite) return "1#IND";
  return (bits & kQuietBit) != 0 ? "1#QNAN" : "1#SNAN";
}

// Stage 1 by the standard library: the exact value of the positive finite
// `magnitude` correctly rounded to 17 significant digits, read back from
// "D.DDDDDDDDDDDDDDDDe±XX".
Decimal library_digits(double magnitude) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                    std::chars_format::scientific, kFoundDigits - 1);
  const char* mark = std::find(text, result.ptr, 'e');
  Decimal g{static_cast<std::uint64_t>(text[0] - '0'), kFoundDigits, 0};
  for (const char* p = text + 2; p < mark; ++p) g.digits = g.digits * 10 + (*p - '0');
  int exponent10 = 0;
  const char* p = mark + 1;
  const bool exponent_negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  for (; p < result.ptr; ++p) exponent10 = exponent10 * 10 + (*p - '0');
  g.x = (exponent_negative ? -exponent10 : exponent10) + 1;
  return g;
}

}  // namespace

char* put_real_field(char* out, double value, int w, int d, int e, int k,
                     bool exponent_digits_given) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kExponentMask = 0x7FF0000000000000u;
  constexpr std::uint64_t kSignBit = 0x8000000000000000u;

  if ((bits & kExponentMask) == kExponentMask) {
    const char* text = non_finite_text(bits);
    const auto n = static_cast<int>(std::strlen(text));
    if (n > w) {
      std::memset(out, '*', static_cast<std::size_t>(w));
    } else {
      std::memcpy(out, text, static_cast<std::size_t>(n));
      std::memset(out + n, '.', static_cast<std::size_t>(w - n));
    }
    return out + w;
  }
  if (d < 0 || k <= -static_cast<long long>(d) || k > static_cast<long long>(d) + 1) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return out + w;
  }
  const bool zero = (bits & ~kSignBit) == 0;
  const bool negative = !zero && (bits & kSignBit) != 0;
  Decimal g = kZeroDecimal;
  if (!zero) {
    g = library_digits(std::bit_cast<double>(bits & ~kSignBit));
    round_to_field(g, shown_digits(d, k));
  }
  const int exponent = zero ? 0 : g.x - k;
  return put_real_layout(out, g, negative, exponent, w, d, e, k, exponent_digits_given);
}

void append_real_field(std::string& out, double value, int w, int d, int e, int k,
                       bool exponent_digits_given) {
  if (w <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(w));
  put_real_field(out.data() + start, value, w, d, e, k, exponent_digits_given);
}

std::string render_integer_field(std::int32_t value, int w, int m) {
  std::string out;
  append_integer_field(out, value, w, m);
  return out;
}

std::string render_real_field(double value, int w, int d, int e, int k,
                              bool exponent_digits_given) {
  std::string out;
  append_real_field(out, value, w, d, e, k, exponent_digits_given);
  return out;
}

}  // namespace malha::textio
