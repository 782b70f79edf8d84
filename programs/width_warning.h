// The warning for a width that is not finite, negative or 0, with the
// reason as far as the statistics tell it.
#pragma once

#include <string>

#include "command_line.h"
#include "kernel_width/kernel_width.h"

// Why form's width is not finite, negative or 0: "the distances
// overflowed", "the variance is zero", "the divisor on PLACE is 0", "every
// distance is 0 (all samples are equal)", ...; "" when it is none of
// these, or when fewer than two samples (their own warning says why) give
// it. place names the chosen table row ("t.txt:2"), divisor is its
// divisor.
std::string form_width_doubt(const kernel_width::form_width_result& r,
                             const std::string& place, double divisor);

// Why labelled's width is not finite or is 0; "" when it is neither, or
// when fewer than two samples (their own warning says why) leave no pairs.
std::string labelled_width_doubt(const kernel_width::labelled_statistics& l);

// Why the median's width is not finite or is 0 (how many pairs are at
// distance 0); "" when it is neither, or when there are no pairs.
std::string median_width_doubt(const kernel_width::median_statistics& m);

// "name: warning: the width is not finite (inf): why", "... is negative
// (-3.125): why" or "... is 0: why"; "error" for "warning" under strict.
// subject names the width ("the width for p = 0.5").
std::string width_warning(const std::string& name, double width,
                          const std::string& why, bool strict,
                          const std::string& subject = "the width");

// Why a quantile's width is not finite or is 0 (how many pairs are at
// distance 0); "" when it is neither, or when there are no pairs.
std::string quantile_width_doubt(const kernel_width::selection& s,
                                 const kernel_width::quantile& q);

// Prints the warning when there is a doubt about the width. Returns false
// when the run must end (under --strict, where the warning is an error).
bool check_width(const char* program, const options& opts, double width,
                 const std::string& why);
