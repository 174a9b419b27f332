// Record writer: field renderers, the format subset, units and write errors.
#include <fenv.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform.h"
#include "support.h"
#include "textio.h"

namespace malha::textio {
namespace {

using test::ChangeDir;
using test::crlf_records;
using test::read_file;
using test::TempDir;
using test::write_file;

std::string e25(double value) {
  return render_real_field(value, 25, 15, 2, 1);
}

std::string render(std::string_view format, std::initializer_list<Item> items) {
  return render_records(format, std::span<const Item>(items.begin(), items.size()), "out.txt");
}

std::string blanks(std::size_t n) {
  return std::string(n, ' ');
}

// The whole standard-error text of a run that ends with a WRITE report.
std::string write_report_pattern(int number, const std::string& file) {
  return "^\r\nrun-time error F" + std::to_string(number) + ": WRITE\\(" + file +
         "\\)\r\n- [^\r\n]+\r\n$";
}

// ---------------------------------------------------------------------------
// Real fields.

TEST(RealField, FormatExamples) {
  EXPECT_EQ(e25(1.0 / 7.0), "    1.428571428571429E-01");  // two-stage rounding
  EXPECT_EQ(e25(0.3), "    3.000000000000000E-01");
  EXPECT_EQ(e25(2.0 / 3.0), "    6.666666666666666E-01");
  EXPECT_EQ(e25(1.0 - 0x1p-53), "    9.999999999999999E-01");
  EXPECT_EQ(e25(-0.00001), "   -1.000000000000000E-05");
  EXPECT_EQ(e25(1.0e-150), "    1.000000000000000-150");
  EXPECT_EQ(e25(1.0e+100), "    1.000000000000000+100");
  EXPECT_EQ(e25(0.0), "    0.000000000000000E+00");
  EXPECT_EQ(e25(-0.0), "    0.000000000000000E+00");
  EXPECT_EQ(e25(1.5), "    1.500000000000000E+00");
  EXPECT_EQ(e25(-0.25), "   -2.500000000000000E-01");
  EXPECT_EQ(e25(1.0e99), "    1.000000000000000E+99");
}

TEST(RealField, SecondStageRoundsHalfUpAndCarries) {
  EXPECT_EQ(render_real_field(0.125, 8, 1, 2, 1), " 1.3E-01");  // exact tie goes up
  EXPECT_EQ(render_real_field(2.5, 6, 0, 2, 1), "3.E+00");
  EXPECT_EQ(render_real_field(0.99999, 10, 3, 2, 1), " 1.000E+00");  // carry out
  EXPECT_EQ(render_real_field(-9.9996, 10, 3, 2, 1), "-1.000E+01");
  EXPECT_EQ(render_real_field(9.9994, 10, 3, 2, 1), " 9.999E+00");
}

TEST(RealField, ScaleFactorsAndExponentDigits) {
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, 0), "   .1500E+01");  // no leading zero
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, -1), "   .0150E+02");
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, -3), "   .0002E+04");  // d+k = 1 digit
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, 2), "  15.000E-01");
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, 5), "  15000.E-04");
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, 6), "************");   // k > d+1
  EXPECT_EQ(render_real_field(1.5, 12, 4, 2, -4), "************");  // k <= -d
  EXPECT_EQ(render_real_field(1.5, 12, 4, 3, 1, true), " 1.5000E+000");
  EXPECT_EQ(render_real_field(-1.0e-150, 12, 4, 3, 1, true), "-1.0000E-150");
  EXPECT_EQ(render_real_field(1.0e-150, 12, 4, 2, 1, true), "************");
  EXPECT_EQ(render_real_field(1.0e5, 8, 2, 1, 1, true), " 1.00E+5");
  EXPECT_EQ(render_real_field(1.5, 8, 4, 2, 1), "********");  // too narrow
  // More digits than the 17-digit string holds are written as zeros.
  EXPECT_EQ(render_real_field(1.0 / 3.0, 30, 22, 2, 1), "  3.3333333333333330000000E-01");
  EXPECT_EQ(render_real_field(1.0e300, 1100, 1000, 2, -999), std::string(1100, '*'));
}

