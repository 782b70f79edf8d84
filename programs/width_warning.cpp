#include "width_warning.h"

#include <cmath>
#include <cstdint>

#include "messages.h"

namespace {

const char* const coincide = "every distance is 0 (all samples coincide)";

// Why dividing by the chosen row's divisor gave no usable width.
std::string divisor_doubt(const std::string& place, double divisor) {
  const std::string where = "the divisor on " + place + " is ";
  if (std::isnan(divisor)) return where + "not a number";
  if (divisor == 0) return where + "0";
  if (divisor < 0) return where + "negative";
  if (std::isinf(divisor)) return where + "infinite";
  return "";
}

// Why form's width is 0 (or -0) for two samples or more.
std::string form_zero_doubt(const kernel_width::form_width_result& r,
                            const std::string& place, double divisor) {
  using kernel_width::form_rule;
  if (r.mean == 0) return coincide;
  if (r.variance == 0) return "the variance is zero";
  if (r.rule == form_rule::low_ratio) return "variance / 2.6 underflowed";
  if (r.rule == form_rule::high_ratio) return "variance * ratio underflowed";
  const std::string why = divisor_doubt(place, divisor);
  return why.empty() ? "variance / divisor underflowed" : why;
}

}  // namespace

std::string form_width_doubt(const kernel_width::form_width_result& r,
                             const std::string& place, double divisor) {
  using kernel_width::form_rule;
  // One sample's zero variance gives 0, which its own warning explains.
  if (r.zero_width) return r.n < 2 ? "" : form_zero_doubt(r, place, divisor);
  if ((std::isfinite(r.width) && !(r.width < 0)) || r.n == 0) return "";
  if (!std::isfinite(r.mean)) return "the distances overflowed";
  if (!std::isfinite(r.variance))
    return "the squared deviations from the mean overflowed";
  if (r.rule == form_rule::table) {
    const std::string why = divisor_doubt(place, divisor);
    if (!why.empty()) return why;
  }
  if (r.variance == 0) return "the variance is zero";
  if (r.rule == form_rule::high_ratio) return "variance * ratio overflowed";
  return "variance / divisor overflowed";
}

std::string labelled_width_doubt(const kernel_width::labelled_statistics& l) {
  if (l.n < 2) return "";
  if (l.zero_width) {
    if (l.total == 0) return coincide;
    return l.mean == 0 ? "the mean distance underflowed"
                       : "2 * mean^2 underflowed";
  }
  if (std::isfinite(l.width)) return "";
  if (!std::isfinite(l.total)) return "the distances overflowed";
  return "2 * mean^2 overflowed";
}

// Why the width 2 v^2 of a distance v (the median, or a quantile `name`)
// is 0, with how many of the pairs are at distance 0.
std::string zero_distance_doubt(double v, const char* name, std::uint64_t pairs,
                                std::uint64_t zero_pairs) {
  if (v != 0) return std::string("2 * ") + name + "^2 underflowed";
  if (zero_pairs == pairs) return coincide;
  if (zero_pairs == 0)  // not counted
    return "at least half of the pairs are at distance 0";
  return std::to_string(zero_pairs) + " of the " + std::to_string(pairs) +
         " pairs are at distance 0";
}

std::string median_width_doubt(const kernel_width::median_statistics& m) {
  if (m.pairs == 0) return "";
  if (m.zero_width)
    return zero_distance_doubt(m.median, "median", m.pairs, m.zero_pairs);
  if (std::isfinite(m.width)) return "";
  if (std::isnan(m.median)) return "the data hold NaN or infinity";
  if (!std::isfinite(m.median)) return "the distances overflowed";
  return "2 * median^2 overflowed";
}

std::string quantile_width_doubt(const kernel_width::selection& s,
                                 const kernel_width::quantile& q) {
  if (s.pairs == 0) return "";
  if (q.zero_width)
    return zero_distance_doubt(q.value, "q", s.pairs, s.zero_pairs);
  if (std::isfinite(q.width)) return "";
  if (s.nan_pairs > 0) return "the data hold NaN or infinity";
  if (!std::isfinite(q.value)) return "the distances overflowed";
  return "2 * q^2 overflowed";
}

std::string width_warning(const std::string& name, double width,
                          const std::string& why, bool strict,
                          const std::string& subject) {
  const std::string shown = width_text(width);
  const std::string what = width == 0           ? shown
                           : std::isfinite(width) ? "negative (" + shown + ")"
                                                  : "not finite (" + shown + ")";
  return name + ": " + warning_word(strict) + ": " + subject + " is " + what +
         ": " + why;
}

bool check_width(const char* program, const options& opts, double width,
                 const std::string& why) {
  if (why.empty()) return true;
  warn(program, width_warning(shown_name(opts.file), width, why, opts.strict));
  return !opts.strict;
}
