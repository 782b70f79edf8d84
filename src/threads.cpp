#include "threads.h"

#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace kernel_width::detail {

std::vector<std::size_t> share(std::size_t units, unsigned parts,
                               unsigned part) {
  std::vector<std::size_t> mine;
  for (std::size_t round = 0; round * parts < units; ++round) {
    const std::size_t first = round * parts;
    const std::size_t unit = first + (round % 2 == 0 ? part : parts - 1 - part);
    if (unit < units) mine.push_back(unit);
  }
  return mine;
}

unit_source in_order(const std::vector<std::size_t>& units,
                     std::atomic<std::size_t>& next) {
  return [&units, &next](std::size_t& unit) {
    const std::size_t j = next.fetch_add(1, std::memory_order_relaxed);
    if (j >= units.size()) return false;
    unit = units[j];
    return true;
  };
}

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
