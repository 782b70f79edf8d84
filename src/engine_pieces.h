// What the sums' engine functions share: blocks packed for the kernels,
// and memory failures as error values.
#pragma once

#include <new>
#include <stdexcept>

#include "kernel_width/engine_sums.h"
#include "packed.h"

namespace kernel_width::detail {

// A block's rows packed, every column.
inline packed pack_view(const matrix_view& m) {
  return pack(m.data, m.rows, m.cols, m.stride == 0 ? m.cols : m.stride, 0);
}

// work(), an error, or error::out_of_memory when memory runs out.
template <class Work>
error engine_guarded(Work work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return error::out_of_memory;
  } catch (const std::length_error&) {
    return error::out_of_memory;
  }
}

}  // namespace kernel_width::detail
