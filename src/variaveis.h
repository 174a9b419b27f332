// Mesh state: the counters and the 1-based arrays through which every stage
// of a run communicates.
//
// Numbering used everywhere (and in every output file):
//   vertex (i, j)          k = (j-1)*nxv + i,   1 <= i <= nxv, 1 <= j <= nyv
//   real volume (i, j)     v = (j-1)*nx + i,    1 <= i <= nx,  1 <= j <= ny
//   extended volume (I, J) w = (J-1)*nxf + I,   real volume (i, j) is w = j*nxf + i + 1
// ksi (i) varies fastest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "option_flags.h"

namespace malha {

// Zeroed block of `count` elements of `element_size` bytes; ends the run with a
// report when the storage cannot be had. Release with std::free.
void* allocate_zeroed(const char* name, std::int64_t count, std::size_t element_size);

// Ends the run with the allocation report for storage other than the mesh
// arrays (output buffers, texts) that could not be had while `stage` ran.
[[noreturn]] void fail_working_storage(const char* stage);

// One contiguous block of n elements addressed a(1) .. a(n). Storage is
// obtained once and zero-filled; it lives until the state is destroyed.
template <class T>
class Array1 {
 public:
  Array1() = default;
  Array1(const Array1&) = delete;
  Array1& operator=(const Array1&) = delete;
  ~Array1() { std::free(p_); }

  void allocate(const char* name, std::int64_t n) {
    std::free(p_);
    p_ = static_cast<T*>(allocate_zeroed(name, n, sizeof(T)));
    n_ = n;
  }

  T& operator()(std::int64_t k) { return p_[k - 1]; }
  const T& operator()(std::int64_t k) const { return p_[k - 1]; }

  // Pointer to element 1: data()[k - 1] is element k.
  T* data() { return p_; }
  const T* data() const { return p_; }
  std::int64_t size() const { return n_; }

 private:
  T* p_ = nullptr;
  std::int64_t n_ = 0;
};

// Calls visit(k) for every interior vertex k of an nxv by nyv grid, j outside
// and i inside: the order of every loop over the interior.
template <class Visit>
void for_each_interior_vertex(std::int32_t nxv, std::int32_t nyv, Visit visit) {
  for (std::int32_t j = 2; j <= nyv - 1; ++j)
    for (std::int32_t i = 2; i <= nxv - 1; ++i) visit(static_cast<std::int64_t>(j - 1) * nxv + i);
}

// Stores values[n] as entry k of arrays[n], for every n.
template <std::size_t N>
void store_at(std::int64_t k, Array1<double>* const (&arrays)[N], const double (&values)[N]) {
  for (std::size_t n = 0; n < N; ++n) (*arrays[n])(k) = values[n];
}

// A 2-D table of rows x 4 or 4 x columns, addressed table(row, column), both
// 1-based, stored as one contiguous block. The four entries that belong to one
// volume are always adjacent: for conn/connf (volume rows x 4 corners) the
// column varies fastest, for nbr (4 faces x volume columns) the row does.
template <class T>
class Table2 {
 public:
  enum class Fastest { Column, Row };

  Table2() = default;
  Table2(const Table2&) = delete;
  Table2& operator=(const Table2&) = delete;
  ~Table2() { std::free(p_); }

  void allocate(const char* name, std::int64_t rows, std::int64_t cols, Fastest fastest) {
    std::free(p_);
    p_ = static_cast<T*>(allocate_zeroed(name, rows * cols, sizeof(T)));
    rows_ = rows;
    cols_ = cols;
    fastest_ = fastest;
  }

  T& operator()(std::int64_t r, std::int64_t c) { return p_[offset(r, c)]; }
  const T& operator()(std::int64_t r, std::int64_t c) const { return p_[offset(r, c)]; }

  bool allocated() const { return p_ != nullptr; }

 private:
  std::int64_t offset(std::int64_t r, std::int64_t c) const {
    return fastest_ == Fastest::Column ? (r - 1) * cols_ + (c - 1) : (c - 1) * rows_ + (r - 1);
  }

  T* p_ = nullptr;
  std::int64_t rows_ = 0;
  std::int64_t cols_ = 0;
  Fastest fastest_ = Fastest::Column;
};

// Length of the case name as read from the case file (blank-filled).
inline constexpr std::size_t kCaseNameLength = 100;

struct MeshState {
  // Case file.
  std::string case_name = std::string(kCaseNameLength, ' ');
  // Characters of the name as the file has it, and of those kept: the
  // whole characters in the first kCaseNameLength bytes. Fewer kept when it
  // was cut (the run then warns).
  std::size_t case_name_written = 0, case_name_kept = 0;
  // The warning lines about values of the input files read in part (a
  // decimal comma, a '/' in an unquoted name), as they are read.
  std::string input_warnings;
  std::int32_t nx = 0, ny = 0;
  std::int32_t opt_elliptic = 0, opt_nest = 0;

  // Derived once, right after the case file is read.
  std::int32_t nxv = 0, nyv = 0;  // vertices along ksi and eta
  std::int32_t nxf = 0, nyf = 0;  // volumes along ksi and eta, fictitious ring included
  std::int32_t nvol = 0, nvolf = 0, nvert = 0;

  // Exponent of the grading toward the re-entrant corner (--grade); 1 leaves
  // the algebraic mesh as the formulas place it.
  double grading = 1.0;

  // Elliptic-generation parameters.
  std::int32_t nsweep = 0;
  std::int32_t niter = 0;
  double dksi = 0.0;
  double deta = 0.0;
  std::int32_t opt_psrc = 0;
  std::int32_t opt_qsrc = 0;
  // psrc and qsrc hold the control functions of --control (controls.h): no
  // pass clears them, whatever opt_psrc and opt_qsrc say.
  bool controls = false;

  // Group A: always allocated, right after the case file is read.
  Array1<double> xv, yv;        // nvert
  Table2<std::int32_t> conn;    // nvol x 4: conn(v, c)
  Table2<std::int32_t> connf;   // nvolf x 4: connf(w, c), real-volume rows only
  Array1<double> area, xc, yc;  // nvol
  Array1<double> xcf, ycf;      // nvolf, fictitious ring included

  // Group B: only with elliptic smoothing (option_on(opt_elliptic)).
  Array1<double> xksi, yksi, xeta, yeta;
  Array1<double> alpha, beta, gamma, jac;
  Array1<double> ae, aw, an, as, ane, anw, ase, asw, ap;
  Array1<double> psrc, qsrc;

  // Group C: only with the nest files (option_on(opt_nest)).
  Table2<std::int32_t> nbr;  // 4 x nvol: nbr(f, v), 0 for none
};

// Computes nxv, nyv, nxf, nyf, nvol, nvolf and nvert from nx and ny.
void derive_counters(MeshState& s);

// Bytes of storage the run's arrays take: group A, group B when smoothing is
// selected, group C when the nest files are.
std::int64_t storage_bytes(const MeshState& s);

// Ends the run with a report, before anything is allocated, when the storage
// the run needs is more than the machine's memory.
void check_storage(const MeshState& s);

// Group allocations, each in the order a run makes them.
void allocate_group_a(MeshState& s);
void allocate_group_b(MeshState& s);
void allocate_group_c(MeshState& s);

}  // namespace malha
