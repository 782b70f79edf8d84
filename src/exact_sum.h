// Exact sums of ordered non-negative terms, added on the grid of the
// running sum instead of one dependent addition after another.
//
// A finite double s >= 0 below 2^(e+1) and at least 2^e (or below 2^-1021,
// with e = -1022) is k * u for an integer k, where u = 2^(e-52). While the
// running sum stays in that binade, adding a term x >= 0 adds round(x / u)
// to k, and a tie (x / u exactly halfway between two integers) goes to the
// neighbour that makes k even. So terms add up as integers, in any order and
// on any core; only the ties need the order, through the parity of k.
// Every result here equals the plain chain s + x0 + x1 + ... bit for bit.
#pragma once

#include <cstddef>
#include <optional>

#include "cpu.h"

namespace kernel_width::detail {

// The grid of s: 2^e for the binade above, the constant G for which
// (x + G) - G rounds x to a multiple of u. +inf for s infinite or NaN.
double grid_of(double s);

// The terms of a block rounded to one grid and added up (the kernels'
// record, kernels.h, makes it).
struct grid_record {
  double grid = 0.0;  // grid_of() of the sums it serves
  // The integer sum times u, for an even k; usable only when finite and
  // below grid, where it is exact (+inf otherwise).
  double sum = 0.0;
  double odd = 0.0;  // what an odd k adds: the first tie's other neighbour
                     // (-u, 0 or +u)
};

// s plus the record's terms, when s >= 0 lies on the record's grid and the
// sum stays in the binade of s; nothing otherwise.
std::optional<double> advance(double s, const grid_record& record);

// Terms per block of grid_sum: a block that leaves its binade is added up
// again one term after another.
constexpr std::size_t grid_block = 512;

// s + terms[0] + terms[1] + ... in that order, exactly as the plain chain
// gives it, for terms >= 0 (+inf and NaN included): block by block on the
// grid, plainly where a block leaves the binade or s is not finite.
double grid_sum(isa set, double s, const double* terms, std::size_t count);

}  // namespace kernel_width::detail
