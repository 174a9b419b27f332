// malha: structured, boundary-fitted quadrilateral mesh of the L-shaped region
// (the unit square without its upper-right quarter) for finite-volume solvers.
//
// The run driver: one fixed sequence of stages over the mesh state.
#include "coef.h"
#include "dados.h"
#include "malhas_segmentos.h"
#include "metricas.h"
#include "platform.h"
#include "processamento.h"
#include "solvers.h"
#include "variaveis.h"

int main() {
  using namespace malha;
  platform::install_fp_traps();

  MeshState s;
  read_case_file(s);
  check_case_values(s);
  derive_counters(s);
  check_storage(s);
  allocate_group_a(s);
  build_algebraic_mesh(s);

  s.dksi = 1.0;
  s.deta = 1.0;
  if (s.opt_elliptic == 2) {
    read_elliptic_file(s);
    allocate_group_b(s);
    for (std::int32_t pass = 1; pass <= s.niter; ++pass) {
      compute_metrics(s);
      clear_sources(s);
      compute_coefficients(s);
      gauss_seidel(s.xv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
                   s.nsweep);
      gauss_seidel(s.yv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
                   s.nsweep);
    }
  }

  compute_centroids(s);
  write_mesh_files(s);

  if (s.opt_nest == 2) {
    allocate_group_c(s);
    number_neighbours(s);
    write_nest_files(s);
  }
  return 0;
}
