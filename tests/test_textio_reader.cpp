// Free-format record reader: finding values, conversions and failures.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <string>

#include "platform.h"
#include "support.h"
#include "textio.h"

namespace malha::textio {
namespace {

using test::ChangeDir;
using test::TempDir;
using test::write_file;

constexpr int kUnit = 5;

// The whole standard-error text of a run that ends with a READ report.
std::string read_report(int number, const std::string& message_pattern) {
  return "^\r\nrun-time error F" + std::to_string(number) + ": READ\\(in\\.txt\\)\r\n- " +
         message_pattern + "\r\n$";
}

class ReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { close_unit(kUnit); }

  // Connects the unit to a file holding `content`.
  void given(const std::string& content) {
    write_file(dir_ / "in.txt", content);
    open_unit(kUnit, "in.txt");
  }
  // The same as an input file of the program.
  void given_input(const std::string& content) {
    write_file(dir_ / "in.txt", content);
    open_input_unit(kUnit, "in.txt");
  }

  std::int32_t integer() {
    std::int32_t value = -99;
    read_integer(kUnit, value);
    return value;
  }
  double real() {
    double value = -99.0;
    read_real(kUnit, value);
    return value;
  }
  std::string text() {
    std::string value = "unchanged";
    read_text(kUnit, value);
    return value;
  }

  struct Failure {
    const char* content;
    int number;
    const char* message;  // regular expression
  };
  // For each case: `read` of a file holding the content ends the run with the
  // READ report of that number and message.
  template <class Read>
  void expect_failures(std::initializer_list<Failure> cases, Read read) {
    for (const auto& c : cases) {
      given(c.content);
      EXPECT_EXIT(read(), ::testing::ExitedWithCode(1), read_report(c.number, c.message))
          << c.content;
      close_unit(kUnit);
    }
  }

