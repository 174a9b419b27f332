// CASE.cgns through the CGNS library: one base "malha" (cells and space of
// two dimensions) holding one structured zone "mesh" of nxv by nyv vertices
// (i fastest, as CGNS stores them), its coordinates; the six sides as
// boundary conditions over point ranges of vertices; and the solution
// "quality" at the cell centres: every metric of report/measures/metrics.h and the flags
// (Integer, 1 on the cells that have it).
// The case name and sizes are a descriptor of the base.
#include <cgnslib.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "report/checks/records.h"
#include "report/exports/exports.h"
#include "report/measures/metrics.h"
#include "report/measures/sides.h"
#include "report/output_file.h"

namespace malha::report {

namespace {

// Cells of the quality fields computed and written at a time.
constexpr std::int64_t kBlockCells = std::int64_t{1} << 16;

bool library_failed = false;

// The library's messages are taken by cg_get_error where a call fails; it
// prints none of its own.
void quiet(int /*is_error*/, char* /*message*/) {}

// The CGNS file of the library, in a ReplacingFile's new file: the library
// opens it by its name and writes it whole; commit() gives it the target's
// name. A failure before leaves the target as it was.
class CgnsWriter {
 public:
  explicit CgnsWriter(const std::filesystem::path& target) : file_(target.string()) {
    file_.close_handle();
    (void)cg_configure(CG_CONFIG_ERROR, reinterpret_cast<void*>(&quiet));
    if (cg_open(file_.temporary().c_str(), CG_MODE_WRITE, &fn_) != CG_OK) failed("open");
  }
  ~CgnsWriter() {
    if (fn_ >= 0) (void)cg_close(fn_);  // only on the way out of a failure
  }
  CgnsWriter(const CgnsWriter&) = delete;
  CgnsWriter& operator=(const CgnsWriter&) = delete;

  int file() const { return fn_; }
  // A call of the library: a failure ends the export with its message.
  void check(int status, const char* what) const {
    if (status != CG_OK) failed(what);
  }
  void commit() {
    const int fn = fn_;
    fn_ = -1;
    check(cg_close(fn), "close");
    file_.commit();
  }

