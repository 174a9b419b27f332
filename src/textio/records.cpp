// Direct record assembly for the fixed formats of the output files.
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "textio.h"
#include "textio/internal.h"
#include "textio/real_field.h"

namespace malha::textio {

namespace {

constexpr std::uint64_t kTen16 = 10'000'000'000'000'000ull;

#if defined(__SIZEOF_INT128__)
using Wide = unsigned __int128;

struct PowersOfFive {
  Wide value[33];
  constexpr PowersOfFive() : value() {
    value[0] = 1;
    for (int p = 1; p <= 32; ++p) value[p] = value[p - 1] * 5;
  }
};
constexpr PowersOfFive kPowersOfFive;

// Stage 1 of the E field (real_field.h) done with exact integer arithmetic: the
// positive finite value m * 2^e rounded to 17 significant digits, as the
// integer `digits` in [10^16, 10^17) and the exponent x with
// value = 0.D1D2...D17 * 10^x. Rounding is to nearest on the exact remainder,
// ties to even, as std::to_chars does. (A tie needs a binary fraction that
// ends at the 18th digit, and then the 17th digit is 2 or 7, so the second
// stage never sees the difference between the ways of breaking ties anyway.)
// The method needs m * 5^p in 128 bits, that is 0 <= p <= 32 for the scaling
// 10^p that brings the value to 17 digits: values from about 1e-16 to 1e17.
// Outside that range, and for subnormals, it returns false.
bool seventeen_digits(std::uint64_t bits, std::uint64_t& digits, int& x) {
  constexpr std::uint64_t kTen17 = 100'000'000'000'000'000ull;
  const int biased = static_cast<int>(bits >> 52) & 0x7FF;
  if (biased == 0) return false;
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e = biased - 1075;  // value = m * 2^e, 2^52 <= m < 2^53
  // floor(log10(value)) is k or k + 1 (78913 / 2^18 is log10(2) from below).
  const int k = ((e + 52) * 78913) >> 18;
  int p = 16 - k;  // value * 10^p lies in [10^16, 10^18)
  for (int attempt = 0; attempt < 2; ++attempt, --p) {
    if (p < 0 || p > 32) return false;
    const Wide n = static_cast<Wide>(m) * kPowersOfFive.value[p];  // value * 10^p = n * 2^(p+e)
    const int shift = -(p + e);
    std::uint64_t t;
    std::uint64_t up = 0;  // 1 when the value rounds up
    if (shift <= 0) {
      t = static_cast<std::uint64_t>(n << -shift);
    } else {
      const Wide truncated = n >> shift;
      if (truncated >= kTen17) continue;  // one digit too many: scale by 10^(p-1)
      t = static_cast<std::uint64_t>(truncated);
      // Up when the remainder r is above half of 2^shift, or at half with t
      // odd: when r + (half - 1) + (t & 1) reaches 2^shift. By arithmetic,
      // not a branch: whether a number rounds up is as good as random in a
      // mesh's coordinates, and the branch was mispredicted every other one.
      const Wide remainder = n & ((static_cast<Wide>(1) << shift) - 1);
      const Wide half = static_cast<Wide>(1) << (shift - 1);
      up = static_cast<std::uint64_t>((remainder + (half - 1) + (t & 1)) >> shift);
    }
    if (t >= kTen17) continue;
    if (t < kTen16) return false;  // cannot happen with k as above; be safe
    t += up;
    x = 17 - p;
    if (t == kTen17) {  // 99...9.5 rounded up: "1" followed by zeros
      t = kTen16;
      ++x;
    }
    digits = t;
    return true;
  }
  return false;
}
#else
bool seventeen_digits(std::uint64_t, std::uint64_t&, int&) {
  return false;
}
#endif

// Stage 3 for "(1P,E25.15)" with 16 digits (in [10^15, 10^16)) and an
// exponent of two digits: blanks and the sign, the first digit, the point, 15
// digits, "E", the exponent's sign and its two digits; what put_real_layout
// writes for them. Every byte is stored straight into the field: a text
// assembled by small stores and read back whole would wait for them.
char* put_e25_15_layout(char* out, std::uint64_t digits16, bool negative, int exponent) {
  constexpr std::uint64_t kTen15 = kTen16 / 10;
  constexpr std::uint32_t kTen8 = 100'000'000;
  std::memcpy(out, "    ", 4);
  if (negative) out[3] = '-';
  out[4] = static_cast<char>('0' + digits16 / kTen15);
  out[5] = '.';
  const std::uint64_t rest = digits16 % kTen15;
  const auto seven = static_cast<std::uint32_t>(rest / kTen8);  // digits 2 to 8
  out[6] = static_cast<char>('0' + seven / 1'000'000);
  put_pair(out + 7, seven / 10'000 % 100);
  put_pair(out + 9, seven / 100 % 100);
  put_pair(out + 11, seven % 100);
  put_eight_digits(out + 13, static_cast<std::uint32_t>(rest % kTen8));  // digits 9 to 16
  out[21] = 'E';
  out[22] = exponent < 0 ? '-' : '+';
  put_pair(out + 23, static_cast<unsigned>(exponent < 0 ? -exponent : exponent));
  return out + 25;
}

}  // namespace

double as_written_e25_15(double value) {
  char field[kE25Width];
  put_e25_15(field, value);
  // "  -d.dddddddddddddddE+dd", or with a three-digit exponent "d.ddd...+ddd":
  // the mantissa, then the exponent after its letter or straight after.
  const char* const end = field + kE25Width;
  const char* begin = field;
  while (begin < end && *begin == ' ') ++begin;
  const char* exponent = end;
  while (exponent > begin + 1 && exponent[-1] != '+' && exponent[-1] != '-') --exponent;
  const char* mantissa_end = exponent - 1;
  if (mantissa_end > begin && (mantissa_end[-1] == 'E' || mantissa_end[-1] == 'D')) --mantissa_end;
  char text[kE25Width + 2];
  const auto mantissa = static_cast<std::size_t>(mantissa_end - begin);
  std::memcpy(text, begin, mantissa);
  text[mantissa] = 'e';
  std::memcpy(text + mantissa + 1, exponent - 1, static_cast<std::size_t>(end - exponent + 1));
  double read = value;
  const std::from_chars_result r =
      std::from_chars(text, text + mantissa + 1 + (end - exponent + 1), read);
  return r.ec == std::errc() ? read : value;
}

char* put_e25_15(char* out, double value) {
  constexpr int kDigits = 15;  // d of E25.15
  constexpr int kExponentDigits = 2;
  constexpr int kScale = 1;  // 1P
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kSignBit = 0x8000000000000000u;
  std::uint64_t digits17 = 0;
  int x = 0;
  if (!seventeen_digits(bits & ~kSignBit, digits17, x)) {
    // Zero, subnormal and non-finite values, and those outside the exact
    // integer method's range: the write statement's renderer.
    return put_real_field(out, value, kE25Width, kDigits, kExponentDigits, kScale, false);
  }
  Decimal g{digits17, kFoundDigits, x};
  // Stage 2, shared with the write statement.
  constexpr int kShown = shown_digits(kDigits, kScale);
  round_to_field(g, kShown);
  // Stage 3: in this range the exponent always has two digits, and the
  // layout is the one put_real_layout makes for it, stored straight into the
  // field.
  static_assert(kShown == 16 && kScale == 1);
  const int exponent = g.x - kScale;
  const bool negative = (bits & kSignBit) != 0;
  if (exponent < -99 || exponent > 99) {
    return put_real_layout(out, g, negative, exponent, kE25Width, kDigits, kExponentDigits, kScale,
                           false);
  }
  return put_e25_15_layout(out, g.digits, negative, exponent);
}

char* put_integer_field(char* out, std::int32_t value, int w) {
  const bool negative = value < 0;
  std::uint32_t magnitude =
      negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  int digits = 1;
  for (std::uint32_t power = 10; digits < 10 && magnitude >= power; power *= 10) ++digits;
  const int length = digits + (negative ? 1 : 0);
  if (length > w) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return out + w;
  }
  // Blanks over the field (for 8 to 16 columns two fixed-size stores that
  // overlap), then the digits two at a time and the sign from the right end,
  // all stored straight into the field (a scratch text read back whole
  // would wait for its small stores).
  if (w >= 8 && w <= 16) {
    std::memcpy(out, "        ", 8);
    std::memcpy(out + w - 8, "        ", 8);
  } else {
    std::memset(out, ' ', static_cast<std::size_t>(w));
  }
  char* p = out + w;
  for (; magnitude >= 100; magnitude /= 100) {
    p -= 2;
    put_pair(p, magnitude % 100);
  }
  if (magnitude >= 10) {
    p -= 2;
    put_pair(p, magnitude);
  } else {
    *--p = static_cast<char>('0' + magnitude);
  }
  if (negative) *--p = '-';
  return out + w;
}

}  // namespace malha::textio