  TempDir dir_;
  ChangeDir cd_{dir_.path()};
};

using ReaderDeathTest = ReaderTest;

std::string padded(const std::string& text) {
  return text + std::string(100 - text.size(), ' ');
}

// ---------------------------------------------------------------------------
// Finding the value.

TEST_F(ReaderTest, ValueWithRemarkThenNextLine) {
  given("  12   number of volumes\n13\n\t14\tsteps\n15,16\n17/18\n19\n");
  EXPECT_EQ(integer(), 12);
  EXPECT_EQ(integer(), 13);
  EXPECT_EQ(integer(), 14);
  EXPECT_EQ(integer(), 15);  // 16 is never read
  EXPECT_EQ(integer(), 17);
  EXPECT_EQ(integer(), 19);
}

TEST_F(ReaderTest, EmptyAndBlankLinesAreSkipped) {
  given("\n\n   \n12\n\r\n \t \r\n13\r\n14\r\n");
  EXPECT_EQ(integer(), 12);
  EXPECT_EQ(integer(), 13);
  EXPECT_EQ(integer(), 14);
}

TEST_F(ReaderTest, CrLfAndLfRecordsAndLastLineWithoutLf) {
  given("1\r\n2\n3 remark\r\n'x'\r\n4\r5\n'y'\r6\n7");
  EXPECT_EQ(integer(), 1);
  EXPECT_EQ(integer(), 2);
  EXPECT_EQ(integer(), 3);
  EXPECT_EQ(text(), padded("x"));
  EXPECT_EQ(integer(), 4);  // a CR alone ends the record: nothing after it is skipped
  EXPECT_EQ(integer(), 5);
  EXPECT_EQ(text(), padded("y"));  // also as the separator after a closing quote
  EXPECT_EQ(integer(), 6);
  EXPECT_EQ(integer(), 7);
}

// Digits beyond the 25 used only shift the exponent, however many (up to the length cap).
TEST_F(ReaderTest, MillionDigitMantissasShiftTheExponentExactly) {
  const std::string zeros(999'990, '0');
  given("1" + zeros + "e-1000005\n0." + zeros + "1e1000005\n1" + zeros + "e-1000300\n-1" + zeros +
        "D-999990\n");
  EXPECT_EQ(real(), 1e-15);
  EXPECT_EQ(real(), 1e14);
  EXPECT_EQ(real(), 1e-310);
  EXPECT_EQ(real(), -1.0);
}

TEST_F(ReaderTest, NullValuesLeaveTheTargetUnchanged) {
  given("/\n,\n  , 5\n/\n3*\n2* 9\n,\n8\n");
  double d = 1.0;
  read_real(kUnit, d);
  EXPECT_EQ(d, 1.0);
  std::int32_t i = 42;
  read_integer(kUnit, i);
  EXPECT_EQ(i, 42);
  read_integer(kUnit, i);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(text(), "unchanged");
  read_integer(kUnit, i);  // "3*" followed by a separator
  EXPECT_EQ(i, 42);
  read_integer(kUnit, i);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(text(), "unchanged");
  EXPECT_EQ(integer(), 8);
}

TEST_F(ReaderTest, RepeatCounts) {
  given("3*7\n1*-2.5\n2*abc\n2*'a b'\n12*\"q\"\n");
  EXPECT_EQ(integer(), 7);
  EXPECT_EQ(real(), -2.5);
  EXPECT_EQ(text(), padded("abc"));
  EXPECT_EQ(text(), padded("a b"));
  EXPECT_EQ(text(), padded("q"));
}

// ---------------------------------------------------------------------------
// Conversions.

TEST_F(ReaderTest, Integers) {
  given("+5\n-2147483648\n2147483647\n007\n-0\n");
  EXPECT_EQ(integer(), 5);
  EXPECT_EQ(integer(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(integer(), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(integer(), 7);
  EXPECT_EQ(integer(), 0);
}

TEST_F(ReaderTest, RealNotations) {
  given(
      "1.0D-3\n1.0d-3\n1.0E-3\n1.0-3\n2\n5.\n.5\n+5.25e+1\n-1.5+2\n0.1\n"
      "0.1000000000000000055511151231257827021181583404541015625\n"
      "123456789012345678901234567890\n0.000000000000000000000000000000000012345\n"
      "1.7976931348623157e308\n4.9406564584124654D-324\n1e-310\n1e-400\n-1e-400\n-0.0\n"
      "1e-99999999999999999999\n0e999999999999\n");
  for (int k = 0; k < 4; ++k) EXPECT_EQ(real(), 0.001) << k;
  EXPECT_EQ(real(), 2.0);
  EXPECT_EQ(real(), 5.0);
  EXPECT_EQ(real(), 0.5);
  EXPECT_EQ(real(), 52.5);
  EXPECT_EQ(real(), -150.0);
  EXPECT_EQ(real(), 0.1);
  EXPECT_EQ(real(), 0.1);
  EXPECT_EQ(real(), 1.2345678901234568e29);
  EXPECT_EQ(real(), 1.2345e-35);
  EXPECT_EQ(real(), std::numeric_limits<double>::max());
  EXPECT_EQ(real(), std::numeric_limits<double>::denorm_min());
  const double subnormal = real();
  EXPECT_EQ(subnormal, 1e-310);
  EXPECT_EQ(std::fpclassify(subnormal), FP_SUBNORMAL);
  const double zero = real();
  EXPECT_EQ(zero, 0.0);
  EXPECT_FALSE(std::signbit(zero));
  const double negative_underflow = real();
  EXPECT_EQ(negative_underflow, 0.0);
  EXPECT_TRUE(std::signbit(negative_underflow));
  const double negative_zero = real();
  EXPECT_EQ(negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(negative_zero));
  EXPECT_EQ(real(), 0.0);
  EXPECT_EQ(real(), 0.0);
}

TEST_F(ReaderTest, Texts) {
  const std::string long_text(120, 'n');
  given("mesh_a comment\n'my mesh'\n'it''s'\n\"say \"\"hi\"\", ok\"\nrun/a\n" + long_text +
        "\n'across\r\n lines'\nnext\n'a'b rest\n\"keep 'single' / , marks\"\n  'x'\n");
  EXPECT_EQ(text(), padded("mesh_a"));
  EXPECT_EQ(text(), padded("my mesh"));
  EXPECT_EQ(text(), padded("it's"));
  EXPECT_EQ(text(), padded("say \"hi\", ok"));
  EXPECT_EQ(text(), padded("run"));
  EXPECT_EQ(text(), std::string(100, 'n'));
  EXPECT_EQ(text(), padded("across lines"));  // line ends are not part of the text
  EXPECT_EQ(text(), padded("next"));
  EXPECT_EQ(text(), padded("a"));
  EXPECT_EQ(text(), padded("keep 'single' / , marks"));
  EXPECT_EQ(text(), padded("x"));
}

// A text cut to 100 bytes keeps whole characters: the characters of a
// UTF-8 text counted as such, the bytes of any other.
TEST(TextLength, CutsBetweenCharactersAndCountsThem) {
  const std::string euro = "\xE2\x82\xAC", clef = "\xF0\x9D\x84\x9E";  // 3 and 4 bytes
  const struct {
    std::string text;
    std::size_t written, kept, kept_bytes;
  } table[] = {
      {std::string(100, 'a'), 100, 100, 100},
      {std::string(98, 'a') + euro, 99, 98, 98},   // bytes 99 to 101
      {std::string(97, 'a') + euro, 98, 98, 100},  // ends at byte 100
      {std::string(99, 'a') + clef + "z", 101, 99, 99},
      {std::string(96, 'a') + clef + "z", 98, 97, 100},
      {std::string(99, 'a') + "\xE2\x82", 101, 100, 100},  // not UTF-8: bytes
      {std::string(99, 'a') + "\xC0\x80", 101, 100, 100},  // overlong: bytes
      {"ab" + euro + euro, 4, 4, 8},
  };
  for (const auto& row : table) {
    const TextLength got = utf8_text_length(row.text, kTextLength);
    EXPECT_EQ(got.written, row.written) << row.text;
    EXPECT_EQ(got.kept, row.kept) << row.text;
    EXPECT_EQ(got.kept_bytes, row.kept_bytes) << row.text;
  }
}

// Lines far longer than the read buffer, and a last quoted value at end of file.
TEST_F(ReaderTest, LongLines) {
  const std::string remark(3'000'000, 'r');
  const std::string value(200'000, 'v');
  given("1 " + remark + "\n" + value + " " + remark + "\n  " + std::string(100'000, ' ') +
        "\n2\n'end'");
  EXPECT_EQ(integer(), 1);
  EXPECT_EQ(text(), std::string(100, 'v'));
  EXPECT_EQ(integer(), 2);
  EXPECT_EQ(text(), padded("end"));
}

// ---------------------------------------------------------------------------
// Failures.

TEST_F(ReaderDeathTest, ReportShapeNamesTheLine) {
  given("1\r\n\r\n2.5 remark\r\n");
  EXPECT_EQ(integer(), 1);
  EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
              "^\r\nrun-time error F6503: READ\\(in\\.txt\\)\r\n"
              "- invalid integer '2\\.5' on line 3\r\n$");
}

TEST_F(ReaderDeathTest, IntegerFailures) {
  expect_failures(
      {
          {"1e3\n", kErrBadInteger, "invalid integer '1e3' on line 1"},
          {"10.0\n", kErrBadInteger, "invalid integer '10\\.0' on line 1"},
          {"-\n", kErrBadInteger, "invalid integer '-' on line 1"},
          {"2147483648\n", kErrIntegerOverflow, "integer .*'2147483648' on line 1"},
          {"-2147483649\n", kErrIntegerOverflow, "integer .*'-2147483649' on line 1"},
          {"99999999999999999999999\n", kErrIntegerOverflow, "integer .*"},
          {"'5'\n", kErrQuotedNumber, "quoted text '5' where an integer is expected on line 1"},
          {"0*7\n", kErrRepeatCount, "invalid repeat count in '0\\*7' on line 1"},
          {"x*7\n", kErrRepeatCount, "invalid repeat count in 'x\\*7' on line 1"},
          {"*7\n", kErrRepeatCount, "invalid repeat count in '\\*7' on line 1"},
          {"-3*7\n", kErrRepeatCount, "invalid repeat count .*"},
      },
      [&] { integer(); });
}

TEST_F(ReaderDeathTest, RealFailures) {
  expect_failures(
      {
          {"1.0E+400\n", kErrRealOverflow, "real number too large .*'1\\.0E\\+400' on line 1"},
          {"-1.8e308\n", kErrRealOverflow, ".*'-1\\.8e308' on line 1"},
          {"1e99999999999999999999\n", kErrRealOverflow, ".*"},
          {"abc\n", kErrBadReal, "invalid real number 'abc' on line 1"},
          {"1.5x\n", kErrBadReal, "invalid real number '1\\.5x' on line 1"},
          {".\n", kErrBadReal, "invalid real number '\\.' on line 1"},
          {"1.5e\n", kErrBadReal, ".*"},
          {"1.5e+\n", kErrBadReal, ".*"},
          {"1..5\n", kErrBadReal, ".*"},
          {"e5\n", kErrBadReal, ".*"},
          {"1.5E3.0\n", kErrBadReal, ".*"},
          {"inf\n", kErrBadReal, ".*"},
          {"'1.5'\n", kErrQuotedNumber, "quoted text '1\\.5' where a real number is expected .*"},
      },
      [&] { real(); });
}

TEST_F(ReaderDeathTest, EndOfFile) {
  given("");
  EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
              read_report(kErrEndOfFile, "end of file while reading a value \\(line 1\\)"));
  close_unit(kUnit);
  given("7\n\n  \n");
  EXPECT_EQ(integer(), 7);
  EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
              read_report(kErrEndOfFile, "end of file while reading a value \\(line 4\\)"));
  close_unit(kUnit);
  given("'open text\nstill open\n");
  EXPECT_EXIT(text(), ::testing::ExitedWithCode(1),
              read_report(kErrEndOfFile, "end of file inside a quoted text .* line 1"));
  close_unit(kUnit);
  // A missing file is created empty; reading it meets the end of file.
  open_unit(kUnit, "missing.txt");
  EXPECT_EXIT(real(), ::testing::ExitedWithCode(1), "F6501: READ\\(missing\\.txt\\)");
}

// With a hint of what the file must hold, an empty file (a missing one is created empty) is
// reported as such under the same number; a file of empty lines is not.
// A byte-order mark alone is what some editors save for an empty file.
TEST_F(ReaderDeathTest, EmptyFileWithAHintSaysWhatItMustHold) {
  for (const std::string content : {"", "\xEF\xBB\xBF", "\n  \n"}) {
    given_input(content);
    set_empty_file_hint(kUnit, "it must hold one integer");
    EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
                read_report(kErrEndOfFile, content.size() < 4
                                               ? "the file is empty \\(end of file before any "
                                                 "value; .*\\): it must hold one integer"
                                               : "end of file while reading a value \\(line 3\\)"));
    close_unit(kUnit);
  }
}

// One byte-order mark at the very start of an input file is skipped; one
// anywhere else, or in a file opened for writing as well, is text.
TEST_F(ReaderTest, ByteOrderMarkAtTheStartOfAnInputFileIsSkipped) {
  const std::string mark = "\xEF\xBB\xBF";
  given_input(mark + "12\n" + mark + "x\n");
  EXPECT_EQ(integer(), 12);
  EXPECT_EQ(text(), padded(mark + "x"));
  close_unit(kUnit);
  given_input(mark + mark + "x\n");
  EXPECT_EQ(text(), padded(mark + "x"));
  close_unit(kUnit);
  given(mark + "x\n");
  EXPECT_EQ(text(), padded(mark + "x"));
}

TEST_F(ReaderDeathTest, MessagesQuoteLongAndUnprintableValues) {
  given(std::string(50, '9') + "x\n");
  EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
              read_report(kErrBadInteger, "invalid integer '9{40}\\.\\.\\.' on line 1"));
  close_unit(kUnit);
  given("a\x01\xff\n");
  EXPECT_EXIT(integer(), ::testing::ExitedWithCode(1),
              read_report(kErrBadInteger, "invalid integer 'a\\\\x01\\\\xFF' on line 1"));
}

// A failed read assigns nothing: the targets live in memory shared with the
// child that fails.
TEST_F(ReaderDeathTest, NothingAssignedOnFailure) {
  void* shared = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  auto* integer_target = static_cast<std::int32_t*>(shared);
  auto* real_target = reinterpret_cast<double*>(static_cast<char*>(shared) + 8);
  *integer_target = 11;
  *real_target = 2.5;
  given("2147483648\n");
  EXPECT_EXIT(read_integer(kUnit, *integer_target), ::testing::ExitedWithCode(1), "F6504");
  close_unit(kUnit);
  given("1.0E+400\n");
  EXPECT_EXIT(read_real(kUnit, *real_target), ::testing::ExitedWithCode(1), "F6506");
  close_unit(kUnit);
  given("1.5x\n");
  EXPECT_EXIT(read_real(kUnit, *real_target), ::testing::ExitedWithCode(1), "F6505");
  EXPECT_EQ(*integer_target, 11);
  EXPECT_EQ(*real_target, 2.5);
  ::munmap(shared, 4096);
}

TEST_F(ReaderDeathTest, SystemReadError) {
  // A file that can be opened for writing only.
  write_file(dir_ / "wo.txt", "1\n");
  ::chmod((dir_ / "wo.txt").c_str(), 0222);
  ::chmod(dir_.path().c_str(), 0755);
  EXPECT_EXIT(
      {
        test::act_as_ordinary_user();
        open_unit(kUnit, "wo.txt");
        std::int32_t value = 0;
        read_integer(kUnit, value);
      },
      ::testing::ExitedWithCode(1),
      "^\r\nrun-time error F6502: READ\\(wo\\.txt\\)\r\n- error reading the file at line 1: "
      "[^\r\n]+\r\n$");
}

// The conversion runs with the program's floating-point traps enabled.
void read_extremes_under_traps() {
  platform::install_fp_traps();
  double value = 0.0;
  for (int k = 0; k < 4; ++k) read_real(kUnit, value);
  std::exit(value == 0.0 ? 0 : 2);
}

TEST_F(ReaderDeathTest, ConversionRaisesNoTrappedFault) {
  given("1e-310\n1.7976931348623157e308\n4.9e-324\n1e-400\n");
  EXPECT_EXIT(read_extremes_under_traps(), ::testing::ExitedWithCode(0), "");
  close_unit(kUnit);
  given("1e-310\n1.7976931348623157e308\n4.9e-324\n1.8e308\n");
  EXPECT_EXIT(read_extremes_under_traps(), ::testing::ExitedWithCode(1), "F6506: READ");
}

}  // namespace
}  // namespace malha::textio
