// The pipeline of the fast output records: the blocks rendered into a ring of
// buffers, by this thread alone or with the helper rendering ahead, and
// written in order, each block to its unit in one write.
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "files/records_fast.h"
#include "helper_thread.h"
#include "textio.h"

namespace malha::fast_records {

namespace {

void write_block(const Block& b, const char* data, std::size_t size) {
  textio::write_rendered(b.unit, data, size);
  if (b.second_unit != 0) textio::write_rendered(b.second_unit, data, size);
}

constexpr std::int64_t kSlots = 4;  // buffers of the two-thread pipeline
constexpr auto kBufferBytes =
    static_cast<std::size_t>(kBlockBytes + 2 * record_bytes(RecordKind::Outlines));

// The storage of the block pipeline, had before anything is written: the
// ring of block buffers and each thread's vertex rows. (Storage that failed
// while a block is rendered would leave the other thread waiting for it.)
struct PipelineStorage {
  std::vector<std::unique_ptr<char[]>> buffers;
  std::array<VertexRows, 2> rows;
};

// Storage for `slots` buffers and `threads` sets of vertex rows; false, with
// nothing held, when it cannot be had.
bool get_storage(const MeshState& s, std::int64_t slots, int threads, PipelineStorage& storage) {
  try {
    for (std::int64_t i = 0; i < slots; ++i)
      storage.buffers.push_back(std::make_unique_for_overwrite<char[]>(kBufferBytes));
    for (int k = 0; k < threads; ++k)
      storage.rows[static_cast<std::size_t>(k)].text.resize(
          static_cast<std::size_t>(2 * s.nxv * kPairRecord));
    return true;
  } catch (const std::bad_alloc&) {
    storage = PipelineStorage();
    return false;
  }
}

// Renders and writes the blocks in order on this thread, in one buffer.
void write_blocks_alone(const MeshState& s, const std::vector<Block>& blocks,
                        PipelineStorage& storage) {
  char* const data = storage.buffers[0].get();
  for (const Block& b : blocks) {
    const char* const end = render_block(s, b, data, storage.rows[0]);
    write_block(b, data, static_cast<std::size_t>(end - data));
  }
}

// Renders and writes the blocks in order, the helper rendering blocks ahead
// into the ring of buffers, taking them in order; this thread writes each
// block once it is rendered and, while the next one is not ready yet, renders
// one of those still to be taken itself. False, with nothing written, when
// the job cannot be handed to the helper.
bool write_blocks_together(const MeshState& s, const std::vector<Block>& blocks,
                           PipelineStorage& storage, HelperThread& helper) {
  const auto n = static_cast<std::int64_t>(blocks.size());
  const auto render = [&](std::int64_t i, VertexRows& rows) {
    char* const data = storage.buffers[static_cast<std::size_t>(i % kSlots)].get();
    return static_cast<std::size_t>(
        render_block(s, blocks[static_cast<std::size_t>(i)], data, rows) - data);
  };
  // next: the first block nobody has taken; ready[slot]: the index of the
  // block rendered into that buffer; written: the last block written (kStop
  // tells the helper to give up when this thread leaves early). A block may
  // be taken only once the block before it in the same buffer is written.
  // Changes that the other thread waits for are announced on `signal`.
  constexpr std::int64_t kStop = std::numeric_limits<std::int64_t>::max();
  std::atomic<std::int64_t> next{0};
  std::array<std::atomic<std::int64_t>, kSlots> ready;
  std::array<std::size_t, kSlots> sizes{};
  for (auto& r : ready) r.store(-1);
  std::atomic<std::int64_t> written{-1};
  Signal signal;
  const auto announce = [&](std::atomic<std::int64_t>& value, std::int64_t v) {
    signal.announce([&] { value.store(v); });
  };

  std::optional<HelperJob> job;
  try {
    job.emplace(
        helper,
        [&] {
          for (;;) {
            const std::int64_t i = next.fetch_add(1);
            if (i >= n) return;
            signal.wait([&] { return written.load() >= i - kSlots; });  // kStop passes too
            if (written.load() == kStop) return;
            const auto slot = static_cast<std::size_t>(i % kSlots);
            sizes[slot] = render(i, storage.rows[1]);
            announce(ready[slot], i);
          }
        },
        [&] { announce(written, kStop); });
  } catch (const std::bad_alloc&) {
    return false;
  }

  for (std::int64_t i = 0; i < n; ++i) {
    const auto slot = static_cast<std::size_t>(i % kSlots);
    while (ready[slot].load() != i) {
      // Take the next block if its buffer is free (everything before i is
      // written, so any block below i + kSlots has a free buffer).
      std::int64_t j = next.load();
      if (j < n && j < i + kSlots && next.compare_exchange_strong(j, j + 1)) {
        const auto own = static_cast<std::size_t>(j % kSlots);
        sizes[own] = render(j, storage.rows[0]);
        ready[own].store(j);
        continue;
      }
      if (j < n && j < i + kSlots) continue;  // lost the race for j: look again
      // Block i has been taken by the helper: wait until it is rendered.
      signal.wait([&] { return ready[slot].load() == i; });
    }
    write_block(blocks[static_cast<std::size_t>(i)], storage.buffers[slot].get(), sizes[slot]);
    announce(written, i);
  }
  job->finish();
  return true;
}

}  // namespace

bool write_blocks(const MeshState& s, const std::vector<Block>& blocks, int threads) {
  PipelineStorage storage;
  HelperThread* const helper =
      blocks.size() >= 4 && threads != 1 ? HelperThread::shared() : nullptr;
  if (helper != nullptr && get_storage(s, kSlots, 2, storage) &&
      write_blocks_together(s, blocks, storage, *helper)) {
    return true;
  }
  if (storage.buffers.empty() && !get_storage(s, 1, 1, storage)) return false;
  write_blocks_alone(s, blocks, storage);
  return true;
}

}  // namespace malha::fast_records
