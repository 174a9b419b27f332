// CASE_controle.txt: the control functions malha --control smoothed the mesh
// with, read so that the report can name them and measure the convergence
// with the equations they make.
#include <cstdint>
#include <string>
#include <string_view>

#include "report/checks/file_checks.h"

namespace malha::report {

namespace {

// The kinds of control functions and the names the report gives them.
std::string_view kind_name(std::int32_t kind) {
  return kind == kCornerControls ? "corner" : "";
}

// The sizes record: nxv and nyv those of CASE.txt, and a kind the report knows.
void read_control_header(RecordReader& in, const CaseFiles& files, Mesh& mesh) {
  const int width = file_layout(OutputFile::Controls).header.width;
  const std::string_view r = in.require([] { return std::string("the header record nxv nyv kind"); });
  in.expect_fields(r, file_layout(OutputFile::Controls).header.repeat, width);
  const std::int32_t nxv = in.integer(r, 0, width), nyv = in.integer(r, 1, width);
  if (nxv != mesh.nxv || nyv != mesh.nyv)
    in.fail_here("nxv = " + std::to_string(mesh.nxv) + " and nyv = " + std::to_string(mesh.nyv) +
                     ", those of " + files.bare_name(OutputFile::Mesh),
                 "nxv = " + std::to_string(nxv) + ", nyv = " + std::to_string(nyv));
  const std::int32_t kind = in.integer(r, 2, width);
  if (kind_name(kind).empty())
    in.fail_here("the kind of the control functions, " + std::to_string(kCornerControls) +
                     " (those at the outer corner)",
                 std::to_string(kind));
  if (!mesh.smoothed())
    in.fail_here("control functions beside a smoothed mesh",
                 "control functions beside the algebraic mesh of " +
                     files.bare_name(OutputFile::Mesh) + " (opt = " +
                     std::to_string(mesh.opt_elliptic) + ")");
  mesh.controls = kind;
}

}  // namespace

std::string_view control_kind_name(std::int32_t kind) {
  return kind_name(kind);
}

void read_controls(const CaseFiles& files, Mesh& mesh) {
  if (!platform::file_exists(files.path(OutputFile::Controls))) return;
  RecordReader in = open_records(files, OutputFile::Controls);
  read_control_header(in, files, mesh);
  mesh.psrc.reserve(static_cast<std::size_t>(mesh.vertices()));
  mesh.qsrc.reserve(static_cast<std::size_t>(mesh.vertices()));
  for (std::int64_t k = 1; k <= mesh.vertices(); ++k) {
    const std::string_view r = in.require([&] {
      return "P and Q of vertex " + std::to_string(k) + " of " + std::to_string(mesh.vertices()) +
             " (nxv x nyv)";
    });
    // The fields read are finite numbers: one past the doubles is no number.
    in.expect_fields(r, 2, kRealWidth);
    mesh.psrc.push_back(in.real(r, 0));
    mesh.qsrc.push_back(in.real(r, 1));
  }
  in.expect_end(1 + mesh.vertices());
}

}  // namespace malha::report
