// The programs' side of a sample of pairs: the command line's options, the
// passes over a data file, and the note that suggests a sample.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "progress.h"
#include "samples.h"
#include "streamed_samples.h"

namespace {

namespace fs = std::filesystem;

// Standard error while the object lives.
struct captured_errors {
  std::ostringstream text;
  std::streambuf* saved = std::cerr.rdbuf(text.rdbuf());
  ~captured_errors() { std::cerr.rdbuf(saved); }
};

// A file in a fresh directory, removed with it.
struct temp_file {
  fs::path dir;
  fs::path path;
  temp_file(const std::string& name, const std::string& text) {
    char pattern[] = "/tmp/sampled_test_XXXXXX";
    dir = mkdtemp(pattern);
    path = dir / name;
    if (name.ends_with(".gz")) {
      gzFile out = gzopen(path.c_str(), "wb");
      gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
      gzclose(out);
    } else {
      std::ofstream(path) << text;
    }
  }
  ~temp_file() { fs::remove_all(dir); }
};

// The first line of what a command line printed, and its status.
struct parsed {
  command cmd;
  std::string first_line;
};

parsed parse(std::vector<std::string> words, program_kind kind) {
  words.insert(words.begin(), "p");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  captured_errors errors;
  parsed p{command_line(static_cast<int>(words.size()), argv.data(), "p", "",
                        kind),
           ""};
  p.first_line = errors.text.str().substr(0, errors.text.str().find('\n'));
  return p;
}

// Each value at its boundary and one past it: status 0 (run) or 2, and
// the first line of the usage error.
struct option_case {
  std::vector<std::string> args;
  program_kind kind;
  int status;
  std::string message;
};

const std::string sample_bad = "' (a whole number of pairs from 1 to 2^63)";
const std::string confidence_bad =
    "' (a number between 0 and 1, both excluded)";
const std::string seed_bad =
    "' (a whole number from 0 to 2^64-1, or \"random\")";
constexpr auto median = program_kind::median;
constexpr auto labelled = program_kind::labelled;

const option_case option_cases[] = {
    {{"--sample", "1"}, median, 0, ""},
    {{"--sample", "0"}, median, 2, "p: bad sample size '0" + sample_bad},
    {{"--sample", "-1"}, median, 2, "p: bad sample size '-1" + sample_bad},
    {{"--sample", "1e3"}, median, 2, "p: bad sample size '1e3" + sample_bad},
    {{"--sample", " 5"}, median, 2, "p: bad sample size ' 5" + sample_bad},
    {{"--sample", "9223372036854775808"}, median, 0, ""},
    {{"--sample", "9223372036854775809"}, labelled, 2,
     "p: bad sample size '9223372036854775809" + sample_bad},
    {{"--sample", "18446744073709551616"}, median, 2,
     "p: bad sample size '18446744073709551616" + sample_bad},
    {{"--sample=", "x"}, median, 2, "p: bad sample size '" + sample_bad},
    {{"--sample"}, median, 2, "p: bad sample size 'd.txt" + sample_bad},
    {{"--sample", "1", "--seed", "0"}, median, 0, ""},
    {{"--sample", "1", "--seed", "18446744073709551615"}, labelled, 0, ""},
    {{"--sample", "1", "--seed", "18446744073709551616"}, median, 2,
     "p: bad seed '18446744073709551616" + seed_bad},
    {{"--sample", "1", "--seed", "-1"}, median, 2, "p: bad seed '-1" + seed_bad},
    {{"--sample", "1", "--seed", "Random"}, median, 2,
     "p: bad seed 'Random" + seed_bad},
    {{"--sample", "1", "--confidence", "0.9999999999999999"}, median, 0, ""},
    {{"--sample", "1", "--confidence", "4.9e-324"}, median, 0, ""},
    {{"--sample", "1", "--confidence", "1"}, median, 2,
     "p: bad confidence '1" + confidence_bad},
    {{"--sample", "1", "--confidence", "0"}, labelled, 2,
     "p: bad confidence '0" + confidence_bad},
    {{"--sample", "1", "--confidence", "-0.5"}, median, 2,
     "p: bad confidence '-0.5" + confidence_bad},
    {{"--sample", "1", "--confidence", "1.5"}, median, 2,
     "p: bad confidence '1.5" + confidence_bad},
    {{"--sample", "1", "--confidence", "nan"}, median, 2,
     "p: bad confidence 'nan" + confidence_bad},
    {{"--sample", "1", "--confidence", "high"}, median, 2,
     "p: bad confidence 'high" + confidence_bad},
    {{"--seed", "3"}, median, 2, "p: option '--seed' needs --sample M"},
    {{"--confidence", "0.9"}, labelled, 2,
     "p: option '--confidence' needs --sample M"},
    {{"--sample", "5"}, program_kind::form, 2,
     "p: option '--sample' is not taken: this width follows a rule that "
     "jumps at thresholds of the spread ratio, so a sampled ratio gives no "
     "meaningful interval of widths (the median and labelled programs take "
     "--sample)"},
};

TEST(SampledOptions, BoundariesAndUsageErrors) {
  for (const option_case& c : option_cases) {
    std::vector<std::string> args = c.args;
    args.push_back("d.txt");
    const parsed p = parse(args, c.kind);
    const std::string shown = c.args[0] + " " + c.args.back();
    EXPECT_EQ(p.cmd.run ? 0 : p.cmd.status, c.status) << shown;
    EXPECT_EQ(p.first_line, c.message) << shown;
  }
}

TEST(SampledOptions, ValuesAndDefaults) {
  const parsed plain = parse({"--sample", "7", "d.txt"}, median);
  EXPECT_EQ(plain.cmd.opts.sample, 7u);
  EXPECT_EQ(plain.cmd.opts.seed, default_seed);
  EXPECT_EQ(plain.cmd.opts.confidence, 0.99);
  const parsed given = parse({"--sample=9223372036854775808", "--seed=42",
                              "--confidence=.9", "d.txt"},
                             labelled);
  EXPECT_EQ(given.cmd.opts.sample, most_draws);
  EXPECT_EQ(given.cmd.opts.seed, 42u);
  EXPECT_EQ(given.cmd.opts.confidence, 0.9);
  // A fresh seed each run: two in a row agree once in 2^64.
  const parsed a = parse({"--sample", "1", "--seed", "random", "d"}, median);
  const parsed b = parse({"--sample", "1", "--seed", "random", "d"}, median);
  EXPECT_TRUE(a.cmd.opts.random_seed);
  EXPECT_NE(a.cmd.opts.seed, b.cmd.opts.seed);
}

// 1000 samples whose values name their row, a NaN-free range known.
std::string numbered_rows(std::size_t n, const char* between = " ") {
  std::string text;
  for (std::size_t k = 0; k < n; ++k)
    text += std::to_string(k % 7) + between + std::to_string(k) + between +
            std::to_string(-0.5 * static_cast<double>(k)) + "\n";
  return text;
}

// The second pass keeps exactly the rows asked for, in order, and only
// the columns that count, plain, compressed and with a label column.
TEST(TwoPasses, KeepExactlyTheWantedRows) {
  struct way {
    const char* name;
    const char* between;
    read_options reading;
    std::size_t first;
  };
  const way ways[] = {{"d.txt", " ", {}, 0},
                      {"d.txt.gz", " ", {}, 0},
                      {"d.csv", ",", {',', 0, 1}, 1},
                      {"d.txt", " ", {0, 0, 1}, 1}};
  const std::size_t n = 1000;
  const std::vector<std::uint64_t> wanted = {0, 1, 2, 499, 500, 998, 999};
  for (const way& w : ways) {
    const temp_file file(w.name, numbered_rows(n, w.between));
    options opts;
    opts.file = file.path.string();
    opts.reading = w.reading;
    captured_errors errors;
    const std::optional<scanned> s = scan_samples("p", opts, w.first);
    ASSERT_TRUE(s) << errors.text.str();
    EXPECT_EQ(s->n, n);
    ASSERT_EQ(s->cols, 3 - w.first) << w.name;
    EXPECT_EQ(s->max[s->cols - 2], 999.0);
    EXPECT_EQ(s->min[s->cols - 1], -499.5);
    EXPECT_FALSE(s->nan);
    std::vector<double> kept;
    ASSERT_TRUE(keep_samples("p", opts, w.first, *s, wanted, kept));
    ASSERT_EQ(kept.size(), wanted.size() * s->cols) << w.name;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
      const double row = static_cast<double>(wanted[k]);
      EXPECT_EQ(kept[k * s->cols + s->cols - 2], row) << w.name;
      EXPECT_EQ(kept[k * s->cols + s->cols - 1], -0.5 * row) << w.name;
      if (w.first == 0) {
        EXPECT_EQ(kept[k * 3], wanted[k] % 7);
      }
    }
    EXPECT_EQ(errors.text.str(), "");
  }
}

