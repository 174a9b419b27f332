// The table of the output files (files/layout.h) against what the rest of
// the program does with it: the widths and record lengths read from each
// format's text at compile time are the ones the format compiler gives, and
// the help text names every file of the table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/layout.h"
#include "support.h"
#include "textio.h"

namespace malha {
namespace {

// `fields` items of the format's kind, each as wide as its field allows.
std::vector<textio::Item> items_for(const Format& format, int fields) {
  const textio::Item item =
      format.kind == 'I' ? textio::Item(std::int32_t{-7}) : textio::Item(-1.25e-300);
  return std::vector<textio::Item>(static_cast<std::size_t>(fields), item);
}

class Layout : public ::testing::TestWithParam<FileLayout> {};

TEST_P(Layout, RecordLengthsAreTheFormatCompilersOwn) {
  const FileLayout& f = GetParam();
  const std::string record = textio::render_records(f.record.text, items_for(f.record, f.fields));
  EXPECT_EQ(static_cast<std::int64_t>(record.size()), f.record_bytes()) << record;
  EXPECT_EQ(record.find('*'), std::string::npos) << "a field too narrow: " << record;
  if (f.has_header()) {
    const std::string sizes =
        textio::render_records(f.header.text, items_for(f.header, f.header.repeat));
    EXPECT_EQ(static_cast<std::int64_t>(sizes.size()), f.header_bytes()) << sizes;
  }
}

TEST_P(Layout, HelpTextNamesTheFile) {
  static const std::string help = [] {
    const test::TempDir dir;
    return test::run_program(MALHA_EXE, dir.path(), {}, {"--help"}).stdout_text;
  }();
  const FileLayout& f = GetParam();
  const std::string name = (f.after_case_name ? "CASE" : "") + std::string(f.name);
  EXPECT_NE(help.find(" " + name), std::string::npos) << name << " is not in malha --help";
}

INSTANTIATE_TEST_SUITE_P(OutputFiles, Layout, ::testing::ValuesIn(kOutputFiles),
                         [](const auto& info) {
                           std::string name(info.param.name);
                           for (char& c : name)
                             if (c == '.' || c == '_') c = 'X';
                           return "File" + name;
                         });

}  // namespace
}  // namespace malha
