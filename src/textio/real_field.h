// The stages of an Ew.d[Ee] field under scale factor k, shared by the field
// renderer of the write statement (fields.cpp) and the direct E25.15 records
// (records.cpp), so that both give the same bytes by construction:
//
//   1. digits: the magnitude correctly rounded to 17 significant digits. The
//      write statement asks the standard library (std::to_chars); the direct
//      records use exact integer arithmetic where it reaches and the write
//      statement's renderer elsewhere. Both round the exact value to nearest.
//   2. rounding to the field: the 17 digits rounded to the digits the field
//      shows (at most 16), looking at the next digit alone.
//   3. layout: blanks, sign, mantissa with its point, exponent; asterisks when
//      the field is too narrow.
//
// Stages 2 and 3 are the functions below, which both renderers call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace malha::textio {

// A magnitude as decimal digits: the `count` digits of `digits` (leading
// zeros counted) are D1D2...Dcount, and the magnitude is 0.D1D2... times ten
// to the power x. Digits past `count` are zeros.
struct Decimal {
  std::uint64_t digits;
  int count;
  int x;
};

// The digits stage 1 gives.
inline constexpr int kFoundDigits = 17;
// The most digits a field shows: the 17th digit is only there to round the
// 16th.
inline constexpr int kMaxShownDigits = 16;

// Zero, as the layout shows it: ".000..." with exponent 0.
inline constexpr Decimal kZeroDecimal = {0, 1, 0};

struct PowersOfTen {
  std::uint64_t value[kFoundDigits + 1];
  constexpr PowersOfTen() : value() {
    value[0] = 1;
    for (int p = 1; p <= kFoundDigits; ++p) value[p] = value[p - 1] * 10;
  }
  constexpr std::uint64_t operator[](int p) const { return value[p]; }
};
inline constexpr PowersOfTen kPowersOfTen;

// ---------------------------------------------------------------------------
// Stage 2.

// The number of digits Ew.d shows under scale factor k.
constexpr int shown_digits(int d, int k) {
  const long long s = k >= 1 ? static_cast<long long>(d) + 1 : static_cast<long long>(d) + k;
  return static_cast<int>(std::min<long long>(s, kMaxShownDigits));
}

// Rounds to `t` >= 1 digits, looking at digit t + 1 alone; a carry out of the
// first digit makes it "1" followed by zeros and raises the exponent.
inline void round_to_field(Decimal& g, int t) {
  if (g.count <= t) return;
  const std::uint64_t below = kPowersOfTen[g.count - t - 1];
  // Whether a number rounds up is as good as random in a mesh's coordinates,
  // and a branch on it would be mispredicted every other number: the digit
  // d gives the 0 or 1 to add as (d + 5) / 10, by arithmetic alone. Only the
  // rare carry out of the first digit is a branch.
  const std::uint64_t digit = g.digits / below % 10;
  g.digits = g.digits / (below * 10) + (digit + 5) / 10;
  g.count = t;
  if (g.digits == kPowersOfTen[t]) {
    g.digits = kPowersOfTen[t - 1];
    ++g.x;
  }
}

// ---------------------------------------------------------------------------
// Stage 3.

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void put_pair(char* out, unsigned value) {
  std::memcpy(out, kDigitPairs + 2 * value, 2);
}

// Eight decimal digits of value < 10^8, leading zeros included.
inline void put_eight_digits(char* out, std::uint32_t value) {
  const std::uint32_t high = value / 10000, low = value % 10000;
  put_pair(out, high / 100);
  put_pair(out + 2, high % 100);
  put_pair(out + 4, low / 100);
  put_pair(out + 6, low % 100);
}

// The exponent part of the field: "E±dd" for magnitudes up to 99 and "±ddd"
// up to 999 when Ee was not written; "E±" and e digits when it was.
struct ExponentForm {
  int digits;   // digits written, zero-padded on the left
  bool letter;  // whether "E" is written
  int length;   // bytes of the exponent part
};

// The exponent form for `exponent`, or false when it cannot be written (the
// field is then asterisks).
inline bool exponent_form(int exponent, int e, bool exponent_digits_given, ExponentForm& form) {
  const unsigned magnitude =
      exponent < 0 ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
  if (exponent_digits_given) {
    int needed = 1;
    for (unsigned m = magnitude; m >= 10; m /= 10) ++needed;
    if (e <= 0 || needed > e) return false;
    form = {e, true, 2 + e};
    return true;
  }
  if (magnitude <= 99) {
    form = {2, true, 4};
    return true;
  }
  if (magnitude <= 999) {
    form = {3, false, 4};
    return true;
  }
  return false;
}

// Bytes of the mantissa: k digits, the point and d-k+1 digits; or, for
// k <= 0, the point, -k zeros and d+k digits.
constexpr long long mantissa_length(int d, int k) {
  return k >= 1 ? static_cast<long long>(d) + 2 : d + 1LL;
}

// Digits [from, to) of the text of kMaxShownDigits digits, zeros past it.
inline char* put_digits(char* out, const char* text, long long from, long long to) {
  const long long held = std::max(0LL, std::min<long long>(to, kMaxShownDigits) - from);
  if (held > 0) std::memcpy(out, text + from, static_cast<std::size_t>(held));
  out += held;
  const long long zeros = to - from - held;
  if (zeros > 0) std::memset(out, '0', static_cast<std::size_t>(zeros));
  return out + std::max(0LL, zeros);
}

// The whole field of width w >= 1 from digits rounded to the field (at most
// kMaxShownDigits): exactly w bytes, asterisks when it does not fit.
// Requires -d < k <= d + 1.
inline char* put_real_layout(char* out, const Decimal& g, bool negative, int exponent, int w, int d,
                             int e, int k, bool exponent_digits_given) {
  ExponentForm form{};
  const bool exponent_fits = exponent_form(exponent, e, exponent_digits_given, form);
  const long long length = (negative ? 1 : 0) + mantissa_length(d, k) + form.length;
  if (!exponent_fits || length > w) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return out + w;
  }
  // The digits as text, zeros after the first `count`.
  const std::uint64_t all = g.digits * kPowersOfTen[kMaxShownDigits - g.count];
  char text[kMaxShownDigits];
  put_eight_digits(text, static_cast<std::uint32_t>(all / 100'000'000));
  put_eight_digits(text + 8, static_cast<std::uint32_t>(all % 100'000'000));

  std::memset(out, ' ', static_cast<std::size_t>(w - length));
  out += w - length;
  if (negative) *out++ = '-';
  if (k >= 1) {
    out = put_digits(out, text, 0, k);
    *out++ = '.';
    out = put_digits(out, text, k, d + 1LL);
  } else {
    *out++ = '.';
    std::memset(out, '0', static_cast<std::size_t>(-k));
    out += -k;
    out = put_digits(out, text, 0, d + static_cast<long long>(k));
  }
  if (form.letter) *out++ = 'E';
  *out++ = exponent < 0 ? '-' : '+';
  unsigned magnitude =
      exponent < 0 ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
  for (int i = form.digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  return out + form.digits;
}

// The whole Ew.d[Ee] field of any value (fields.cpp): exactly w >= 1 bytes.
char* put_real_field(char* out, double value, int w, int d, int e, int k,
                     bool exponent_digits_given);

}  // namespace malha::textio
