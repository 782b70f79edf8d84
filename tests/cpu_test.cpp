// The instruction set chosen from KERNEL_WIDTH_ISA's value.
#include "cpu.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

namespace detail = kernel_width::detail;
using detail::isa;

TEST(Cpu, BaselineAlwaysRunsAndBestIsSupported) {
  EXPECT_TRUE(detail::isa_supported(isa::base));
  EXPECT_TRUE(detail::isa_supported(detail::best_isa()));
  EXPECT_GE(detail::available_threads(), 1u);
  EXPECT_EQ(detail::supported_isas().rfind("base", 0), 0u);
}

TEST(Cpu, ChoiceFromTheEnvironmentValue) {
  const isa best = detail::best_isa();
  const struct {
    const char* value;
    bool ok;
    isa chosen;
  } cases[] = {
      {nullptr, true, best},     {"", true, best},
      {"base", true, isa::base}, {"BASE", false, best},
      {"avx", false, best},      {"avx2 ", false, best},
      {"sse2", false, best},     {"avx5120", false, best},
  };
  for (const auto& c : cases) {
    const detail::isa_choice got = detail::choose_isa(c.value);
    EXPECT_EQ(got.ok, c.ok) << (c.value ? c.value : "(null)");
    EXPECT_EQ(got.chosen, c.chosen) << (c.value ? c.value : "(null)");
  }
  // A set is taken exactly when this CPU runs it; another architecture's
  // (neon on x86-64, avx2 on aarch64) never is.
  for (const isa set : {isa::avx2, isa::avx512, isa::neon}) {
    const detail::isa_choice got = detail::choose_isa(detail::isa_name(set));
    EXPECT_EQ(got.ok, detail::isa_supported(set)) << detail::isa_name(set);
    EXPECT_EQ(got.chosen, got.ok ? set : best) << detail::isa_name(set);
  }
}

}  // namespace
