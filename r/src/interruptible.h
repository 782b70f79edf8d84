// A computation on a thread of its own while R's thread waits and watches
// for an interrupt (Ctrl-C): R may be called from its own thread only, and
// the library's threads never call it.
#pragma once

#include <Rcpp.h>

#include <atomic>
#include <chrono>
#include <future>
#include <system_error>
#include <thread>
#include <utility>

// True when the user has interrupted R. The interrupt is taken: the caller
// signals it again once the computation has stopped.
bool interrupt_pending();

// task on a new thread with SIGINT and SIGTERM blocked there (and in the
// threads it starts), so that R's own thread receives them.
std::thread start_blocking_signals(std::packaged_task<void()> task);

// compute(cancel) while this thread looks for an interrupt every 20 ms.
// On an interrupt the flag stops the library's threads between bands of
// pairs and, once they have stopped, R's interrupt goes on (Rcpp's
// wrapper signals it). Without a thread to be had, compute runs here and
// an interrupt waits for its end.
template <class Compute>
auto interruptible(Compute compute) -> decltype(compute(nullptr)) {
  using result_type = decltype(compute(nullptr));
  std::atomic<bool> cancel{false};
  result_type result{};
  std::packaged_task<void()> task([&] { result = compute(&cancel); });
  const std::future<void> done = task.get_future();
  std::thread worker;
  try {
    worker = start_blocking_signals(std::move(task));
  } catch (const std::system_error&) {
    return compute(nullptr);
  }
  bool interrupted = false;
  while (done.wait_for(std::chrono::milliseconds(20)) !=
         std::future_status::ready)
    if (!interrupted && interrupt_pending()) {
      interrupted = true;
      cancel.store(true);
    }
  worker.join();
  if (interrupted) throw Rcpp::internal::InterruptedException();
  return result;
}