// A file that changes between the passes is an error, not wrong rows.
TEST(TwoPasses, FileChangedBetweenThem) {
  const temp_file file("d.txt", "1 2\n3 4\n5 6\n");
  options opts;
  opts.file = file.path.string();
  const std::optional<scanned> s = scan_samples("p", opts, 0);
  ASSERT_TRUE(s);
  std::ofstream(file.path) << "1 2\n3 4\n";
  captured_errors errors;
  std::vector<double> kept;
  EXPECT_FALSE(keep_samples("p", opts, 0, *s, std::vector<std::uint64_t>{0},
                            kept));
  EXPECT_EQ(errors.text.str(),
            "p: " + opts.file +
                ": changed between passes over it (a sample of pairs "
                "reads it once to count its samples, then again for the "
                "rows it needs, in as many passes as memory asks)\n");
}

// The first pass gives the messages and the verdict that reading the
// whole file gives, bad input or not: the same text, FILE:LINE.
TEST(TwoPasses, SameMessagesAsTheWholeRead) {
  struct input {
    std::string text;
    read_options reading;
    std::size_t first;
    bool strict;
  };
  const input inputs[] = {
      {"1 2\n3 4\n", {}, 0, false},
      {"1 2\n3\n", {}, 0, false},
      {"1 2\n3 4\n\n", {}, 0, false},
      {"1 2\n\n\n", {}, 0, false},
      {"1 2\n\n3 4\n", {}, 0, false},
      {"\n1 2\n", {}, 0, false},
      {"x y\n1 2\n", {}, 0, false},
      {"1 2\n3 4 5\n6 7\n", {}, 0, false},
      {"1,2\n3,x\n", {',', 0, 0}, 0, false},
      {"1,2\n\"3\",4\n", {',', 0, 0}, 0, false},
      {"1 2\r3 4\r", {}, 0, false},
      {"1 2,5\n3 4,5\n", {}, 0, false},
      {"1 2,5\n3 4,5\n", {}, 0, true},
      {"a 1\nb\n", {0, 0, 1}, 1, false},
      {"a 1\nb 2\n", {0, 0, 2}, 1, false},
      {"1\n", {}, 0, false},
      {"1\n", {}, 0, true},
      {"", {}, 0, false},
      {"7\n8\n", {}, 1, false},
      {"1 1e999\n2 3\n", {}, 0, false},
  };
  for (const input& in : inputs) {
    const temp_file file("d.txt", in.text);
    options opts;
    opts.file = file.path.string();
    opts.reading = in.reading;
    opts.strict = in.strict;
    std::string whole, scan;
    bool whole_ok = false, scan_ok = false;
    {
      captured_errors errors;
      whole_ok = read_samples("p", opts, in.first).has_value();
      whole = errors.text.str();
    }
    {
      captured_errors errors;
      scan_ok = scan_samples("p", opts, in.first).has_value();
      scan = errors.text.str();
    }
    EXPECT_EQ(scan_ok, whole_ok) << in.text;
    EXPECT_EQ(scan, whole) << in.text;
  }
}

