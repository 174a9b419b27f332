// Conversion of a value as read to an integer or a real number.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

#include "internal.h"
#include "platform.h"

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

Conversion convert_real(std::string_view s, double& result) {
  constexpr int kMaxSignificant = 25;
  constexpr long long kExponentClamp = 1'000'000;
  std::size_t i = 0;
  const std::size_t n = s.size();
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';

  // Mantissa: keep up to 25 significant digits; `exponent10` is the power of
  // ten of the first significant digit.
  char digits[kMaxSignificant];
  int nd = 0;
  bool any_digit = false;
  bool point = false;
  long long exponent10 = 0;
  long long integer_digits = 0;  // significant digits before the point
  long long leading_zeros = 0;   // zeros after the point before the first significant digit
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any_digit = true;
    const bool significant = nd > 0 || integer_digits > 0 || c != '0';
    if (!significant) {
      if (point) ++leading_zeros;
      continue;
    }
    if (!point) ++integer_digits;
    if (nd < kMaxSignificant) digits[nd++] = c;
  }
  if (!any_digit) return Conversion::Invalid;
  const bool zero = nd == 0;
  exponent10 = integer_digits > 0 ? integer_digits - 1 : -(leading_zeros + 1);

  // Exponent: a letter E, e, D or d with an optional sign, or a sign alone.
  long long exponent = 0;
  if (i < n) {
    const char c = s[i];
    bool exponent_negative = false;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      if (i < n && (s[i] == '+' || s[i] == '-')) exponent_negative = s[i++] == '-';
    } else if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      ++i;
    } else {
      return Conversion::Invalid;
    }
    if (i == n) return Conversion::Invalid;
    for (; i < n; ++i) {
      if (!is_digit(s[i])) return Conversion::Invalid;
      exponent = std::min(exponent * 10 + (s[i] - '0'), kExponentClamp);
    }
    if (exponent_negative) exponent = -exponent;
  }

  if (zero) {
    result = negative ? -0.0 : 0.0;
    return Conversion::Ok;
  }
  const long long total = exponent10 + exponent;
  if (total > 400) return Conversion::Overflow;
  if (total < -400) {  // far below the smallest subnormal
    result = negative ? -0.0 : 0.0;
    return Conversion::Ok;
  }

  // "D.DDD...e±X", converted to the nearest double.
  char text[kMaxSignificant + 16];
  char* p = text;
  *p++ = digits[0];
  if (nd > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, static_cast<std::size_t>(nd - 1));
    p += nd - 1;
  }
  *p++ = 'e';
  p = std::to_chars(p, text + sizeof text, total).ptr;
  double value = 0.0;
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
  result = negative ? -value : value;
  return Conversion::Ok;
}

}  // namespace malha::textio
