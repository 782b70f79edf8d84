#include "cpu.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kernel_width::detail {

namespace {

struct features {
  bool avx2 = false;
  bool avx512 = false;
};

// What the CPU adds to its architecture's baseline: probed on x86-64 only;
// NEON is part of every aarch64 CPU.
const features& cpu() {
  static const features f = [] {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return features{__builtin_cpu_supports("avx2") != 0,
                    __builtin_cpu_supports("avx512f") != 0};
#else
    return features{};
#endif
  }();
  return f;
}

bool built_here(isa set) {
  return std::find(std::begin(all_isas), std::end(all_isas), set) !=
         std::end(all_isas);
}

}  // namespace

const char* isa_name(isa set) {
  switch (set) {
    case isa::base:
      return "base";
    case isa::avx2:
      return "avx2";
    case isa::avx512:
      return "avx512";
    case isa::neon:
      return "neon";
  }
  return "";
}

bool isa_supported(isa set) {
  if (!built_here(set)) return false;
  switch (set) {
    case isa::base:
    case isa::neon:
      return true;
    case isa::avx2:
      return cpu().avx2;
    case isa::avx512:
      return cpu().avx512;
  }
  return false;
}

isa best_isa() {
  isa best = isa::base;
  for (const isa set : all_isas)
    if (isa_supported(set)) best = set;
  return best;
}

std::string supported_isas() {
  std::string names;
  for (const isa set : all_isas)
    if (isa_supported(set))
      names += (names.empty() ? "" : ", ") + std::string(isa_name(set));
  return names;
}

isa_choice choose_isa(const char* requested) {
  if (requested == nullptr || *requested == '\0') return {best_isa(), true};
  for (const isa set : all_isas)
    if (std::strcmp(requested, isa_name(set)) == 0)
      return {isa_supported(set) ? set : best_isa(), isa_supported(set)};
  return {best_isa(), false};
}

const isa_choice& selected_isa() {
  static const isa_choice choice = choose_isa(std::getenv("KERNEL_WIDTH_ISA"));
  return choice;
}

// The process's affinity where the system has one; elsewhere every
// hardware thread.
unsigned available_threads() {
#if defined(_WIN32)
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) &&
      process != 0)
    return static_cast<unsigned>(std::popcount(process));
#elif defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace kernel_width::detail
