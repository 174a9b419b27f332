// Conversion of a value as read to an integer or a real number.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

#include "platform.h"
#include "textio/internal.h"

namespace malha::textio {

Conversion convert_integer(std::string_view s, std::int32_t& result) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return Conversion::Invalid;
  std::int64_t magnitude = 0;
  bool too_large = false;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return Conversion::Invalid;
    if (!too_large) {
      magnitude = magnitude * 10 + (s[i] - '0');
      too_large = magnitude > 2147483648LL;
    }
  }
  if (too_large || magnitude > (negative ? 2147483648LL : 2147483647LL)) {
    return Conversion::Overflow;
  }
  result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return Conversion::Ok;
}

namespace {

constexpr int kMaxSignificant = 25;
// Exponents are clamped at this magnitude while their digits are read. It is
// far beyond the shift any mantissa the reader accepts can make (its digits
// are fewer than the value-length cap, about a million), so a clamped
// exponent still puts the value beyond the limit below on the same side, and
// every accepted value converts to the nearest double.
constexpr long long kExponentClamp = 1'000'000'000'000'000;
// Beyond ten to this power a value overflows; below ten to its negative it
// is far below the smallest subnormal.
constexpr long long kDecimalExponentLimit = 400;

// The mantissa of a real constant: up to 25 significant digits, and the power
// of ten of the first one.
struct Mantissa {
  char digits[kMaxSignificant];
  int count = 0;
  long long exponent10 = 0;
};

// Reads digits with at most one point from s[i] on; false when there is no
// digit.
bool read_mantissa(std::string_view s, std::size_t& i, Mantissa& m) {
  bool any_digit = false;
  bool point = false;
  long long integer_digits = 0;  // significant digits before the point
  long long leading_zeros = 0;   // zeros after the point before the first significant digit
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any_digit = true;
    const bool significant = m.count > 0 || integer_digits > 0 || c != '0';
    if (!significant) {
      if (point) ++leading_zeros;
      continue;
    }
    if (!point) ++integer_digits;
    if (m.count < kMaxSignificant) m.digits[m.count++] = c;
  }
  m.exponent10 = integer_digits > 0 ? integer_digits - 1 : -(leading_zeros + 1);
  return any_digit;
}

// Reads the exponent from s[i] to the end: a letter E, e, D or d with an
// optional sign, or a sign alone, then digits (the value clamped). Nothing
// left is exponent 0. False when it is malformed.
bool read_exponent(std::string_view s, std::size_t i, long long& exponent) {
  const std::size_t n = s.size();
  exponent = 0;
  if (i == n) return true;
  const char c = s[i];
  bool exponent_negative = false;
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) exponent_negative = s[i++] == '-';
  } else if (c == '+' || c == '-') {
    exponent_negative = c == '-';
    ++i;
  } else {
    return false;
  }
  if (i == n) return false;
  for (; i < n; ++i) {
    if (!is_digit(s[i])) return false;
    exponent = std::min(exponent * 10 + (s[i] - '0'), kExponentClamp);
  }
  if (exponent_negative) exponent = -exponent;
  return true;
}

// The double nearest to the nonzero mantissa times ten to `exponent`, by way
// of the text "D.DDD...e±X".
Conversion nearest_double(const Mantissa& m, long long exponent, double& value) {
  const long long total = m.exponent10 + exponent;
  if (total > kDecimalExponentLimit) return Conversion::Overflow;
  if (total < -kDecimalExponentLimit) {
    value = 0.0;
    return Conversion::Ok;
  }
  char text[kMaxSignificant + 16];
  char* p = text;
  *p++ = m.digits[0];
  if (m.count > 1) {
    *p++ = '.';
    std::memcpy(p, m.digits + 1, static_cast<std::size_t>(m.count - 1));
    p += m.count - 1;
  }
  *p++ = 'e';
  p = std::to_chars(p, text + sizeof text, total).ptr;
  std::from_chars_result converted;
  {
    const platform::FpTrapsHeld held;
    converted = std::from_chars(text, p, value);
  }
  if (converted.ec == std::errc::result_out_of_range) {
    if (total > 0) return Conversion::Overflow;
    value = 0.0;  // below half the smallest subnormal
  } else if (converted.ec != std::errc() || converted.ptr != p) {
    return Conversion::Invalid;
  }
  return Conversion::Ok;
}

}  // namespace

Conversion convert_real(std::string_view s, double& result) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  Mantissa m;
  long long exponent = 0;
  if (!read_mantissa(s, i, m) || !read_exponent(s, i, exponent)) return Conversion::Invalid;
  double value = 0.0;
  if (m.count > 0) {
    if (const Conversion c = nearest_double(m, exponent, value); c != Conversion::Ok) return c;
  }
  result = negative ? -value : value;
  return Conversion::Ok;
}

}  // namespace malha::textio