 private:
  [[noreturn]] void failed(const char* what) const {
    library_failed = true;
    fail(file_.target(), 0, std::string("the CGNS library's ") + what + " to succeed",
         cg_get_error());
  }
  ReplacingFile file_;
  int fn_ = -1;
};

struct Zone {
  const CgnsWriter& out;
  int base = 0, zone = 0;
};

void write_grid(Zone& z, const std::string& case_name, const Mesh& mesh) {
  const CgnsWriter& w = z.out;
  w.check(cg_base_write(w.file(), "malha", 2, 2, &z.base), "base");
  w.check(cg_goto(w.file(), z.base, "end"), "goto");
  const std::string about = "case " + case_name + ": nx " + std::to_string(mesh.nx) + ", ny " +
                            std::to_string(mesh.ny) + ", nxv " + std::to_string(mesh.nxv) +
                            ", nyv " + std::to_string(mesh.nyv);
  w.check(cg_descriptor_write("case", about.c_str()), "descriptor");
  // Lengths relative to the side of the unit square, of no stated unit.
  w.check(cg_dataclass_write(NormalizedByUnknownDimensional), "data class");
  cgsize_t size[6] = {mesh.nxv, mesh.nyv, mesh.nx, mesh.ny, 0, 0};
  w.check(cg_zone_write(w.file(), z.base, "mesh", size, Structured, &z.zone), "zone");
  // Each coordinate a length: exponent 1 of length, 0 of mass, time,
  // temperature and angle.
  const double length[5] = {0, 1, 0, 0, 0};
  for (const auto& [name, values] :
       {std::pair{"CoordinateX", &mesh.xv}, std::pair{"CoordinateY", &mesh.yv}}) {
    int coordinate = 0;
    w.check(cg_coord_write(w.file(), z.base, z.zone, RealDouble, name, values->data(), &coordinate),
            "coordinates");
    w.check(cg_goto(w.file(), z.base, "Zone_t", z.zone, "GridCoordinates_t", 1, "DataArray_t",
                    coordinate, "end"),
            "goto");
    w.check(cg_exponents_write(RealDouble, length), "exponents");
  }
}

// Each side as a boundary condition over the range of the vertices its
// faces join, of a family of its name (of type BCGeneral): ParaView's CGNS
// reader loads the families' boundary conditions as patches, by name.
void write_sides(const Zone& z, const Mesh& mesh) {
  const CgnsWriter& w = z.out;
  for (const SideInfo& s : side_table()) {
    const SideCells c = side_cells(mesh, s.side);
    const BoundaryFace first = boundary_face(c.first_i, c.first_j, c.face);
    const BoundaryFace last = boundary_face(c.last_i, c.last_j, c.face);
    cgsize_t range[4] = {std::min({first.ai, first.bi, last.ai, last.bi}),
                         std::min({first.aj, first.bj, last.aj, last.bj}),
                         std::max({first.ai, first.bi, last.ai, last.bi}),
                         std::max({first.aj, first.bj, last.aj, last.bj})};
    int family = 0, family_bc = 0, boco = 0;
    w.check(cg_family_write(w.file(), z.base, s.key, &family), "family");
    w.check(cg_fambc_write(w.file(), z.base, family, s.key, BCGeneral, &family_bc),
            "family boundary condition");
    w.check(cg_boco_write(w.file(), z.base, z.zone, s.key, FamilySpecified, PointRange, 2, range,
                          &boco),
            "boundary condition");
    w.check(cg_goto(w.file(), z.base, "Zone_t", z.zone, "ZoneBC_t", 1, "BC_t", boco, "end"),
            "goto");
    w.check(cg_famname_write(s.key), "family name");
  }
}

// One field at the cell centres, rows first_j to last_j at a time.
template <class T, class Value>
void write_field(const Zone& z, int solution, const char* name, DataType_t type, const Mesh& mesh,
                 Value&& value) {
  const std::int32_t rows =
      std::max<std::int32_t>(1, static_cast<std::int32_t>(kBlockCells / mesh.nx));
  std::vector<T> block;
  for (std::int32_t first = 1; first <= mesh.ny; first += rows) {
    const std::int32_t last = std::min(mesh.ny, first + rows - 1);
    block.clear();
    for (std::int32_t j = first; j <= last; ++j)
      for (std::int32_t i = 1; i <= mesh.nx; ++i) block.push_back(value(i, j));
    cgsize_t from[2] = {1, first}, to[2] = {mesh.nx, last};
    int field = 0;
    z.out.check(cg_field_partial_write(z.out.file(), z.base, z.zone, solution, type, name, from, to,
                                       block.data(), &field),
                "field");
  }
}

void write_quality(const Zone& z, const Mesh& mesh, const CellTable& cells) {
  int solution = 0;
  z.out.check(cg_sol_write(z.out.file(), z.base, z.zone, "quality", CellCenter, &solution),
              "solution");
  for (const MetricInfo& entry : metric_table())
    write_field<double>(z, solution, entry.key, RealDouble, mesh,
                        [&](std::int32_t i, std::int32_t j) {
                          return cell_value(mesh, cells, entry.metric, i, j);
                        });
  for (const FlagInfo& flag : flag_table())
    write_field<int>(z, solution, flag.key, Integer, mesh, [&](std::int32_t i, std::int32_t j) {
      const std::size_t v = mesh.cell(i, j);
      return (cells.flags[v] & flag.bit) != 0 ? 1 : 0;
    });
}

}  // namespace

bool cgns_supported() {
  return true;
}

bool cgns_failed() {
  return library_failed;
}

void write_cgns(const std::filesystem::path& file, const std::string& case_name, const Mesh& mesh,
                const CellTable& cells) {
  CgnsWriter out(file);
  Zone z{out};
  write_grid(z, case_name, mesh);
  write_sides(z, mesh);
  write_quality(z, mesh, cells);
  out.commit();
}

}  // namespace malha::report
