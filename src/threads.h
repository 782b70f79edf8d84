// Work shared out over threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace kernel_width::detail {

// Pairs computed so far, for a progress report.
using pair_counter = std::atomic<std::uint64_t>;

// What a caller may watch and stop: the pairs computed so far, and a flag
// that, once set (from any thread), stops the computation between bands of
// pairs. Either may be null.
struct run_control {
  pair_counter* done = nullptr;
  const std::atomic<bool>* cancel = nullptr;

  bool cancelled() const {
    return cancel && cancel->load(std::memory_order_relaxed);
  }
  void add(std::uint64_t pairs) const {
    if (done) done->fetch_add(pairs, std::memory_order_relaxed);
  }
};

// Runs work(t) for t = 0..threads-1, each on its own thread (0 on the
// calling thread). A thread that cannot be started is left out, so the
// work must be shared out as the threads ask for it; the calling thread
// always runs.
void run_threads(unsigned threads, const std::function<void(unsigned)>& work);

}  // namespace kernel_width::detail
