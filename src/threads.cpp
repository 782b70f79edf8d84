#include "threads.h"

#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace kernel_width::detail {

void run_threads(unsigned threads, const std::function<void(unsigned)>& work) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(threads);
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work, t);
  } catch (const std::system_error&) {  // no more threads to be had
  } catch (const std::bad_alloc&) {
  }
  work(0);
  for (std::thread& t : helpers) t.join();
}

}  // namespace kernel_width::detail
