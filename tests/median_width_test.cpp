// How median_kernel_width ends on what the engine found: the error that
// stops it (for the median and for -q alike) or the width it prints.
#include "median_width.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace kw = kernel_width;

struct ending {
  bool quantiles;      // -q 0.5, or the median
  kw::error status;    // what the engine that ran reports
  kw::error other;     // what the engine that did not run holds
  int exit_status;
  const char* message;  // standard error
};

const char* const internal =
    "median_kernel_width: x.txt and y.txt: internal error: the selection did "
    "not narrow\n";

TEST(MedianWidth, EndsOnTheStatusOfTheEngineThatRan) {
  const ending cases[] = {
      {false, kw::error::out_of_memory, kw::error::none, 1,
       "median_kernel_width: x.txt and y.txt: out of memory\n"},
      {true, kw::error::out_of_memory, kw::error::none, 1,
       "median_kernel_width: x.txt and y.txt: out of memory\n"},
      {false, kw::error::internal, kw::error::none, 1, internal},
      {true, kw::error::internal, kw::error::none, 1, internal},
      // The other engine's status is never read.
      {true, kw::error::none, kw::error::out_of_memory, 0, ""},
      {false, kw::error::none, kw::error::internal, 0, ""},
  };
  for (const ending& c : cases) {
    options opts;
    opts.file = "x.txt";
    opts.second = "y.txt";
    median_findings f;
    f.median.pairs = 6;
    f.median.median = 5;
    f.median.width = 50;
    f.selection.pairs = 6;
    if (c.quantiles) {
      opts.quantiles = {0.5};
      f.quantiles.resize(1);
      f.quantiles[0].p = 0.5;
      f.quantiles[0].value = 5;
      f.quantiles[0].width = 50;
    }
    (c.quantiles ? f.selection.status : f.median.status) = c.status;
    (c.quantiles ? f.median.status : f.selection.status) = c.other;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = finish_median(f, opts);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string what = std::string(c.quantiles ? "-q, " : "median, ") +
                             kw::describe(c.status);
    EXPECT_EQ(status, c.exit_status) << what;
    EXPECT_EQ(err, c.message) << what;
    EXPECT_EQ(out, c.exit_status ? "" : "50\n") << what;
  }
}

}  // namespace
