// The fast path for the output files, and its lists of blocks: the same
// records, assembled directly by the put_ functions of textio (no format text
// compiled per record) into blocks of many records, each block handed to its
// unit as one write. The files do not depend on each other, so while this
// thread writes one block a helper thread renders the next; the blocks reach
// every unit in the order of the plain loops, and the first write to each
// unit (which truncates an existing file) comes in the same order as there,
// so a file that cannot be written stops the run with the same report and the
// same files left behind. Only this thread calls textio.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "files/layout.h"
#include "files/records_fast.h"

namespace malha {

namespace {

using fast_records::Block;
using fast_records::RecordKind;

void add_blocks(std::vector<Block>& blocks, RecordKind kind, int unit, int second_unit,
                std::int64_t first, std::int64_t last) {
  const std::int64_t per_block =
      std::max<std::int64_t>(1, fast_records::kBlockBytes / fast_records::record_bytes(kind));
  for (std::int64_t a = first; a <= last; a += per_block)
    blocks.push_back({kind, unit, second_unit, a, std::min(last, a + per_block - 1)});
}

}  // namespace

// The block lists of the two file sets; false, with nothing written, when the
// storage for the list or the pipeline cannot be had.
bool write_mesh_records_fast(const MeshState& s, int threads) {
  const int mesh = unit_of(OutputFile::Mesh), corners = unit_of(OutputFile::Corners),
            centroids = unit_of(OutputFile::Centroids),
            plot_centroids = unit_of(OutputFile::PlotCentroids);
  std::vector<Block> blocks;
  try {
    blocks.push_back({RecordKind::MeshHeader, mesh, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, mesh, 0, 1, s.nvert);
    add_blocks(blocks, RecordKind::Outlines, unit_of(OutputFile::Outlines), 0, 1, s.nvol);
    // Files 3, 5 and 7: the first volume in the order of the plain loop, so
    // that the three units are first written in the same order; then each file
    // on its own (5 and 7 are the same bytes).
    blocks.push_back({RecordKind::Corners, corners, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, centroids, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, plot_centroids, 0, 1, 1});
    add_blocks(blocks, RecordKind::Corners, corners, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::CentroidPairs, centroids, plot_centroids, 2, s.nvol);
    add_blocks(blocks, RecordKind::ExtendedCorners, unit_of(OutputFile::ExtendedCorners), 0, 1,
               s.nvol);
    add_blocks(blocks, RecordKind::ExtendedPairs, unit_of(OutputFile::ExtendedCentroids), 0, 1,
               s.nvolf);
    if (s.controls) {  // after the mesh set, as the plain records write it
      const int controls = unit_of(OutputFile::Controls);
      blocks.push_back({RecordKind::ControlHeader, controls, 0, 0, 0});
      add_blocks(blocks, RecordKind::ControlPairs, controls, 0, 1, s.nvert);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return fast_records::write_blocks(s, blocks, threads);
}

bool write_nest_records_fast(const MeshState& s, int threads) {
  const int centroids = unit_of(OutputFile::NestCentroids), areas = unit_of(OutputFile::NestAreas),
            nest = unit_of(OutputFile::Nest);
  std::vector<Block> blocks;
  try {
    add_blocks(blocks, RecordKind::Neighbours, unit_of(OutputFile::NestNeighbours), 0, 1, s.nvol);
    add_blocks(blocks, RecordKind::NestCorners, unit_of(OutputFile::NestCorners), 0, 1, s.nvol);
    blocks.push_back({RecordKind::CentroidPairs, centroids, 0, 1, 1});
    blocks.push_back({RecordKind::Areas, areas, 0, 1, 1});
    add_blocks(blocks, RecordKind::CentroidPairs, centroids, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::Areas, areas, 0, 2, s.nvol);
    blocks.push_back({RecordKind::NestHeader, nest, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, nest, 0, 1, s.nvert);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return fast_records::write_blocks(s, blocks, threads);
}

}  // namespace malha
