// The instruction sets the kernels are built for, the one this process
// uses, and the cores it may run on.
#pragma once

#include <string>

namespace kernel_width::detail {

// Every set named on any machine; a machine builds and runs only its own
// (all_isas).
enum class isa {
  base,    // the portable kernels: SSE2 on x86-64, generic vectors elsewhere
  avx2,    // x86-64: AVX2
  avx512,  // x86-64: AVX-512F
  neon,    // aarch64: Advanced SIMD
};

// The sets of this machine's architecture, from the plainest up: the names
// KERNEL_WIDTH_ISA takes here.
#if defined(__x86_64__)
constexpr isa all_isas[] = {isa::base, isa::avx2, isa::avx512};
#elif defined(__aarch64__)
constexpr isa all_isas[] = {isa::base, isa::neon};
#else
constexpr isa all_isas[] = {isa::base};
#endif

// "base", "avx2", "avx512" or "neon".
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
