// Micro-benchmarks of the fast paths against the plain reference:
//   - one smoothing pass (metrics, coefficients, x and y sweeps), in updated
//     points per second (interior vertices times sweeps times 2 coordinates);
//   - E25.15 rendering, in nanoseconds per number;
//   - record writing (assembly and buffered writes to a file), in bytes per
//     second.
// Build with -DMALHA_BUILD_BENCH=ON; run build/bench/malha_bench.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "smoothing/passes.h"
#include "textio.h"
#include "variaveis.h"

namespace {

using malha::MeshState;

std::unique_ptr<MeshState> smoothing_mesh(std::int32_t nx, std::int32_t ny, std::int32_t nsweep) {
  auto s = std::make_unique<MeshState>();
  s->nx = nx;
  s->ny = ny;
  s->opt_elliptic = 2;
  malha::derive_counters(*s);
  malha::allocate_group_a(*s);
  malha::build_algebraic_mesh(*s);
  s->dksi = 1.0;
  s->deta = 1.0;
  s->nsweep = nsweep;
  malha::allocate_group_b(*s);
  return s;
}

// Arguments: nx, ny, nsweep, and the path: 0 plain, 1 fast on one thread, 2
// fast on two threads.
void BM_SmoothingPass(benchmark::State& state) {
  auto s = smoothing_mesh(static_cast<std::int32_t>(state.range(0)),
                          static_cast<std::int32_t>(state.range(1)),
                          static_cast<std::int32_t>(state.range(2)));
  const malha::SmoothingOptions options{.fast = state.range(3) != 0,
                                        .threads = static_cast<int>(state.range(3))};
  malha::SmoothingWorkspace workspace;
  for (auto _ : state) {
    malha::smoothing_pass(*s, options, workspace);
    benchmark::DoNotOptimize(s->xv.data());
  }
  const double points = static_cast<double>(s->nxv - 2) * static_cast<double>(s->nyv - 2) *
                        static_cast<double>(s->nsweep) * 2.0;
  state.counters["points/s"] =
      benchmark::Counter(points, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SmoothingPass)
    ->ArgNames({"nx", "ny", "nsweep", "path"})
    ->ArgsProduct({{400}, {200}, {1}, {0, 1, 2}})
    ->ArgsProduct({{1000}, {500}, {10}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::vector<double> sample_values() {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> values(1 << 16);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = i % 4 == 3 ? unit(random) * 1e-6 : unit(random) * (i % 2 == 0 ? 1.0 : -1.0);
  return values;
}

void BM_RenderPlain(benchmark::State& state) {
  const auto values = sample_values();
  std::size_t i = 0;
  for (auto _ : state) {
    auto field = malha::textio::render_real_field(values[i++ & (values.size() - 1)], 25, 15, 2, 1);
    benchmark::DoNotOptimize(field);
  }
  state.SetItemsProcessed(state.iterations());  // the time per iteration is per number
}
BENCHMARK(BM_RenderPlain);

void BM_RenderFast(benchmark::State& state) {
  const auto values = sample_values();
  char field[32];
  std::size_t i = 0;
  for (auto _ : state) {
    malha::textio::put_e25_15(field, values[i++ & (values.size() - 1)]);
    benchmark::DoNotOptimize(field);
  }
  state.SetItemsProcessed(state.iterations());  // the time per iteration is per number
}
BENCHMARK(BM_RenderFast);

// 2^16 records "(2(1P,E25.15))" to a scratch file per iteration: through
// write_record (format compiled per record), or assembled by the put_
// functions and handed to the unit in blocks of 1 MiB.
void BM_RecordWriting(benchmark::State& state) {
  const bool fast = state.range(0) != 0;
  const auto values = sample_values();
  const auto file =
      (std::filesystem::temp_directory_path() / ("malha-bench-" + std::to_string(fast) + ".txt"))
          .string();
  std::vector<char> block(1 << 20);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    malha::textio::open_unit(20, file);
    if (fast) {
      char* p = block.data();
      for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
        p = malha::textio::put_real_pair_record(p, values[i], values[i + 1]);
        if (p - block.data() > static_cast<std::ptrdiff_t>(block.size()) - 64) {
          malha::textio::write_rendered(20, block.data(),
                                        static_cast<std::size_t>(p - block.data()));
          p = block.data();
        }
      }
      malha::textio::write_rendered(20, block.data(), static_cast<std::size_t>(p - block.data()));
    } else {
      for (std::size_t i = 0; i + 1 < values.size(); i += 2)
        malha::textio::write_record(20, "(2(1P,E25.15))", {values[i], values[i + 1]});
    }
    malha::textio::close_unit(20);
    bytes += static_cast<std::int64_t>(values.size() / 2) * 52;
  }
  std::filesystem::remove(file);
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_RecordWriting)->ArgNames({"fast"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
