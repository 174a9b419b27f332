#include "variaveis.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>

#include "platform.h"
#include "textio.h"

namespace malha {

namespace {

// Reports a failed allocation of `count` elements of `element_size` bytes for
// the array `name` and ends the run with exit status 1.
[[noreturn]] void fail_allocation(const char* name, std::int64_t count, std::size_t element_size) {
  const double mib = static_cast<double>(count) * static_cast<double>(element_size) / 1048576.0;
  std::string message = "not enough memory for array " + std::string(name) + " (" +
                        std::to_string(count) + " elements, " + std::to_string(std::llround(mib)) +
                        " MiB)";
  textio::fatal_error(textio::kErrAllocate, textio::Statement::Allocate, name, message);
}

}  // namespace

void* allocate_zeroed(const char* name, std::int64_t count, std::size_t element_size) {
  if (count < 0) fail_allocation(name, count, element_size);
  // Never ask for an empty block: a zero-sized array still gets a distinct address.
  const std::size_t n = count == 0 ? 1 : static_cast<std::size_t>(count);
  void* p = std::calloc(n, element_size);
  if (p == nullptr) fail_allocation(name, count, element_size);
  return p;
}

void fail_working_storage(const char* stage) {
  textio::fatal_error(textio::kErrAllocate, textio::Statement::Allocate, stage,
                      std::string("not enough memory for the working storage of the ") + stage);
}

void derive_counters(MeshState& s) {
  s.nxf = s.nx + 2;
  s.nyf = s.ny + 2;
  s.nvol = s.nx * s.ny;
  s.nxv = s.nx + 1;
  s.nyv = s.ny + 1;
  s.nvolf = s.nxf * s.nyf;
  s.nvert = s.nxv * s.nyv;
}

namespace {

// Group B: the arrays of the smoothing, one double per vertex each, in the
// order a run allocates them.
struct SmoothingArray {
  Array1<double> MeshState::*array;
  const char* name;
};
constexpr SmoothingArray kSmoothingArrays[] = {
    {&MeshState::xksi, "xksi"}, {&MeshState::yeta, "yeta"},   {&MeshState::yksi, "yksi"},
    {&MeshState::xeta, "xeta"}, {&MeshState::beta, "beta"},   {&MeshState::gamma, "gamma"},
    {&MeshState::jac, "jac"},   {&MeshState::alpha, "alpha"}, {&MeshState::ae, "ae"},
    {&MeshState::aw, "aw"},     {&MeshState::an, "an"},       {&MeshState::as, "as"},
    {&MeshState::ane, "ane"},   {&MeshState::anw, "anw"},     {&MeshState::ase, "ase"},
    {&MeshState::asw, "asw"},   {&MeshState::ap, "ap"},       {&MeshState::qsrc, "qsrc"},
    {&MeshState::psrc, "psrc"}};

}  // namespace

std::int64_t storage_bytes(const MeshState& s) {
  const std::int64_t d = sizeof(double), i = sizeof(std::int32_t);
  const std::int64_t nvert = s.nvert, nvol = s.nvol, nvolf = s.nvolf;
  std::int64_t bytes = 2 * nvert * d + 3 * nvol * d + 2 * nvolf * d + 4 * nvol * i + 4 * nvolf * i;
  if (option_on(s.opt_elliptic)) {
    bytes += static_cast<std::int64_t>(std::size(kSmoothingArrays)) * nvert * d;
  }
  if (option_on(s.opt_nest)) bytes += 4 * nvol * i;
  return bytes;
}

void check_storage(const MeshState& s) {
  const std::uint64_t memory = platform::physical_memory_bytes();
  const std::int64_t needed = storage_bytes(s);
  if (memory == 0 || static_cast<std::uint64_t>(needed) <= memory) return;
  constexpr double kMiB = 1048576.0;
  textio::fatal_error(
      textio::kErrAllocate, textio::Statement::Allocate, "mesh",
      "nx = " + std::to_string(s.nx) + " and ny = " + std::to_string(s.ny) + " need " +
          std::to_string(static_cast<std::int64_t>(static_cast<double>(needed) / kMiB)) +
          " MiB of storage, more than the " +
          std::to_string(static_cast<std::int64_t>(static_cast<double>(memory) / kMiB)) +
          " MiB of memory this machine has");
}

void allocate_group_a(MeshState& s) {
  using Fastest = Table2<std::int32_t>::Fastest;
  s.yv.allocate("yv", s.nvert);
  s.xc.allocate("xc", s.nvol);
  s.yc.allocate("yc", s.nvol);
  s.xcf.allocate("xcf", s.nvolf);
  s.ycf.allocate("ycf", s.nvolf);
  s.conn.allocate("conn", s.nvol, 4, Fastest::Column);
  s.connf.allocate("connf", s.nvolf, 4, Fastest::Column);
  s.area.allocate("area", s.nvol);
  s.xv.allocate("xv", s.nvert);
}

void allocate_group_b(MeshState& s) {
  for (const SmoothingArray& a : kSmoothingArrays) (s.*a.array).allocate(a.name, s.nvert);
}

void allocate_group_c(MeshState& s) {
  s.nbr.allocate("nbr", 4, s.nvol, Table2<std::int32_t>::Fastest::Row);
}

}  // namespace malha
