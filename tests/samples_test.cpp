// The checks that make a table a set of samples.
#include "samples.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

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
       "d:1: no number on the line, expected 2 values as on line 2 (a "
       "header? try --header)"},
      {{{}, {}, {3}},
       0,
       "d:1: no number on the line, expected 1 value as on line 3 (a "
       "header? try --header)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_samples(c.data, c.first, "d"), c.message);
  // After a header the rows start on line 2.
  EXPECT_EQ(check_samples({{1, 2}, {3}}, 0, "d", 2),
            "d:3: 1 value, expected 2 as on line 2");
}

// A row from a blank line is named as one, with a hint when only blank
// lines follow; a row of text without a number is not blank.
TEST(Samples, NamesBlankLines) {
  struct {
    Table data;
    std::vector<bool> blank;
    std::size_t first_line;
    const char* message;
  } const cases[] = {
      {{{1, 2}, {3, 4}, {}},
       {false, false, true},
       1,
       "d:3: a blank line, expected 2 values as on line 1 (a blank line at "
       "the end?)"},
      {{{1}, {}, {}},
       {false, true, true},
       1,
       "d:2: a blank line, expected 1 value as on line 1 (blank lines at the "
       "end?)"},
      {{{1, 2}, {}, {3, 4}},
       {false, true, false},
       2,
       "d:3: a blank line, expected 2 values as on line 2"},
      {{{1, 2}, {}, {}, {3, 4}},
       {false, true, true, false},
       1,
       "d:2: a blank line, expected 2 values as on line 1"},
      {{{1, 2}, {}},
       {false, false},
       1,
       "d:2: 0 values, expected 2 as on line 1"},
      {{{}, {}, {1, 2}},
       {true, true, false},
       1,
       "d:1: a blank line, expected 2 values as on line 3"},
      {{{}, {1, 2}},
       {false, false},
       1,
       "d:1: no number on the line, expected 2 values as on line 2 (a "
       "header? try --header)"},
      {{{}, {1, 2}},
       {false, false},
       3,
       "d:3: no number on the line, expected 2 values as on line 4"},
      {{{}, {}}, {true, true}, 1, "d: no values on any line"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_samples(c.data, 0, "d", c.first_line, c.blank), c.message);
}

// With --label every row but a blank line's holds the label's place first,
// and the counts leave it out, as the samples do.
TEST(Samples, CountsLeaveTheLabelOut) {
  struct {
    Table data;
    std::vector<bool> blank;
    const char* message;
  } const cases[] = {
      {{{0, 1, 2}, {0, 3}}, {false, false},
       "d:2: 1 value, expected 2 as on line 1"},
      {{{0, 1, 2}, {0, 3, 4}}, {false, false}, ""},
      {{{0, 1, 2}, {}}, {false, true},
       "d:2: a blank line, expected 2 values as on line 1 (a blank line at "
       "the end?)"},
      {{{}, {0, 1, 2}}, {true, false},
       "d:1: a blank line, expected 2 values as on line 2"},
      {{{0}, {0, 1, 2}}, {false, false},
       "d:1: no number on the line, expected 2 values as on line 2 (a "
       "header? try --header)"},
      {{{0}, {0}}, {false, false}, "d: only labels, no feature values"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_samples(c.data, 1, "d", 1, c.blank, true), c.message);
}

// Under --strict the ignored text is an error: the same words with "error",
// and load gives it as its error instead of printing it.
TEST(Samples, StrictIgnoredText) {
  char name[] = "/tmp/samples_test_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string text = "1 2\n3 4 #\n";
  ASSERT_EQ(write(fd, text.data(), text.size()),
            static_cast<ssize_t>(text.size()));
  close(fd);
  const read_result read = read_table(name);
  EXPECT_EQ(ignored_warning("f", read, true),
            "f:2: error: ignored \"#\" after 2 values");
  const loaded strict = load("p", name, {}, true);
  EXPECT_TRUE(strict.rows.empty());
  EXPECT_EQ(strict.error, std::string(name) +
                              ":2: error: ignored \"#\" after "
                              "2 values");
  const loaded lenient = load("p", name, {}, false);
  EXPECT_EQ(lenient.error, "");
  EXPECT_EQ(lenient.rows, (Table{{1, 2}, {3, 4}}));
  EXPECT_EQ(lenient.blank, (std::vector<bool>{false, false}));
  std::remove(name);
}

}  // namespace
