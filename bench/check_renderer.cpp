// Compares the direct E25.15 field renderer with the format-driven one on many
// doubles: random bit patterns over the whole range, random values in the
// ranges mesh files hold, and values near the places where rounding is hard.
//
//   check_renderer [count] [seed]      (count defaults to 100000000)
//
// Prints the first mismatches and ends with status 1 if there is any.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>

#include "textio.h"

namespace {

std::uint64_t mismatches = 0;

void check(double value) {
  char fast[25];
  malha::textio::put_e25_15(fast, value);
  const std::string plain = malha::textio::render_real_field(value, 25, 15, 2, 1);
  if (plain.size() != 25 || std::memcmp(fast, plain.data(), 25) != 0) {
    if (++mismatches <= 20) {
      std::printf("mismatch for %a: fast \"%.25s\" plain \"%s\"\n", value, fast, plain.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000'000ull;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 12345;
  std::mt19937_64 random(seed);

  // Tricky values: powers of ten and their neighbours, binary fractions that
  // end exactly at the 18th significant digit (ties at the 17th), values just
  // below a power of ten, subnormals and the extremes.
  std::uint64_t tricky = 0;
  for (int p = -330; p <= 310; ++p) {
    const double ten = std::pow(10.0, p);
    for (double v : {ten, std::nextafter(ten, 0.0), std::nextafter(ten, INFINITY)}) {
      check(v);
      check(-v);
      tricky += 2;
    }
  }
  for (int e = 1; e <= 12; ++e) {
    for (std::uint64_t m = (std::uint64_t{1} << 53) - 5000; m < (std::uint64_t{1} << 53); ++m) {
      check(std::ldexp(static_cast<double>(m), -e));
      ++tricky;
    }
  }
  for (std::uint64_t bits = 1; bits < 100000; ++bits) {
    check(std::bit_cast<double>(bits));
    check(std::bit_cast<double>(0x0010000000000000u - bits));
    tricky += 2;
  }
  for (double v : std::initializer_list<double>{
           0.0, -0.0, 1.0, 0.3, 1.0 / 3.0, 2.0 / 3.0, 1.0 / 7.0, 0.99999999999999989, 1e-150, 1e100,
           1.7976931348623157e308, 2.2250738585072014e-308, INFINITY, -INFINITY, NAN}) {
    check(v);
    ++tricky;
  }

  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-20, 20);
  for (std::uint64_t n = 0; n < count; ++n) {
    double v;
    switch (n % 4) {
      case 0:  // any bit pattern
        v = std::bit_cast<double>(random());
        break;
      case 1:  // coordinates
        v = unit(random);
        break;
      case 2:  // areas and other small and large values
        v = std::ldexp(unit(random), exponent(random) * 3);
        break;
      default:  // 17-digit boundaries: short decimals and their neighbours
      {
        const double d =
            static_cast<double>(random() % 100000000) * std::pow(10.0, exponent(random));
        v = (n / 4) % 3 == 0 ? d : std::nextafter(d, (n / 4) % 3 == 1 ? 0.0 : INFINITY);
        break;
      }
    }
    check((n & 8) != 0 ? -v : v);
  }
  std::printf("%llu random and %llu chosen values compared, %llu mismatches\n",
              static_cast<unsigned long long>(count), static_cast<unsigned long long>(tricky),
              static_cast<unsigned long long>(mismatches));
  return mismatches == 0 ? 0 : 1;
}
