// Fuzz target: a whole run from its two input files. The input is the case
// file "entradas.txt" up to the first byte 0x1E, then the parameter file
// "entrada_eq_elipticas.txt". The run goes as the program's own driver makes
// it: read and check the case, check the storage, build the mesh, smooth it,
// write the output files. Sizes are capped so that an input stays small: a
// mesh of more than kMaxVertices vertices stops after the storage check, and
// smoothing makes at most kMaxPasses passes of at most kMaxSweeps sweeps.
//
// The editor is never started: COMSPEC is set longer than any interpreter
// path may be, so every command fails at once, and the run ignores that as it
// ignores every command's result. Floating-point faults, which the program
// traps, are watched as raised flags after each numerical stage: a raised flag
// is where the program would have stopped with its MATH report.
#include <fenv.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "files/dados.h"
#include "fuzz_support.h"
#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "smoothing/coef.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "textio.h"
#include "variaveis.h"

namespace {

constexpr std::int64_t kMaxVertices = 2500;
constexpr std::int32_t kMaxPasses = 3;
constexpr std::int32_t kMaxSweeps = 3;

// Clears the working directory left by the previous input.
void clear_directory() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(".", ec))
    std::filesystem::remove_all(entry.path(), ec);
}

// Runs a numerical stage with the traps held; true when the program would
// have stopped there with its floating-point report.
template <class Stage>
bool faults(Stage&& stage) {
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
  stage();
  const bool raised = fetestexcept(malha::fuzz::kTrappedExceptions) != 0;
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(malha::fuzz::kTrappedExceptions);
  return raised;
}

void run(malha::MeshState& s) {
  using namespace malha;
  read_case_file(s);
  check_case_values(s);
  derive_counters(s);
  check_storage(s);
  if (s.nvert > kMaxVertices) return;
  allocate_group_a(s);
  if (faults([&] { build_algebraic_mesh(s); })) return;

  s.dksi = 1.0;
  s.deta = 1.0;
  if (s.opt_elliptic == 2) {
    read_elliptic_file(s);
    allocate_group_b(s);
    s.nsweep = std::min(s.nsweep, kMaxSweeps);
    const std::int32_t passes = std::min(s.niter, kMaxPasses);
    for (std::int32_t pass = 1; pass <= passes; ++pass) {
      const bool stopped = faults([&] { smoothing_pass(s, SmoothingOptions{.fast = false}); });
      if (stopped) return;
    }
  }
  if (faults([&] { compute_centroids(s); })) return;
  write_mesh_files(s, OutputOptions{});
  if (s.opt_nest == 2) {
    allocate_group_c(s);
    number_neighbours(s);
    write_nest_files(s, OutputOptions{});
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  malha::fuzz::install();
  malha::fuzz::enter_scratch_directory();
  ::setenv("COMSPEC", std::string(261, 'x').c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace malha;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t mark = input.find('\x1e');
  const std::string_view case_text = input.substr(0, mark);
  const std::string_view elliptic_text =
      mark == std::string_view::npos ? std::string_view() : input.substr(mark + 1);
  clear_directory();
  fuzz::put_file("entradas.txt", case_text.data(), case_text.size());
  if (mark != std::string_view::npos)
    fuzz::put_file("entrada_eq_elipticas.txt", elliptic_text.data(), elliptic_text.size());

  const fuzz::TrapsOn traps;
  try {
    MeshState s;
    run(s);
  } catch (const fuzz::FatalReport& report) {
    fuzz::check_report(report.text);
  }
  return 0;
}