TEST(RealField, NonFiniteValues) {
  const auto bits = [](std::uint64_t b) { return std::bit_cast<double>(b); };
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(e25(inf), "1#INF....................");
  EXPECT_EQ(e25(-inf), "1#INF....................");
  EXPECT_EQ(e25(bits(0x7FF8000000000000u)), "1#QNAN...................");
  EXPECT_EQ(e25(bits(0xFFF8000000000001u)), "1#QNAN...................");
  EXPECT_EQ(e25(bits(0x7FF0000000000001u)), "1#SNAN...................");
  EXPECT_EQ(e25(bits(0xFFF4000000000000u)), "1#SNAN...................");
  EXPECT_EQ(e25(bits(0xFFF8000000000000u)), "1#IND....................");
  EXPECT_EQ(render_real_field(inf, 5, 1, 2, 1), "1#INF");
  EXPECT_EQ(render_real_field(inf, 4, 1, 2, 1), "****");
  EXPECT_EQ(render_real_field(bits(0x7FF8000000000000u), 5, 1, 2, 1), "*****");
}

// Rendering touches no floating-point operation that could trap, even for a
// signalling NaN or a subnormal.
void render_extremes_under_traps() {
  platform::install_fp_traps();
  const std::uint64_t patterns[] = {0x7FF0000000000001u, 0xFFF8000000000000u, 1u,
                                    0x7FEFFFFFFFFFFFFFu, 0x8000000000000000u, 0x7FF0000000000000u};
  std::string all;
  for (std::uint64_t b : patterns) {
    all += e25(std::bit_cast<double>(b));
    all += render_real_field(std::bit_cast<double>(b), 12, 4, 2, -2);
  }
  std::exit(all.size() == 6 * 37 ? 0 : 2);
}

