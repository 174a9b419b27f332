// The parts of the platform layer written once for both platforms, over the
// primitives of each (internal.h): temporary files, and the slots of the
// watched ones.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

namespace {

constexpr int kTemporaryAttempts = 100;

// Six letters and digits for a temporary name, from a generator seeded once
// by the system's random source and the clock; a name already taken is
// simply drawn again.
std::string six_letters() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<std::uint64_t> draws{0};
  static const std::uint64_t seed = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  std::uint64_t x = seed + 0x9E3779B97F4A7C15 * ++draws;  // splitmix64
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EB;
  x ^= x >> 31;
  std::string out(6, 'a');
  for (char& c : out) {
    c = kLetters[x % (sizeof kLetters - 1)];
    x /= sizeof kLetters - 1;
  }
  return out;
}

// The watched names sit in fixed storage, so that a signal handler reads
// them without allocating; a slot is 0 (free), 1 (being written) or 2 (holds
// a name).
constexpr std::size_t kWatchedNameBytes = 4096;
char watched_names[kWatchedFiles][kWatchedNameBytes];
std::atomic<int> watched_state[kWatchedFiles];

}  // namespace

int create_temporary(const std::string& prefix, const std::string& suffix, FileHandle& handle,
                     std::string& name) {
  int error = 0;
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    const std::string candidate = prefix + six_letters() + suffix;
    error = detail::create_new(candidate, handle);
    if (error == 0) {
      name = candidate;
      return 0;
    }
    if (!detail::name_taken(error)) break;
  }
  return error;
}

int watch_temporary(const std::string& name) {
  static std::atomic<bool> installed{false};
  if (name.size() >= kWatchedNameBytes) return -1;
  if (!installed.exchange(true)) detail::on_first_watch();
  for (int k = 0; k < kWatchedFiles; ++k) {
    int expected = 0;
    if (!watched_state[k].compare_exchange_strong(expected, 1)) continue;
    std::memcpy(watched_names[k], name.c_str(), name.size() + 1);
    watched_state[k].store(2, std::memory_order_release);
    return k;
  }
  return -1;
}

void forget_temporary(int slot) {
  if (slot >= 0 && slot < kWatchedFiles) watched_state[slot].store(0, std::memory_order_release);
}

namespace detail {

void remove_watched() {
  for (int k = 0; k < kWatchedFiles; ++k)
    if (watched_state[k].load(std::memory_order_acquire) == 2) remove_now(watched_names[k]);
}

}  // namespace detail

}  // namespace malha::platform
