// The instruction sets the kernels are built for, the one this process
// uses, and the cores it may run on.
#pragma once

#include <string>

namespace kernel_width::detail {

enum class isa {
  base,    // plain x86-64 (SSE2)
  avx2,    // AVX2
  avx512,  // AVX-512F
};

constexpr isa all_isas[] = {isa::base, isa::avx2, isa::avx512};

// "base", "avx2" or "avx512": the names KERNEL_WIDTH_ISA takes.
const char* isa_name(isa set);

// True when this CPU runs set (the CPU is probed once per process).
bool isa_supported(isa set);

// The best set this CPU runs.
isa best_isa();

// The sets this CPU runs, by name: "base, avx2".
std::string supported_isas();

// The set chosen for a value of KERNEL_WIDTH_ISA: the best one when the
// value is null or empty; ok false when the name is unknown or this CPU
// cannot run it (chosen is then the best one).
struct isa_choice {
  isa chosen = isa::base;
  bool ok = true;
};
isa_choice choose_isa(const char* requested);

// choose_isa() of the environment's KERNEL_WIDTH_ISA, read once per
// process: the set every computation uses.
const isa_choice& selected_isa();

// Threads the process may run on (its CPU affinity), at least 1.
unsigned available_threads();

}  // namespace kernel_width::detail
