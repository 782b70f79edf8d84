// The same NaN on every machine. An invalid operation on operands that are
// not NaN (0 / 0, inf - inf, the root of a negative number) gives the
// machine's default NaN: -NaN on x86-64, +NaN on ARM and most others, and
// printf shows the sign. Where a result can come from one, the library
// gives x86-64's; a NaN carried over from an operand stays as it is, as on
// x86-64. Private to the library.
#pragma once

#include <bit>
#include <cmath>

namespace kernel_width::detail {

inline constexpr double x86_default_nan =
    std::bit_cast<double>(0xfff8000000000000);

// result, computed from a and b; x86-64's default NaN in place of another
// machine's when neither a nor b was NaN. Needed on x86-64 too: a compiler
// that folds 0.0 / 0.0 of constants (clang does) gives +NaN there.
inline double same_nan(double result, double a, double b = 0.0) {
  return std::isnan(result) && !std::isnan(a) && !std::isnan(b)
             ? x86_default_nan
             : result;
}

}  // namespace kernel_width::detail
