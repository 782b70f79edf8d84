#include "number_scan.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// strtod's reading of a token from_chars would not take; like the stream, an
// overflow to infinity counts as a failed extraction, noted in `overflow`.
bool convert_slow(const char* first, const char* last, double& value,
                  bool& overflow) {
  const std::string token(first, last);
  char* stop = nullptr;
  const double v = std::strtod(token.c_str(), &stop);
  if (stop != token.c_str() + token.size()) return false;
  overflow = std::isinf(v);
  if (overflow) return false;
  value = v;
  return true;
}

// Powers of ten that doubles hold exactly.
constexpr double exact_tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A token of at most 19 digits, with mantissa m <= 2^53 and decimal exponent
// |e| <= 22, is m * 10^e or m / 10^-e with both operands exact: one correctly
// rounded operation, the value from_chars and strtod give. Others: false.
[[gnu::always_inline]] inline bool convert_fast(bool negative,
                                                std::uint64_t mantissa,
                                                int digits, int exponent,
                                                double& value) {
  if (digits > 19 || mantissa > (std::uint64_t{1} << 53) || exponent < -22 ||
      exponent > 22)
    return false;
  const double m = static_cast<double>(mantissa);
  const double v =
      exponent < 0 ? m / exact_tens[-exponent] : m * exact_tens[exponent];
  value = negative ? -v : v;
  return true;
}

// The stream takes an optional sign, digits with at most one point, and an
// exponent only after a digit; it stops at the first character that does not
// fit and then converts what it took. A token without mantissa digits, or
// with an exponent but no exponent digits, fails as a whole. On failure,
// `stop` is the end of the token when it was one too large for a double.
[[gnu::always_inline]] inline const char* scan(const char* p, const char* end,
                                               double& value,
                                               const char*& stop) {
  const char* token = p;
  const bool negative = p != end && *p == '-';
  if (p != end && (*p == '+' || *p == '-')) ++p;
  if (token != p && *token == '+') ++token;  // from_chars takes no '+'
  std::uint64_t mantissa = 0;
  int digits = 0;    // counted up to 20: more take the slow path
  int fraction = 0;  // digits kept after the point
  bool point = false;
  for (; p != end; ++p) {
    if (is_digit(*p)) {
      if (digits < 20) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        fraction += point;
      }
      digits += digits < 20;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return nullptr;
  int exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* first = p;
    for (; p != end && is_digit(*p); ++p)
      if (exponent < 10000) exponent = exponent * 10 + (*p - '0');
    if (p == first) return nullptr;
    if (down) exponent = -exponent;
  }
  if (convert_fast(negative, mantissa, digits, exponent - fraction, value))
    return p;
#if defined(__cpp_lib_to_chars)  // libc++ before LLVM 20 reads no doubles
  const auto [last, ec] = std::from_chars(token, p, value);
  if (ec == std::errc{} && last == p) return p;
#endif
  bool overflow = false;
  if (convert_slow(token, p, value, overflow)) return p;
  if (overflow) stop = p;
  return nullptr;
}

}  // namespace

const char* scan_value(const char* p, const char* end, double& value) {
  const char* unused = nullptr;
  return scan(p, end, value, unused);
}

const char* out_of_range(const char* p, const char* end) {
  double value = 0.0;
  const char* stop = nullptr;
  return scan(p, end, value, stop) ? nullptr : stop;
}
