// A build without the CGNS library: --cgns is refused before anything is
// read (main.cpp asks cgns_supported()).
#include "report/checks/records.h"
#include "report/exports/exports.h"

namespace malha::report {

bool cgns_failed() {
  return false;
}

bool cgns_supported() {
  return false;
}

void write_cgns(const std::filesystem::path& file, const std::string&, const Mesh&,
                const CellTable&) {
  fail(file.string(), 0, "a build with the CGNS library", "none");
}

}  // namespace malha::report