TEST(RealFieldDeathTest, RaisesNoTrappedFault) {
  EXPECT_EXIT(render_extremes_under_traps(), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Reference for "(1P,E25.15)", built independently of the renderer: the exact
// binary value expanded in decimal with big-integer arithmetic, rounded to 17
// digits (ties to even), then rounded again to 16 digits on digit 17 alone.

using Limbs = std::vector<std::uint32_t>;  // little-endian, base 2^32

// Decimal digits of a big integer (destroys it).
std::string big_to_decimal(Limbs n) {
  std::string chunks;  // nine-digit groups, least significant first, reversed
  while (!n.empty()) {
    std::uint64_t rem = 0;
    for (std::size_t i = n.size(); i-- > 0;) {
      const std::uint64_t cur = (rem << 32) | n[i];
      n[i] = static_cast<std::uint32_t>(cur / 1000000000u);
      rem = cur % 1000000000u;
    }
    while (!n.empty() && n.back() == 0) n.pop_back();
    for (int k = 0; k < 9; ++k) {
      chunks.push_back(static_cast<char>('0' + rem % 10));
      rem /= 10;
    }
  }
  std::string digits(chunks.rbegin(), chunks.rend());
  const auto first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

struct Decimal {
  std::string digits;  // significant digits, the value being 0.digits * 10^x
  int x = 0;
};

Decimal reference_17_digits(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int e = biased == 0 ? -1074 : biased - 1075;  // value = m * 2^e

  std::string digits;  // significant digits generated so far
  int x = 0;
  bool sticky = false;  // something non-zero beyond `digits`
  if (e >= 0) {
    Limbs n(static_cast<std::size_t>(e / 32 + 3), 0);
    const int word = e / 32, shift = e % 32;
    const std::uint64_t low = m << shift;
    const std::uint64_t high = shift == 0 ? 0 : m >> (64 - shift);
    n[word] = static_cast<std::uint32_t>(low);
    n[word + 1] = static_cast<std::uint32_t>(low >> 32);
    n[word + 2] = static_cast<std::uint32_t>(high);
    digits = big_to_decimal(n);
    x = static_cast<int>(digits.size());
  } else {
    const int s = -e;  // value = m / 2^s
    const std::uint64_t integer = s >= 64 ? 0 : m >> s;
    if (integer != 0) digits = std::to_string(integer);
    x = static_cast<int>(digits.size());
    // Fraction as a big integer over 2^s.
    Limbs f(static_cast<std::size_t>(s / 32 + 2), 0);
    const std::uint64_t low = s >= 64 ? m : m & ((std::uint64_t{1} << s) - 1);
    f[0] = static_cast<std::uint32_t>(low);
    f[1] = static_cast<std::uint32_t>(low >> 32);
    const auto is_zero = [&] {
      for (auto limb : f) {
        if (limb != 0) return false;
      }
      return true;
    };
    while (digits.size() < 18 && !is_zero()) {
      std::uint64_t carry = 0;  // f *= 10^9
      for (auto& limb : f) {
        const std::uint64_t cur = std::uint64_t{limb} * 1000000000u + carry;
        limb = static_cast<std::uint32_t>(cur);
        carry = cur >> 32;
      }
      // The nine new digits are the bits at and above s.
      const int word = s / 32, shift = s % 32;
      std::uint64_t chunk = (std::uint64_t{f[word]} | (std::uint64_t{f[word + 1]} << 32)) >> shift;
      f[word] &= shift == 0 ? 0u : (std::uint32_t{1} << shift) - 1;
      for (std::size_t k = word + 1; k < f.size(); ++k) f[k] = 0;
      char group[9];
      for (int k = 8; k >= 0; --k) {
        group[k] = static_cast<char>('0' + chunk % 10);
        chunk /= 10;
      }
      for (char c : group) {
        if (digits.empty() && c == '0') {
          --x;
        } else {
          digits.push_back(c);
        }
      }
    }
    sticky = !is_zero();
  }
  // Round to 17 digits, ties to even.
  if (digits.size() > 17) {
    const char next = digits[17];
    sticky = sticky || digits.find_first_not_of('0', 18) != std::string::npos;
    digits.resize(17);
    const bool odd = (digits[16] - '0') % 2 == 1;
    if (next > '5' || (next == '5' && (sticky || odd))) {
      int i = 16;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i < 0) {  // all nines: 1 followed by zeros
        digits[0] = '1';
        ++x;
      } else {
        ++digits[i];
      }
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, x};
}

std::string reference_e25(double value) {
  const bool negative = std::signbit(value);
  Decimal dec = reference_17_digits(std::abs(value));
  std::string& d = dec.digits;
  if (d.size() > 16) {
    const bool up = d[16] >= '5';
    d.resize(16);
    if (up) {
      int i = 15;
      while (i >= 0 && d[i] == '9') d[i--] = '0';
      if (i < 0) {
        d[0] = '1';
        ++dec.x;
      } else {
        ++d[i];
      }
    }
  }
  d.resize(16, '0');
  const int exponent = dec.x - 1;
  const int magnitude = std::abs(exponent);
  std::string text = negative ? "   -" : "    ";
  text += d.substr(0, 1) + "." + d.substr(1);
  if (magnitude <= 99) text += "E";
  text += exponent < 0 ? "-" : "+";
  const std::string number = std::to_string(magnitude);
  text += std::string((magnitude <= 99 ? 2 : 3) - number.size(), '0') + number;
  return text;
}

TEST(RealField, MatchesExactDecimalReference) {
  std::mt19937_64 random(20240611);
  int compared = 0;
  int mismatches = 0;
  const auto check = [&](double value) {
    if (!std::isfinite(value) || value == 0.0) return;
    ++compared;
    const std::string got = e25(value);
    const std::string want = reference_e25(value);
    if (got != want && ++mismatches <= 10) {
      ADD_FAILURE() << std::hexfloat << value << ": " << got << " != " << want;
    }
  };
  // Random bit patterns: every binade equally likely. The writer's fuzz
  // target compares many more values with the same reference.
  for (int i = 0; i < 100'000; ++i) check(std::bit_cast<double>(random()));
  // Subnormals.
  for (int i = 0; i < 10'000; ++i) {
    check(std::bit_cast<double>(random() & 0x800FFFFFFFFFFFFFu));
  }
  // Short decimals, whose strings end in zeros or sit near rounding ties.
  for (int i = 0; i < 10'000; ++i) {
    const std::string text = std::to_string(random() % 100'000'000'000'000'000u) + "e" +
                             std::to_string(static_cast<int>(random() % 600) - 320);
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    check(value);
  }
  EXPECT_GT(compared, 115'000);
  EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------------------
// Integer fields.

// The value a reader gets back from a written field, and the fixed point it is: written
// again it gives the same field, read again the same value. Two- and three-digit exponents,
// values where 16 digits are coarser than a double (near 1) and finer (near 9.99).
TEST(RealField, AsWrittenIsWhatTheFieldHolds) {
  for (const double v : {1.0, 1.0 + 3 * 0x1p-52, 0.1, 1.0 / 3.0, -2.5e-17, 9.999999999999998,
                         0.4999999999999999, 1e-120, -3.7e150, 0.0}) {
    char field[textio::kE25Width], again[textio::kE25Width];
    textio::put_e25_15(field, v);
    const double w = textio::as_written_e25_15(v);
    textio::put_e25_15(again, w);
    EXPECT_EQ(std::string(field, sizeof field), std::string(again, sizeof again)) << v;
    EXPECT_EQ(textio::as_written_e25_15(w), w) << v;
    EXPECT_LE(std::fabs(w - v), 5e-16 * std::fabs(v)) << v;
  }
  EXPECT_NE(textio::as_written_e25_15(1.0 + 3 * 0x1p-52), 1.0 + 3 * 0x1p-52);
}

TEST(IntegerField, WidthsSignsAndMinimumDigits) {
  EXPECT_EQ(render_integer_field(7, 10, 1), blanks(9) + "7");
  EXPECT_EQ(render_integer_field(-12, 10, 1), blanks(7) + "-12");
  EXPECT_EQ(render_integer_field(2147483647, 10, 1), "2147483647");
  EXPECT_EQ(render_integer_field(-2147483647 - 1, 10, 1), "**********");
  EXPECT_EQ(render_integer_field(100000000, 8, 1), "********");
  EXPECT_EQ(render_integer_field(99999999, 8, 1), "99999999");
  EXPECT_EQ(render_integer_field(-9999999, 8, 1), "-9999999");
  EXPECT_EQ(render_integer_field(-10000000, 8, 1), "********");
  EXPECT_EQ(render_integer_field(7, 5, 3), "  007");
  EXPECT_EQ(render_integer_field(-7, 3, 3), "***");
  EXPECT_EQ(render_integer_field(0, 4, 0), "    ");  // Iw.0 leaves zero blank
  EXPECT_EQ(render_integer_field(5, 4, 0), "   5");
}

// ---------------------------------------------------------------------------
// Write statements.

TEST(WriteStatement, IntegerRecords) {
  const std::string full = render("(5(I10))", {1, 2, 3, 4, 5});
  EXPECT_EQ(full, blanks(9) + "1" + blanks(9) + "2" + blanks(9) + "3" + blanks(9) + "4" +
                      blanks(9) + "5\r\n");
  EXPECT_EQ(full.size(), 52u);
  EXPECT_EQ(render("(5(I10))", {1, 2, 3, 4}).size(), 42u);  // stops at the fifth field
  EXPECT_EQ(render("(5(I10))", {}), "\r\n");
  // Text after the closing parenthesis is ignored.
  const std::string seven = render("(5(I10))(2(1P,E25.15))", {1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(seven, render("(5(I10))", {1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(crlf_records(seven).size(), 2u);
  EXPECT_EQ(render("(4(I8))", {100000000, 1}), "********       1\r\n");
  EXPECT_EQ(render("(3I4)", {1, 2, 3}), "   1   2   3\r\n");
}

TEST(WriteStatement, RealRecordsAndReversion) {
  EXPECT_EQ(render("(2(1P,E25.15))", {1.5, -0.25}),
            "    1.500000000000000E+00   -2.500000000000000E-01\r\n");
  const auto five = crlf_records(render("(2(1P,E25.15))", {1.0, 2.0, 3.0, 4.0, 5.0}));
  ASSERT_EQ(five.size(), 3u);
  EXPECT_EQ(five[0].size(), 50u);
  EXPECT_EQ(five[1].size(), 50u);
  EXPECT_EQ(five[2], "    5.000000000000000E+00");
  EXPECT_EQ(render("(1P,E25.15)", {0.5}), "    5.000000000000000E-01\r\n");
  // Reverting to the start keeps the scale factor and the field count.
  EXPECT_EQ(render("(1P,E25.15)", {0.5, 2.0}),
            "    5.000000000000000E-01\r\n    2.000000000000000E+00\r\n");
}

TEST(WriteStatement, ReversionPointAndScaleFactor) {
  // Reverts to the last group directly inside the outer parentheses.
  EXPECT_EQ(render("(I2,2(I3),I4)", {1, 2, 3, 4, 5, 6}), " 1  2  3   4\r\n  5  6\r\n");
  EXPECT_EQ(render("(I2,(I1,(I3)))", {1, 2, 3, 4, 5}), " 12  3\r\n4  5\r\n");
  // The scale factor stays in force across groups and reversion.
  EXPECT_EQ(render("(E12.4,1P,2(E12.4))", {1.5, 1.5, 1.5, 1.5}),
            "   .1500E+01  1.5000E+00  1.5000E+00\r\n  1.5000E+00\r\n");
  EXPECT_EQ(render("(-1P,E12.4)", {1.5}), "   .0150E+02\r\n");
  EXPECT_EQ(render("(1PE12.4)", {1.5}), "  1.5000E+00\r\n");  // comma after P left out
  EXPECT_EQ(render(" ( 2 ( 1p , e12.4e3 ) )", {1.5}), " 1.5000E+000\r\n");
  EXPECT_EQ(render("()", {}), "\r\n");
  // Huge repeat counts cost nothing once the items run out.
  EXPECT_EQ(render("(999999999(999999999(I2)))", {1, 2}), " 1 2\r\n");
  EXPECT_EQ(render("(999999999(999999999(1P)),I2)", {3}), " 3\r\n");
  const std::string deepest = std::string(16, '(') + "I2" + std::string(16, ')');
  EXPECT_EQ(render("(" + deepest + ")", {4}), " 4\r\n");
  EXPECT_EQ(render("(I1024)", {1}).size(), 1026u);
}

TEST(WriteStatementDeathTest, MalformedFormatsFail) {
  const std::string too_deep = "(" + std::string(17, '(') + "I2" + std::string(17, ')') + ")";
  for (const std::string& format : std::initializer_list<std::string>{
           "5(I10)", "", "(5(I10)", "(I0)", "(0(I5))", "(E25)", "(E0.3)", "(E25.15E0)", "(F10.3)",
           "(A)", "(I5,)", "(,I5)", "(I5.6)", "(2())", "(P,I5)", "(+5I5)", "(I5 I5)",
           "(I99999999999)", too_deep}) {
    EXPECT_EXIT(render(format, {1}), ::testing::ExitedWithCode(1),
                write_report_pattern(kErrFormat, "out\\.txt"))
        << format;
  }
}

TEST(WriteStatementDeathTest, ItemsWithoutDescriptorsFail) {
  // Items remain but the reverted part places no field: no endless loop.
  EXPECT_EXIT(render("(I3,2(1P))", {1, 2}), ::testing::ExitedWithCode(1),
              write_report_pattern(kErrFormat, "out\\.txt"));
  EXPECT_EXIT(render("()", {1}), ::testing::ExitedWithCode(1),
              write_report_pattern(kErrFormat, "out\\.txt"));
}

TEST(WriteStatementDeathTest, TypeMismatchAndRecordLength) {
  EXPECT_EXIT(render("(2(1P,E25.15))", {1.5, 2}), ::testing::ExitedWithCode(1),
              "^\r\nrun-time error F6602: WRITE\\(out\\.txt\\)\r\n"
              "- item 2 is an integer, which edit descriptor E25\\.15 cannot write\r\n$");
  EXPECT_EXIT(render("(5(I10))", {1.5}), ::testing::ExitedWithCode(1),
              write_report_pattern(kErrItemType, "out\\.txt"));
  EXPECT_EXIT(render("(2(I1000))", {1, 2}), ::testing::ExitedWithCode(1),
              write_report_pattern(kErrRecordLength, "out\\.txt"));
}

// ---------------------------------------------------------------------------
// Units and files.

TEST(FatalReport, Shape) {
  EXPECT_EQ(format_report(6401, Statement::Open, "a b.txt", "cannot open the file"),
            "\r\nrun-time error F6401: OPEN(a b.txt)\r\n- cannot open the file\r\n");
  EXPECT_EQ(format_report(6801, Statement::Allocate, "xv", "m"),
            "\r\nrun-time error F6801: ALLOCATE(xv)\r\n- m\r\n");
}

// The one escaper of every message: each choice on the bytes it changes.
struct EscapeCase {
  const char* name;
  std::string text;
  Escaping how;
  std::string want;
};

const EscapeCase kEscapeCases[] = {
    {"ControlBytes", std::string("a\0b\x1F\x7F~ ", 7), {}, "a\\x00b\\x1F\\x7F~ "},
    {"NonAsciiAsHex", "\xC3\xA9", {}, "\\xC3\\xA9"},
    {"NonAsciiKept", "\xC3\xA9\t", {.keep_non_ascii = true}, "\xC3\xA9\\x09"},
    {"LineEndsNamed", "a\r\n\\\t\xFF", {.name_line_ends = true}, "a\\r\\n\\\\\\x09\\xFF"},
    {"LineEndsAsBytes", "\r\n\\", {}, "\\x0D\\x0A\\"},
    {"LimitCutsBytesBeforeEscaping", "\x01\x02\x03", {.limit = 2}, "\\x01\\x02..."},
    {"LimitReachedExactly", "abc", {.limit = 3}, "abc"},
    {"Empty", "", {.limit = 0}, ""},
};

class Escaped : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(Escaped, ShowsTheBytesAsChosen) {
  EXPECT_EQ(escaped(GetParam().text, GetParam().how), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Messages, Escaped, ::testing::ValuesIn(kEscapeCases),
                         [](const auto& info) { return std::string(info.param.name); });

class UnitFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ChangeDir cd_{dir_.path()};
};

TEST_F(UnitFileTest, ExistingLongerFileIsReplacedExactly) {
  write_file(dir_ / "mesh.txt", std::string(5000, 'x') + "\n");
  open_unit(7, "mesh.txt");
  write_record(7, "(5(I10))", {1, 2});
  write_free_record(7);
  close_unit(7);
  EXPECT_EQ(read_file(dir_ / "mesh.txt"), blanks(9) + "1" + blanks(9) + "2\r\n \r\n");
}

TEST_F(UnitFileTest, CreatingReconnectingAndClosing) {
  write_file(dir_ / "keep.txt", "abc\n");
  open_unit(9, "keep.txt");  // opened and closed without writing: unchanged
  close_unit(9);
  close_unit(9);  // closing an unconnected unit does nothing
  EXPECT_EQ(read_file(dir_ / "keep.txt"), "abc\n");
  open_unit(5, "a.txt");
  write_record(5, "(I3)", {1});
  open_unit(5, "b.txt");  // the first file is closed first
  EXPECT_EQ(read_file(dir_ / "a.txt"), "  1\r\n");
  open_unit(5, "b.txt");  // the same file again: the connection is kept
  write_record(5, "(I3)", {2});
  close_unit(5);
  EXPECT_EQ(read_file(dir_ / "b.txt"), "  2\r\n");
}

TEST_F(UnitFileTest, ManyRecordsPassTheBufferIntact) {
  open_unit(11, "big.txt");
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    write_record(11, "(5(I10))", {i, i + 1, i + 2, i + 3, i + 4});
    expected += render("(5(I10))", {i, i + 1, i + 2, i + 3, i + 4});
  }
  std::vector<Item> many;
  for (int i = 0; i < 300000; ++i) many.emplace_back(i);
  write_record(11, "(5(I10))", many);  // one statement larger than the buffer
  expected += render_records("(5(I10))", many);
  close_unit(11);
  EXPECT_EQ(read_file(dir_ / "big.txt"), expected);
}

TEST_F(UnitFileTest, WritingAfterReadingKeepsTheRecordsRead) {
  write_file(dir_ / "rw.txt", "1\n2\n3\n");
  open_unit(6, "rw.txt");
  std::int32_t value = 0;
  read_integer(6, value);
  write_record(6, "(I2)", {9});
  close_unit(6);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(read_file(dir_ / "rw.txt"), "1\n 9\r\n");
}

TEST_F(UnitFileTest, FailuresEndTheRunWithAReport) {
  EXPECT_EXIT(open_unit(1, "no/such/dir/x.txt"), ::testing::ExitedWithCode(1),
              "^\r\nrun-time error F6401: OPEN\\(no/such/dir/x\\.txt\\)\r\n"
              "- cannot create the file: no such file or directory\r\n$");
  std::filesystem::create_directory(dir_ / "sub");
  EXPECT_EXIT(open_unit(1, "sub"), ::testing::ExitedWithCode(1), "F6401: OPEN\\(sub\\)");
  EXPECT_EXIT(write_record(3, "(I5)", {1}), ::testing::ExitedWithCode(1),
              write_report_pattern(kErrNotConnected, "unit 3"));
  EXPECT_EXIT(write_free_record(3), ::testing::ExitedWithCode(1), "F6605: WRITE\\(unit 3\\)");
}

// A fatal error writes out what other units hold before the process ends.
TEST_F(UnitFileTest, FatalErrorWritesOutOpenUnits) {
  EXPECT_EXIT(
      {
        open_unit(2, "kept.txt");
        write_record(2, "(I3)", {42});
        open_unit(3, "bad.txt");
        write_record(3, "(X)", {1});
      },
      ::testing::ExitedWithCode(1), "F6603: WRITE\\(bad\\.txt\\)");
  EXPECT_EQ(read_file(dir_ / "kept.txt"), " 42\r\n");
}

TEST_F(UnitFileTest, WriteToReadOnlyFileFails) {
  write_file(dir_ / "ro.txt", "old\n");
  ::chmod((dir_ / "ro.txt").c_str(), 0444);
  ::chmod(dir_.path().c_str(), 0755);
  EXPECT_EXIT(
      {
        test::act_as_ordinary_user();
        open_unit(4, "ro.txt");
        write_record(4, "(I3)", {1});
      },
      ::testing::ExitedWithCode(1), write_report_pattern(kErrWriteSystem, "ro\\.txt"));
  EXPECT_EQ(read_file(dir_ / "ro.txt"), "old\n");
}

TEST_F(UnitFileTest, SystemWriteErrorsAreNeverSilent) {
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EXIT(
        {
          open_unit(1, "/dev/full");
          write_record(1, "(I3)", {1});
          close_unit(1);
          std::exit(0);
        },
        ::testing::ExitedWithCode(1), "F6[67]01: (WRITE|CLOSE)\\(/dev/full\\)\r\n- ");
  }
  // A flush in the middle of a run that meets a file size limit.
  EXPECT_EXIT(
      {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 10000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        open_unit(1, "limited.txt");
        for (int i = 0; i < 20000; ++i) write_record(1, "(5(I10))", {1, 2, 3, 4, 5});
        std::exit(0);
      },
      ::testing::ExitedWithCode(1),
      "^\r\nrun-time error F6601: WRITE\\(limited\\.txt\\)\r\n- error writing the file: file "
      "too large\r\n$");
}

}  // namespace
}  // namespace malha::textio
