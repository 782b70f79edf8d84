// labelled's total over pieces (engine_sums.h): the row sums of bands of
// a packed set, and the lane sums of blocks carried from piece to piece.
#include "kernel_width/engine_sums.h"

#include "cpu.h"

namespace kernel_width {

error engine_ready() noexcept {
  return detail::selected_isa().ok ? error::none : error::unsupported_isa;
}

unsigned engine_threads(unsigned threads) noexcept {
  return threads == 0 ? detail::available_threads() : threads;
}

}  // namespace kernel_width
