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

// A number the stream would take but that overflows a double is told from
// text that is no number; the largest double and underflow still read.
TEST(OutOfRange, OnlyNumbersBeyondTheLargestDouble) {
  struct {
    const char* text;
    std::size_t length;  // of the out-of-range number; 0 when there is none
  } const cases[] = {
      {"1e308", 0},
      {"1e309", 5},
      {"-1e309", 6},
      {"+1e+400", 7},
      {"1.7976931348623157e308", 0},
      {"1.7976931348623158e308", 0},  // below the midpoint: the largest
      {"1.7976931348623159e308", 22},
      {"1e400x", 5},
      {"1e400 3", 5},
      {"1e-400", 0},
      {"0e99999", 0},
      {"abc", 0},
      {"1e", 0},
      {"-", 0},
  };
  for (const auto& c : cases) {
    const std::string text = c.text;
    const char* end = text.data() + text.size();
    const char* stop = out_of_range(text.data(), end);
    if (c.length == 0) {
      EXPECT_EQ(stop, nullptr) << text;
    } else {
      EXPECT_EQ(stop, text.data() + c.length) << text;
      double value = 7.0;
      EXPECT_EQ(scan_value(text.data(), end, value), nullptr) << text;
    }
  }
  const std::string long_one = "1" + std::string(400, '0') + " 2";
  EXPECT_EQ(out_of_range(long_one.data(), long_one.data() + long_one.size()),
            long_one.data() + 401);
}

}  // namespace
