// How a run does its work, never what it computes or writes. The run driver
// owns the options and hands each stage the part it uses; tests and
// benchmarks build the options they need.
//
// The stages with a fast path (the smoothing pass and the output files) also
// keep the plain one: the straightforward loops that state the rules and
// serve as the reference the fast path is tested against. Both give the same
// bytes.
#pragma once

namespace malha {

struct SmoothingOptions {
  bool fast = true;  // the fast path; false runs the plain operations
  // Threads of the fast path: 0 lets it choose by timing the passes of a
  // large mesh; 1 or 2 force one or two (two only on a machine with more
  // than one core), whatever the size of the mesh.
  int threads = 0;
  bool avx2 = true;  // AVX2 where the processor has it; false keeps SSE2
};

struct OutputOptions {
  bool fast = true;  // blocks rendered ahead by a helper thread; false writes record by record
  // Threads of the fast path: 0 uses the helper where the machine has a
  // second core; 1 keeps to the calling thread (for tests).
  int threads = 0;
};

struct RunOptions {
  SmoothingOptions smoothing;
  OutputOptions output;
  bool progress = true;  // the status line of a long smoothing, on a terminal only
};

}  // namespace malha
