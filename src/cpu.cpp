#include "cpu.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kernel_width::detail {

namespace {

struct features {
  bool avx2 = false;
  bool avx512 = false;
};

const features& cpu() {
  static const features f = [] {
    __builtin_cpu_init();
    return features{__builtin_cpu_supports("avx2") != 0,
                    __builtin_cpu_supports("avx512f") != 0};
  }();
  return f;
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
  }
  return "";
}

bool isa_supported(isa set) {
  switch (set) {
    case isa::base:
      return true;
    case isa::avx2:
      return cpu().avx2;
    case isa::avx512:
      return cpu().avx512;
  }
  return false;
}

isa best_isa() {
  if (isa_supported(isa::avx512)) return isa::avx512;
  if (isa_supported(isa::avx2)) return isa::avx2;
  return isa::base;
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

unsigned available_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace kernel_width::detail
