// Work shared out over threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace kernel_width::detail {

// Pairs computed so far, for a progress report; nullptr for none.
using pair_counter = std::atomic<std::uint64_t>;

// Runs work(t) for t = 0..threads-1, each on its own thread (0 on the
// calling thread). A thread that cannot be started is left out, so the
// work must be shared out as the threads ask for it; the calling thread
// always runs.
void run_threads(unsigned threads, const std::function<void(unsigned)>& work);

}  // namespace kernel_width::detail
