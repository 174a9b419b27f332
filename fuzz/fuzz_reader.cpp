// Fuzz target: the free-format record reader. The first byte chooses the kind
// of each read (two bits per read: integer, real, text, text) and how the
// file starts (its top two bits: as given, or after 65533 blanks, line ends or
// a long remark line, so that values straddle the reader's buffer); the rest
// is the file. Reads go on until the first failure, which must be a READ
// report naming the file.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "textio.h"

namespace {

constexpr int kUnit = 3;
constexpr int kMaxReads = 100000;
constexpr std::size_t kPad = 65533;

std::string file_name;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  malha::fuzz::install();
  file_name = malha::fuzz::scratch_directory() + "/in.txt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace malha;
  if (size == 0) return 0;
  const unsigned control = data[0];
  std::string content;
  switch (control >> 6) {
    case 1:
      content.assign(kPad, ' ');
      break;
    case 2:
      content.assign(kPad, '\n');
      break;
    case 3:
      content = "0 " + std::string(kPad, 'r') + "\r\n";
      break;
    default:
      break;
  }
  content.append(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzz::put_file(file_name.c_str(), content.data(), content.size());

  const fuzz::TrapsOn traps;
  try {
    // As the program opens its input files: a byte-order mark at the start
    // is skipped.
    textio::open_input_unit(kUnit, file_name);
    for (int n = 0; n < kMaxReads; ++n) {
      switch ((control >> (2 * (n % 3))) & 3) {
        case 0: {
          std::int32_t value = 0;
          textio::read_integer(kUnit, value);
          break;
        }
        case 1: {
          double value = 0.0;
          textio::read_real(kUnit, value);
          // A read never yields what a file cannot hold.
          if (!std::isfinite(value)) fuzz::broken("real not finite", content);
          break;
        }
        default: {
          std::string value = "preset";
          const textio::TextLength length = textio::read_text(kUnit, value);
          if (value.size() != textio::kTextLength && value != "preset")
            fuzz::broken("text length", value);
          if (length.kept_bytes > 0 && value.find_last_not_of(' ') + 1 > length.kept_bytes)
            fuzz::broken("text longer than the value kept", value);
          break;
        }
      }
    }
    // Every read moves past at least one record, so the end of the file
    // comes long before this.
    fuzz::broken("reads never reached the end of the file", content);
  } catch (const fuzz::FatalReport& report) {
    fuzz::check_report(report.text, "READ", file_name);
  }
  return 0;
}
