// Fuzz target: the checker of malha-report. The files of a small case as
// malha writes them (nx = 2, ny = 1, smoothed with --control, nest files) are
// put in a scratch folder; the first byte of the input chooses one of them
// and the rest of the input replaces it. The checker must then either accept the case, and the report
// be made from it, or refuse it with one message that names a file of the
// case; any other way out (a crash, a sanitizer finding, another exception,
// a hang) is a finding. An accepted case is also drawn as an SVG map, and its
// convergence figure measured with its control functions.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "report/checks/case_files.h"
#include "smoothing/figure.h"
#include "report/checks/records.h"
#include "report/maps/map.h"
#include "report/measures/region.h"
#include "report/measures/summary.h"
#include "report/report.h"

namespace {

struct CaseFile {
  const char* suffix;
  const char* text;
};

// The case "f" as malha writes it.
constexpr std::array<CaseFile, 11> kFiles = {{
    {".txt",
     "         2         1         3         2         2\r\n"
     "    1.000000000000000E+00    1.000000000000000E+00\r\n"
     "    0.000000000000000E+00    1.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    1.000000000000000E+00    0.000000000000000E+00\r\n"
     "    5.000000000000000E-01    1.000000000000000E+00\r\n"
     "    5.000000000000000E-01    5.000000000000000E-01\r\n"
     "    1.000000000000000E+00    5.000000000000000E-01\r\n"},
    {"_vert.txt",
     "         1         2         5         4\r\n"
     "         2         3         6         5\r\n"},
    {"_vert_fict.txt",
     "         6         1         2         5         4\r\n"
     "         7         2         3         6         5\r\n"},
    {"_cent.txt",
     "    2.222222222222222E-01    6.111111111111111E-01\r\n"
     "    6.111111111111111E-01    2.222222222222222E-01\r\n"},
    {"_cent_fict.txt",
     "    0.000000000000000E+00    1.000000000000000E+00\r\n"
     "    0.000000000000000E+00    5.000000000000000E-01\r\n"
     "    5.000000000000000E-01    0.000000000000000E+00\r\n"
     "    1.000000000000000E+00    0.000000000000000E+00\r\n"
     "    2.500000000000000E-01    1.000000000000000E+00\r\n"
     "    2.222222222222222E-01    6.111111111111111E-01\r\n"
     "    6.111111111111111E-01    2.222222222222222E-01\r\n"
     "    1.000000000000000E+00    2.500000000000000E-01\r\n"
     "    5.000000000000000E-01    1.000000000000000E+00\r\n"
     "    5.000000000000000E-01    7.500000000000000E-01\r\n"
     "    7.500000000000000E-01    5.000000000000000E-01\r\n"
     "    1.000000000000000E+00    5.000000000000000E-01\r\n"},
    {"_nest.txt",
     "       2       1       3       2       2\r\n"
     "    0.000000000000000E+00    1.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    1.000000000000000E+00    0.000000000000000E+00\r\n"
     "    5.000000000000000E-01    1.000000000000000E+00\r\n"
     "    5.000000000000000E-01    5.000000000000000E-01\r\n"
     "    1.000000000000000E+00    5.000000000000000E-01\r\n"},
    {"_nest_conec.txt",
     "       0       2       0       0\r\n"
     "       0       0       0       1\r\n"},
    {"_nest_vert.txt",
     "       1       2       5       4\r\n"
     "       2       3       6       5\r\n"},
    {"_nest_cent.txt",
     "    2.222222222222222E-01    6.111111111111111E-01\r\n"
     "    6.111111111111111E-01    2.222222222222222E-01\r\n"},
    {"_nest_area.txt",
     "    3.750000000000000E-01\r\n"
     "    3.750000000000000E-01\r\n"},
    {"_controle.txt",
     "         3         2         1\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"
     "    0.000000000000000E+00    0.000000000000000E+00\r\n"},
}};

std::string folder;

void put(const CaseFile& file, std::string_view text) {
  malha::fuzz::put_file((folder + "/f" + file.suffix).c_str(), text.data(), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  malha::fuzz::install();
  folder = malha::fuzz::scratch_directory();
  for (const CaseFile& file : kFiles) put(file, file.text);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace malha::report;
  if (size == 0) return 0;
  const CaseFile& chosen = kFiles[data[0] % kFiles.size()];
  put(chosen, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    const CheckedCase checked = read_case({folder, "f"});
    Report r;
    r.files = {folder, "f"};
    r.mesh = &checked.mesh;
    r.cells = &checked.cells;
    r.checked = checked.checked;
    r.quality = summarise(checked.mesh, checked.cells);
    r.verdict = quality_verdict(r.quality);
    if (const std::string fault = region_fault(checked.mesh, checked.cells); !fault.empty())
      r.verdict.failed.push_back({"region", "not the L-shaped region: " + fault});
    const Mesh& m = checked.mesh;
    const malha::Sources sources =
        m.controls != 0 ? malha::Sources{m.psrc.data(), m.qsrc.data()} : malha::Sources{};
    r.convergence =
        malha::convergence_figure(m.xv.data(), m.yv.data(), m.nxv, m.nyv, m.dksi, m.deta, sources);
    if (text_report(r).empty() || json_report(r).empty()) std::abort();
    // The map of any mesh the checks accept: its frame and ticks (huge,
    // tiny or equal coordinates) end, and the picture is written whole.
    const MapPicture picture = map_picture(checked.mesh, checked.cells, Metric::EquiangleSkew, "f");
    write_svg_map(folder + "/f_skew.svg", checked.mesh, picture);
  } catch (const CheckFailure& failure) {
    // Messages name the files with the folder given.
    if (!std::string_view(failure.what()).starts_with(folder + "/f"))
      malha::fuzz::broken("message without the file", failure.what());
  }
  put(chosen, chosen.text);
  return 0;
}
