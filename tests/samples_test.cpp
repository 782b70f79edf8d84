// The checks that make a table a set of samples.
#include "samples.h"

#include <gtest/gtest.h>

namespace {

TEST(Samples, ChecksRowLengthsAndFeatures) {
  struct {
    Table data;
    std::size_t first;
    const char* message;
  } const cases[] = {
      {{}, 0, ""},
      {{{1, 2}, {3, 4}}, 0, ""},
      {{{1, 2}, {3, 4}}, 1, ""},
      {{{1, 2, 3}, {4, 5, 6}, {7, 8}},
       0,
       "d:3: 2 values, expected 3 as on line 1"},
      {{{1}, {2}, {}}, 0, "d:3: 0 values, expected 1 as on line 1"},
      {{{1, 2}, {3}}, 0, "d:2: 1 value, expected 2 as on line 1"},
      {{{}, {}}, 0, "d: no values on any line"},
      {{{}, {}}, 1, "d: no values on any line"},
      {{{1}, {2}}, 1, "d: only labels, no feature values"},
      {{{}, {1, 2}, {3, 4}},
       0,
       "d:2: 2 values, expected 0 as on line 1 (a header on line 1? try "
       "--header)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_samples(c.data, c.first, "d"), c.message);
  // After a header the rows start on line 2.
  EXPECT_EQ(check_samples({{1, 2}, {3}}, 0, "d", 2),
            "d:3: 1 value, expected 2 as on line 2");
}

}  // namespace
