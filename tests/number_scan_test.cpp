// The exact fast path of scan_value (mantissa and power of ten both exact)
// against strtod, on tokens around the edges of that path.
#include "number_scan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

void expect_as_strtod(const std::string& token) {
  double value = 0.0;
  const char* stop =
      scan_value(token.data(), token.data() + token.size(), value);
  ASSERT_EQ(stop, token.data() + token.size()) << token;
  EXPECT_EQ(bits(value), bits(std::strtod(token.c_str(), nullptr))) << token;
}

TEST(ScanFast, EdgesOfTheExactPath) {
  for (const char* token : {"0",
                            "-0",
                            "+0.0",
                            "-0e5",
                            "9007199254740992",
                            "9007199254740993",
                            "-9007199254740993.5",
                            "1e22",
                            "1e23",
                            "1.5e-22",
                            "3e-23",
                            "1234567890123456789",
                            "12345678901234567890",
                            "0.1",
                            "-.5",
                            "5.",
                            "00000000000000000000001",
                            "1.00000000000000000000",
                            "4.35e+02",
                            "2.2250738585072014e-308",
                            "1e-400",
                            "123456.789e-5"})
    expect_as_strtod(token);
}

TEST(ScanFast, GeneratedDecimalsMatchStrtod) {
  std::mt19937_64 gen(5);
  std::uniform_int_distribution<int> length(1, 21);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int k = 0; k < 100000; ++k) {
    std::string token = k % 2 ? "-" : "";
    const int digits = length(gen);
    const int point = std::uniform_int_distribution<int>(0, digits)(gen);
    for (int d = 0; d < digits; ++d) {
      if (d == point) token += '.';
      token += static_cast<char>('0' + digit(gen));
    }
    if (k % 3 == 0) token += "e" + std::to_string(exponent(gen));
    expect_as_strtod(token);
  }
}

}  // namespace