// The note: its text, and the decision exactly at a minute and past it.
TEST(SamplingNote, AtAMinuteAndPast) {
  EXPECT_EQ(sampling_note("p", 6000000000, 1e8), "");  // 60 s exactly
  EXPECT_EQ(sampling_note("p", 6100000000, 1e8),
            "p: note: the 6100000000 pairs will take about 61 s (1e+08 a "
            "second); --sample 1000000 gives an estimate with an interval "
            "in seconds");
  EXPECT_EQ(sampling_note("p", 100, 0.0).substr(0, 44),
            "p: note: the 100 pairs will take about inf d");
  EXPECT_EQ(sampling_note("p", 4999950000, 3.3e6),
            "p: note: the 4999950000 pairs will take about 25 min (3.3e+06 "
            "a second); --sample 1000000 gives an estimate with an interval "
            "in seconds");
}

TEST(SamplingNote, Durations) {
  const std::pair<double, const char*> table[] = {
      {0, "0 s"},          {89.4, "89 s"},         {90, "2 min"},
      {5399, "90 min"},    {5400, "1.5 h"},        {172799, "48.0 h"},
      {172800, "2.0 days"}};
  for (const auto& [seconds, text] : table)
    EXPECT_EQ(duration_text(seconds), text) << seconds;
}

}  // namespace
