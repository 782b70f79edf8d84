#include "width_warning.h"

#include <cmath>

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

std::string median_width_doubt(const kernel_width::median_statistics& m) {
  if (m.pairs == 0) return "";
  if (m.zero_width) {
    if (m.median != 0) return "2 * median^2 underflowed";
    if (m.zero_pairs == m.pairs) return coincide;
    if (m.zero_pairs == 0)  // not counted
      return "at least half of the pairs are at distance 0";
    return std::to_string(m.zero_pairs) + " of the " +
           std::to_string(m.pairs) + " pairs are at distance 0";
  }
  if (std::isfinite(m.width)) return "";
  if (std::isnan(m.median)) return "the data hold NaN or infinity";
  if (!std::isfinite(m.median)) return "the distances overflowed";
  return "2 * median^2 overflowed";
}

std::string width_warning(const std::string& name, double width,
                          const std::string& why, bool strict) {
  const std::string shown = width_text(width);
  const std::string what = width == 0           ? shown
                           : std::isfinite(width) ? "negative (" + shown + ")"
                                                  : "not finite (" + shown + ")";
  return name + ": " + warning_word(strict) + ": the width is " + what + ": " +
         why;
}

bool check_width(const char* program, const options& opts, double width,
                 const std::string& why) {
  if (why.empty()) return true;
  warn(program, width_warning(shown_name(opts.file), width, why, opts.strict));
  return !opts.strict;
}
