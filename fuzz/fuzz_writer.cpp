// Fuzz target: the format compiler and the record writer. The input is a
// format text up to the first LF, then items of nine bytes each: a tag byte
// (even: integer, odd: real) and eight bytes of value. A write statement must
// either give records (each ended by CR LF, none longer than 1024 characters)
// or end in a WRITE report naming the file, and never raise a trapped
// floating-point fault. Each item is also assembled directly into the fields
// of the output files' formats, which must match the general renderer.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "textio.h"

namespace {
constexpr std::size_t kMaxItems = 300;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  malha::fuzz::install();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace malha;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::string_view format = input.substr(0, lf);
  std::vector<textio::Item> items;
  if (lf != std::string_view::npos) {
    for (std::size_t p = lf + 1; p + 9 <= size && items.size() < kMaxItems; p += 9) {
      std::uint64_t bits = 0;
      std::memcpy(&bits, data + p + 1, 8);
      if (data[p] % 2 == 0) {
        items.emplace_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
      } else {
        double value = 0.0;
        std::memcpy(&value, &bits, 8);
        items.emplace_back(value);
      }
    }
  }

  const fuzz::TrapsOn traps;
  // The direct field assembly of the output files gives the bytes the format
  // machinery gives.
  for (const auto& item : items) {
    char field[32];
    if (item.kind == textio::Item::Kind::Real) {
      const std::string_view fast(field, textio::put_e25_15(field, item.r) - field);
      if (fast != textio::render_real_field(item.r, 25, 15, 2, 1))
        fuzz::broken("E25.15 field assembled directly", fast);
    } else {
      for (const int w : {8, 10}) {
        const std::string_view fast(field, textio::put_integer_field(field, item.i, w) - field);
        if (fast != textio::render_integer_field(item.i, w, 1))
          fuzz::broken("I field assembled directly", fast);
      }
    }
  }
  try {
    const std::string out = textio::render_records(format, items, "fuzz.txt");
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)
      fuzz::broken("records end", out);
    std::size_t start = 0;
    while (start < out.size()) {
      const std::size_t end = out.find("\r\n", start);
      if (end == std::string::npos) fuzz::broken("record without CR LF", out);
      const std::string_view record(out.data() + start, end - start);
      if (record.size() > 1024) fuzz::broken("record too long", record);
      if (record.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        fuzz::broken("stray byte in a record", record);
      start = end + 2;
    }
  } catch (const fuzz::FatalReport& report) {
    fuzz::check_report(report.text, "WRITE", "fuzz.txt");
  }
  return 0;
}
