// The sampled programs end to end where a slip is easy to miss: the
// options' values and which option a message names, the verbose lines of
// two files against the exact run's, the strict rule for sampled zero
// widths, and the trivial ends.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string median_program = MEDIAN_PROGRAM;
const std::string labelled_program = LABELLED_PROGRAM;

// A fresh directory holding the data files, removed with it.
struct data_dir {
  fs::path dir;
  data_dir() {
    char pattern[] = "/tmp/sampled_faults_XXXXXX";
    dir = mkdtemp(pattern);
    write("x.txt", "1 2\n3 4\n5 7\n0 0\n2 9\n");
    write("y.txt", "0 1\n2 2\n8 8\n4 1\n");
    write("e.txt", "");
    write("z.txt", "3 3\n3 3\n3 3\n3 3\n3 4\n");
    write("two.txt", "1 5 5\n2 5 5\n");
    std::string spread;  // distances all different
    for (int k = 0; k < 40; ++k)
      spread += std::to_string(k * k % 37) + " " + std::to_string(k * 1.5) +
                "\n";
    write("s.txt", spread);
  }
  ~data_dir() { fs::remove_all(dir); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name) << text;
  }
};

struct result {
  std::string out, err;
  int status;
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program with the arguments in the data directory.
result run(const data_dir& d, const std::string& program,
           const std::string& args) {
  const std::string cmd = "cd " + d.dir.string() + " && " + program + " " +
                          args + " > out 2> err";
  const int raw = std::system(cmd.c_str());
  return {slurp(d.dir / "out"), slurp(d.dir / "err"),
          WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

// The value of the last "name: value" line, or "".
std::string last_value(const std::string& text, const std::string& name) {
  std::string found;
  for (const std::string& line : split_lines(text))
    if (line.rfind(name + ": ", 0) == 0) found = line.substr(name.size() + 2);
  return found;
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

struct usage_case {
  const char* args;
  const char* message;  // the first line of standard error
};

// Which option a usage error names, and a value read to its end.
const usage_case usage_cases[] = {
    {"--seed 3 --confidence 0.9 x.txt",
     "median_kernel_width: option '--seed' needs --sample M"},
    {"--confidence 0.9 --seed 3 x.txt",
     "median_kernel_width: option '--confidence' needs --sample M"},
    {"--sample 5 --seed 12a x.txt",
     "median_kernel_width: bad seed '12a' (a whole number from 0 to 2^64-1, "
     "or \"random\")"},
    {"--sample 5 --seed=0x1 x.txt",
     "median_kernel_width: bad seed '0x1' (a whole number from 0 to 2^64-1, "
     "or \"random\")"},
    {"--sample 5 --confidence 0.9x x.txt",
     "median_kernel_width: bad confidence '0.9x' (a number between 0 and 1, "
     "both excluded)"},
    {"--sample 5x x.txt",
     "median_kernel_width: bad sample size '5x' (a whole number of pairs "
     "from 1 to 2^63)"},
};

TEST(SampledFaults, UsageErrorsNameTheirOption) {
  const data_dir d;
  for (const usage_case& c : usage_cases) {
    const result r = run(d, median_program, c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(first_line(r.err), c.message) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

// The defaults are seed 0 and confidence 0.99, whatever the spelling;
// seeds up to 2^64 - 1 are shown unsigned.
TEST(SampledFaults, DefaultsAndSpellingsGiveTheSameBytes) {
  const data_dir d;
  for (const std::string& program : {median_program, labelled_program}) {
    const result plain = run(d, program, "-v --sample 40 x.txt");
    const result given =
        run(d, program, "-v --sample=40 --seed=0 --confidence=0.99 x.txt");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out + plain.err, given.out + given.err) << program;
    EXPECT_EQ(last_value(plain.err, "seed"), "0");
    EXPECT_EQ(last_value(plain.err, "confidence"), "0.99");
    EXPECT_EQ(last_value(plain.err, "sample"), "40");
    const result top =
        run(d, program, "-v --sample 40 --seed 18446744073709551615 x.txt");
    EXPECT_EQ(last_value(top.err, "seed"), "18446744073709551615");
    // A different seed draws different pairs: the seed reaches the draws.
    const result other = run(d, program, "-v --sample 40 --seed 1 x.txt");
    EXPECT_NE(plain.err, other.err) << program;
  }
}

// --seed random draws all 64 bits: four seeds below 2^32 happen once in
// 2^128.
TEST(SampledFaults, RandomSeedsUseAllSixtyFourBits) {
  const data_dir d;
  bool high = false;
  for (int k = 0; k < 4; ++k) {
    const result r = run(d, median_program, "-v --sample 3 --seed random x.txt");
    high = high || std::stoull(last_value(r.err, "seed")) > 0xffffffffull;
  }
  EXPECT_TRUE(high);
}

// The verbose lines of a sampled run begin as the exact run's (n, n_y,
// columns), then the estimate's lines, and end with the interval, C, M,
// N, the seed and (quantiles) the ranks, in that order.
TEST(SampledFaults, VerboseLinesOfOneAndTwoFiles) {
  const data_dir d;
  struct verbose_case {
    std::string program, files;
    std::vector<std::string> head;  // the lines before the estimate
    std::string pairs;              // N
  };
  const std::vector<verbose_case> cases = {
      {median_program, "x.txt", {"n: 5", "columns: 2"}, "10"},
      {median_program, "x.txt y.txt", {"n: 5", "n_y: 4", "columns: 2"}, "36"},
      {median_program, "--cross x.txt y.txt", {"n: 5", "n_y: 4", "columns: 2"},
       "20"},
      {median_program, "e.txt y.txt", {"n: 0", "n_y: 4", "columns: 2"}, "6"},
      {labelled_program, "x.txt", {"n: 5", "columns: 1"}, "10"},
  };
  const std::vector<std::string> tail_names = {"low",    "high", "confidence",
                                               "sample", "pairs", "seed"};
  for (const verbose_case& c : cases) {
    const bool median = c.program == median_program;
    const result r = run(d, c.program, "-v --sample 300 --seed 9 " + c.files);
    ASSERT_EQ(r.status, 0) << c.files << r.err;
    std::vector<std::string> lines = split_lines(r.err);
    if (lines.size() && lines[0].find("warning") != std::string::npos)
      lines.erase(lines.begin());
    ASSERT_GE(lines.size(), c.head.size() + 4 + tail_names.size());
    for (std::size_t k = 0; k < c.head.size(); ++k)
      EXPECT_EQ(lines[k], c.head[k]) << c.files;
    // The exact run's head is the same.
    const std::vector<std::string> exact =
        split_lines(run(d, c.program, "-v " + c.files).err);
    for (std::size_t k = 0; k < c.head.size(); ++k)
      EXPECT_EQ(exact.at(k + (exact[0].find("warning") != std::string::npos)),
                c.head[k]);
    const std::size_t end = lines.size() - (median ? 1 : 0);
    for (std::size_t k = 0; k < tail_names.size(); ++k)
      EXPECT_EQ(lines[end - tail_names.size() + k].rfind(tail_names[k] + ": ", 0),
                0u)
          << c.files << ": " << lines[end - tail_names.size() + k];
    EXPECT_EQ(last_value(r.err, "pairs"), c.pairs) << c.files;
    if (median) {
      EXPECT_EQ(lines.back().rfind("ranks: ", 0), 0u) << c.files;
      std::istringstream ranks(last_value(r.err, "ranks"));
      std::uint64_t low = 0, high = 0;
      ranks >> low >> high;
      EXPECT_LE(low, high) << c.files;
      EXPECT_LT(high, 300u) << c.files;
    }
  }
}

// In every output the low end is at most the estimate and the high end at
// least: gamma reverses the widths' order, so its low end is the gamma
// of the high width.
TEST(SampledFaults, EndsAroundTheEstimateInEachOutput) {
  const data_dir d;
  for (const char* output : {"width", "sigma", "gamma"})
    for (const char* how :
         {"s.txt", "-q 0.1 s.txt x.txt", "--cross -q 0.9 s.txt y.txt"}) {
      const std::string args =
          std::string("-v --sample 2000 --output ") + output + " " + how;
      const result r = run(d, median_program, args);
      const double estimate = std::stod(last_value(r.err, output));
      const double low = std::stod(last_value(r.err, "low"));
      const double high = std::stod(last_value(r.err, "high"));
      EXPECT_LE(low, estimate) << args;
      EXPECT_LE(estimate, high) << args;
      EXPECT_LT(low, high) << args;
    }
  const result l = run(d, labelled_program,
                       "-v --sample 2000 --output gamma s.txt");
  const double estimate = std::stod(last_value(l.err, "gamma"));
  EXPECT_LE(std::stod(last_value(l.err, "low")), estimate);
  EXPECT_GE(std::stod(last_value(l.err, "high")), estimate);
}

// A width of 0 from drawn pairs is a warning, and under --strict an error
// (status 1, nothing printed), for the median and for labelled, down to
// two samples.
TEST(SampledFaults, StrictZeroWidths) {
  const data_dir d;
  const result warned = run(d, median_program, "--sample 100 z.txt");
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.out, "0\n");
  EXPECT_NE(warned.err.find("warning: the width is 0: at least"),
            std::string::npos)
      << warned.err;
  const result strict = run(d, median_program, "--strict --sample 100 z.txt");
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.out, "");
  EXPECT_EQ(strict.err.rfind("median_kernel_width: z.txt: error: the width is "
                             "0: at least ",
                             0),
            0u)
      << strict.err;
  const result two =
      run(d, labelled_program, "--strict --sample 10 two.txt");
  EXPECT_EQ(two.status, 1);
  EXPECT_EQ(two.err, "labelled_kernel_width: two.txt: error: the width is 0: "
                     "every drawn distance is 0\n");
}

// A trivial high end of the mean's interval is D widened for the
// rounding of the exact mean, so it lies above an exact diameter: here
// one draw (no variance known) of two samples 5 apart, D = 5 exactly.
TEST(SampledFaults, TrivialHighEndOfTheMeanLiesAboveTheDiameter) {
  const data_dir d;
  d.write("far.txt", "1 0 0\n2 3 4\n");
  const result r =
      run(d, labelled_program, "-v --sample 1 --output sigma far.txt");
  EXPECT_EQ(r.out, "5\n");
  EXPECT_EQ(last_value(r.err, "low"), "0");
  EXPECT_GT(std::stod(last_value(r.err, "high")), 5.0) << r.err;
  EXPECT_LT(std::stod(last_value(r.err, "high")), 5.000001) << r.err;
}

// No samples, no pairs: the sampled run says and prints what the exact
// run does, and exits as it does.
TEST(SampledFaults, NothingToDrawAsTheExactRun) {
  const data_dir d;
  for (const char* files :
       {"e.txt", "e.txt e.txt", "--cross x.txt e.txt", "--cross e.txt y.txt"}) {
    const result exact = run(d, median_program, files);
    const result sampled =
        run(d, median_program, std::string("--sample 7 ") + files);
    EXPECT_EQ(sampled.status, exact.status) << files;
    EXPECT_EQ(sampled.out, exact.out) << files;
    EXPECT_EQ(sampled.err, exact.err) << files;
  }
  const result exact = run(d, labelled_program, "e.txt");
  const result sampled = run(d, labelled_program, "--sample 7 e.txt");
  EXPECT_EQ(sampled.status, exact.status);
  EXPECT_EQ(sampled.out + sampled.err, exact.out + exact.err);
}

}  // namespace
