#include "width_warning.h"

#include <cmath>

#include "messages.h"

namespace {

// Why dividing by the chosen row's divisor gave no usable width.
std::string divisor_doubt(const std::string& place, double divisor) {
  const std::string where = "the divisor on " + place + " is ";
  if (std::isnan(divisor)) return where + "not a number";
  if (divisor == 0) return where + "0";
  if (divisor < 0) return where + "negative";
  return "";
}

}  // namespace

std::string form_width_doubt(const kernel_width::form_width_result& r,
                             const std::string& place, double divisor) {
  using kernel_width::form_rule;
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
  if (std::isfinite(l.width) || l.n < 2) return "";
  if (!std::isfinite(l.total)) return "the distances overflowed";
  return "2 * mean^2 overflowed";
}

std::string median_width_doubt(const kernel_width::median_statistics& m) {
  if (std::isfinite(m.width) || m.n < 2) return "";
  if (std::isnan(m.median)) return "the data hold NaN or infinity";
  if (!std::isfinite(m.median)) return "the distances overflowed";
  return "2 * median^2 overflowed";
}

std::string width_warning(const std::string& name, double width,
                          const std::string& why, bool strict) {
  const char* what = std::isfinite(width) ? "negative" : "not finite";
  return name + ": " + warning_word(strict) + ": the width is " + what + " (" +
         width_text(width) + "): " + why;
}

bool check_width(const char* program, const options& opts, double width,
                 const std::string& why) {
  if (why.empty()) return true;
  warn(program, width_warning(shown_name(opts.file), width, why, opts.strict));
  return !opts.strict;
}
