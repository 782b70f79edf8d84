#include "deal_bands.h"

#include <mpi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "ranks.h"

namespace {

using kernel_width::run_control;
using kernel_width::unit_source;

constexpr int ask_tag = 71;   // a rank's threads, or 0 for "no more"
constexpr int deal_tag = 72;  // a band_range; count 0: none is left

// Waits for request, sleeping `nap` between polls: the rank's threads
// need the core more than MPI does, and on a virtual machine each wake-up
// costs them more than its own time.
void wait_for(MPI_Request& request, MPI_Status* status,
              std::chrono::microseconds nap) {
  for (int done = 0;;) {
    MPI_Test(&request, &done, status);
    if (done) return;
    std::this_thread::sleep_for(nap);
  }
}

// Rank 0 waits for requests all along, and another rank asks while it has
// bands left to compute, so rank 0 can answer slowly; the asking rank
// waits briefly for the answer.
constexpr std::chrono::microseconds dealer_nap{1000};
constexpr std::chrono::microseconds asker_nap{50};

// Rank 0's: the bands not dealt yet, largest first.
struct dealer {
  std::mutex lock;
  std::size_t bands = 0;
  const std::function<std::uint64_t(std::size_t)>* pairs = nullptr;
  std::uint64_t next = 0;
  std::uint64_t left = 0;     // pairs not dealt yet
  std::uint64_t threads = 1;  // over all ranks
};

// One band for one of rank 0's threads.
bool take_one(dealer& d, std::size_t& band) {
  const std::lock_guard<std::mutex> hold(d.lock);
  if (d.next == d.bands) return false;
  band = d.next++;
  d.left -= (*d.pairs)(band);
  return true;
}

// For a rank of `threads` threads: its threads' part of half the pairs
// left, at least one band, so that the ranges shrink as the end nears and
// the ranks finish together.
band_range take_range(dealer& d, std::uint64_t threads) {
  const std::lock_guard<std::mutex> hold(d.lock);
  const std::uint64_t aim = d.left / (2 * d.threads) * threads;
  band_range range{d.next, 0};
  std::uint64_t pairs = 0;
  while (d.next < d.bands && (range.count == 0 || pairs < aim)) {
    pairs += (*d.pairs)(d.next++);
    ++range.count;
  }
  d.left -= pairs;
  return range;
}

// Answers the other ranks until each has been told that none is left.
void deal(dealer& d, dealt& out, const run_control& control) {
  for (int open = ranks() - 1; open > 0;) {
    std::uint64_t threads = 0;
    MPI_Request request;
    MPI_Status status;
    MPI_Irecv(&threads, 1, MPI_UINT64_T, MPI_ANY_SOURCE, ask_tag,
              MPI_COMM_WORLD, &request);
    wait_for(request, &status, dealer_nap);
    const band_range range = threads ? take_range(d, threads) : band_range{};
    if (range.count == 0)
      --open;
    else
      out.ranges[static_cast<std::size_t>(status.MPI_SOURCE)].push_back(range);
    std::uint64_t pairs = 0;
    for (std::uint64_t b = range.first; b < range.first + range.count; ++b)
      pairs += (*d.pairs)(b);
    control.add(pairs);
    MPI_Send(&range, 2, MPI_UINT64_T, status.MPI_SOURCE, deal_tag,
             MPI_COMM_WORLD);
    count_sent(sizeof range);
  }
}

// Another rank's: the bands fetched and not started yet.
struct feed {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<band_range> queue;
  std::uint64_t queued = 0;   // bands in queue
  std::uint64_t threads = 1;  // this rank's
  std::uint64_t low = 1;      // fewer left than this: fetch more
  bool last = false;          // rank 0 has none left
  bool stopped = false;       // compute returned before the last band
};

// One band for one of this rank's threads, waiting for the main thread to
// fetch it if need be.
bool take_fetched(feed& f, std::size_t& band) {
  std::unique_lock<std::mutex> hold(f.lock);
  f.changed.wait(hold, [&] { return f.queued > 0 || f.last; });
  if (f.queued == 0) return false;
  band_range& front = f.queue.front();
  band = front.first++;
  if (--front.count == 0) f.queue.pop_front();
  if (--f.queued < f.low) f.changed.notify_all();
  return true;
}

// Asks rank 0 for more whenever this rank's threads run low, until it has
// none left; the ranges got go to mine, in order.
void fetch(feed& f, std::vector<band_range>& mine) {
  for (;;) {
    std::uint64_t threads = 0;
    {
      std::unique_lock<std::mutex> hold(f.lock);
      f.changed.wait(hold, [&] { return f.queued < f.low || f.stopped; });
      threads = f.stopped ? 0 : f.threads;
    }
    MPI_Send(&threads, 1, MPI_UINT64_T, 0, ask_tag, MPI_COMM_WORLD);
    count_sent(sizeof threads);
    band_range range;
    MPI_Request request;
    MPI_Irecv(&range, 2, MPI_UINT64_T, 0, deal_tag, MPI_COMM_WORLD, &request);
    wait_for(request, MPI_STATUS_IGNORE, asker_nap);
    {
      const std::lock_guard<std::mutex> hold(f.lock);
      f.queue.push_back(range);
      f.queued += range.count;
      f.last = range.count == 0;
    }
    f.changed.notify_all();
    if (range.count == 0) return;
    mine.push_back(range);
  }
}

// Runs work on a thread of its own; false when no thread could be had.
bool start(std::thread& thread, const std::function<void()>& work) {
  try {
    thread = std::thread(work);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

dealt deal_bands(std::size_t bands,
                 const std::function<std::uint64_t(std::size_t)>& band_pairs,
                 unsigned threads,
                 const std::function<void(const unit_source&)>& compute,
                 const run_control& control) {
  dealt out;
  out.ranges.resize(static_cast<std::size_t>(ranks()));
  std::uint64_t all = threads;
  MPI_Allreduce(MPI_IN_PLACE, &all, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
  count_sent(sizeof all);
  dealer d;
  d.bands = bands;
  d.pairs = &band_pairs;
  for (std::size_t b = 0; b < bands; ++b) d.left += band_pairs(b);
  d.threads = std::max<std::uint64_t>(all, 1);
  feed f;
  f.threads = std::max(threads, 1u);
  f.low = 2 * f.threads;
  const unit_source next =
      root() ? unit_source([&](std::size_t& b) { return take_one(d, b); })
             : unit_source([&](std::size_t& b) { return take_fetched(f, b); });
  std::atomic<int> status{step_ok};
  const std::function<void()> work = [&] {
    status = guarded([&] { compute(next); });
    const std::lock_guard<std::mutex> hold(f.lock);
    f.stopped = true;
    f.changed.notify_all();
  };
  std::thread thread;
  const bool started = start(thread, work);
  if (root()) {
    deal(d, out, control);
  } else {
    if (!started) f.stopped = true;
    fetch(f, out.ranges[static_cast<std::size_t>(rank())]);
  }
  // Without a thread of its own, rank 0 computes the bands no other rank
  // took, and another rank none (its results are zeros).
  if (!started) work();
  if (started) thread.join();
  out.status = status;
  return out;
}
