// Runs the built programs on fixture files in a fresh temporary directory and
// checks standard output, standard error and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cpu.h"

namespace {

namespace fs = std::filesystem;

const char* const form = FORM_PROGRAM;
const char* const labelled = LABELLED_PROGRAM;
const char* const median = MEDIAN_PROGRAM;
const char* const shell = "/bin/sh";
const char* const groff = GROFF_PROGRAM;  // "" skips the case

struct Case {
  std::string name;
  const char* program;
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> files;
  std::string out;  // a trailing "..." matches any rest
  std::string err;
  int status;
  std::string stdout_path = "";  // instead of a captured file
  std::string stdin_text = "";   // fed through a pipe
  std::size_t memory_limit = 0;  // RLIMIT_AS of the run, bytes
  std::string isa = "";          // KERNEL_WIDTH_ISA of the run, when set
};

std::string lines(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + '\n';
  return text;
}

std::string repeat(const std::string& text, int count) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text;
  return all;
}

// The MPI program's line in the installed tree, where it was built.
std::string mpi_program(const std::string& name) {
  return MPI_PROGRAMS ? "./bin/" + name + "_kernel_width_mpi\n" : "";
}

// 200 zeros and a one: spread ratio just below 0.01.
const std::string low_spread = lines("0", 200) + "1\n";

// The 102 unit vectors of 102 columns: spread ratio 101.
std::string unit_vectors() {
  std::string text;
  for (int i = 0; i < 102; ++i)
    for (int c = 0; c < 102; ++c)
      text += c == i ? "1" : "0", text += c == 101 ? '\n' : ' ';
  return text;
}

// 300 samples of 3 columns, for thread counts: enough rows for several
// blocks of work, and a count that is not a multiple of 8.
std::string spread_samples() {
  std::string text;
  char line[96];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n",
                  (i * 37 % 101) / 7.0, (i * 53 % 89) / 3.0 - 10,
                  (i * i % 17) * 0.25);
    text += line;
  }
  return text;
}

// The lines of `spaced` (blank-separated, label first) as comma-separated
// fields with the label moved last, written as a word when `words`.
std::string label_last_csv(const std::string& spaced, bool words) {
  std::istringstream in(spaced);
  std::string text = "p,q,class\n";
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string label, field, rest;
    fields >> label;
    while (fields >> field) rest += field + ',';
    text += rest + (words ? "\"class " + label + "\"" : label) + '\n';
  }
  return text;
}

// The lines of `spaced` as comma-separated fields with a class name after.
std::string with_class_column(const std::string& spaced) {
  std::istringstream in(spaced);
  std::string text;
  for (std::string line; std::getline(in, line);) {
    for (char& c : line) c = c == ' ' ? ',' : c;
    text += line + ",Iris-setosa\n";
  }
  return text;
}

// A shell command that compresses `file` to file.gz with gzip, runs
// `before`, then the program with the arguments `rest`.
std::vector<std::string> gz(const std::string& file, const char* program,
                            const std::string& rest,
                            const std::string& before = "true") {
  return {"-c",
          "gzip -kn " + file + " && " + before + " && " + program + ' ' + rest};
}

const std::pair<std::string, std::string> table = {"form_of_relationship.txt",
                                                   "0.5 2\n1.5 4\n"};
const std::pair<std::string, std::string> two = {"d.txt", "0 0\n3 4\n"};

const std::string usage_median =
    "usage: median_kernel_width [-h | --help | --version] [-j N | --threads N] "
    "[-v | --verbose]\n"
    "       [-d CHAR | --delimiter CHAR] [-l N | --label N] [--skip-lines N "
    "| --header]\n"
    "       [--progress | --no-progress] [--strict] [--output KIND]\n"
    "       [-q P[,P...] | --quantile P[,P...]] [--cross]\n"
    "       [--sample M [--seed S] [--confidence C]] DATAFILE [YFILE]\n";

// Four samples whose six distances are 5, 5, 5, 10, 10, 15.
const std::pair<std::string, std::string> four = {"m.txt",
                                                  "0 0\n3 4\n6 8\n9 12\n"};

// 64 probabilities, the most one run takes.
std::string many_quantiles(int count) {
  std::string list = "0";
  for (int k = 1; k < count; ++k) list += "," + std::to_string(k / 64.0);
  return list;
}

const std::string usage_form =
    "usage: form_kernel_width [-h | --help | --version] [-j N | --threads N] "
    "[-v | --verbose]\n"
    "       [-d CHAR | --delimiter CHAR] [-l N | --label N] [--skip-lines N "
    "| --header]\n"
    "       [--progress | --no-progress] [--strict] [--output KIND]\n"
    "       [--table FILE] DATAFILE\n";

// Resource limits do not mix with the sanitizers' own memory; and there
// the sampled runs take the held rows' budget that forces several passes
// only (the plain build takes one pass too).
#ifdef SANITIZED
constexpr std::size_t limited = 0;
const std::string sample_budgets = "1";
constexpr int sample_budget_count = 1;
#else
constexpr std::size_t limited = 1;
const std::string sample_budgets = "1 240";
constexpr int sample_budget_count = 2;
#endif

// The end of the message for an instruction set this CPU does not run.
const std::string runs =
    " (this CPU runs: " + kernel_width::detail::supported_isas() + ")\n";

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// The last lines of --verbose: sigma and gamma, as the plain arithmetic
// gives them from the width and its sigma, and the width.
std::string widths(double width, double sigma) {
  char text[160];
  std::snprintf(text, sizeof text, "sigma: %.17g\ngamma: %.17g\nwidth: %.17g\n",
                sigma, 1 / width, width);
  return text;
}
// form's sigma is sqrt(width / 2); labelled's the mean, the median's the
// median.
std::string form_widths(double width) {
  return widths(width, std::sqrt(width / 2));
}

// The statistics; the width (table line 2's divisor 2) after them.
const std::string form_spread_statistics =
    "n: 300\ncolumns: 3\nmean: 12.102500965926183\n"
    "variance: 39.612972889286247\nratio: 3.6975394409203433\n"
    "rule: table line 2\n";
const std::string form_spread =
    form_spread_statistics + form_widths(19.806486444643124);
const std::string labelled_spread =
    "n: 300\ncolumns: 2\ntotal: 923955.9141379752\npairs: 89700\n"
    "mean: 10.300511863299612\n" +
    widths(212.20108929195206, 10.300511863299612);
// numpy.median(scipy.spatial.distance.pdist(x)) of the same samples.
const std::string median_spread =
    "n: 300\ncolumns: 3\npairs: 44850\nmedian: 11.170295849689779\n" +
    widths(249.55101873919341, 11.170295849689779);

// The end of the warning for a width of 0 from samples that all coincide.
const std::string zero_width =
    " warning: the width is 0: every distance is 0 (all samples coincide)\n";

// Distances 0 (three pairs) and 2^-537 (three): the median 2^-538 is
// positive, its width 2^-1075 rounds to 0.
const std::pair<std::string, std::string> underflow = {
    "m.txt", "0\n0\n0\n2.2227587494850775e-162\n"};
const std::string tiny = "1.1113793747425387e-162";

// One case a row, laid out by hand.
// clang-format off
std::vector<Case> all_cases() {
  return {
      // Widths as the arithmetic gives them.
      {"form_table_tie", form, {"d.txt"}, {table, two}, "3.125\n", "", 0},
      {"form_crlf_and_trailing_text", form, {"d.txt"},
       {table, {"d.txt", "0 0 # origin\r\n3 4 x 9\r\n"}}, "3.125\n",
       "form_kernel_width: d.txt:1: warning: ignored \"# origin\" after 2 "
       "values (and on 1 more line)\n", 0},
      {"form_keys_far_away", form, {"d.txt"},
       {{"form_of_relationship.txt", "5000 2\n3000 4\n"}, two}, "3.125\n", "", 0},
      {"form_low_spread", form, {"d.txt"}, {{"d.txt", low_spread}},
       "0.00377028\n", "", 0},
      {"form_low_spread_ignores_bad_table", form, {"d.txt"},
       {{"d.txt", low_spread}, {"form_of_relationship.txt", "\n"}},
       "0.00377028\n", "", 0},
      {"form_high_spread", form, {"d.txt"}, {{"d.txt", unit_vectors()}},
       "1.96098\n", "", 0},
      {"form_negative_divisor", form, {"d.txt"},
       {{"form_of_relationship.txt", "0.5 -2\n"}, {"d.txt", "1 1\n1 1\n"}},
       "-0\n", "form_kernel_width: d.txt: warning: the width is -0: every "
       "distance is 0 (all samples coincide)\n", 0},
      {"form_zero_divisor", form, {"d.txt"},
       {{"form_of_relationship.txt", "1 0\n"}, two}, "inf\n",
       "form_kernel_width: d.txt: warning: the width is not finite (inf): the "
       "divisor on form_of_relationship.txt:1 is 0\n", 0},
      {"form_extra_arguments_ignored", form, {"d.txt", "more", "-"},
       {table, two}, "3.125\n",
       "form_kernel_width: warning: ignored extra argument 'more'\n"
       "form_kernel_width: warning: ignored extra argument '-'\n", 0},
      {"form_dash_dash", form, {"--", "d.txt"}, {table, two}, "3.125\n", "", 0},
      {"form_empty_data", form, {"d.txt"}, {table, {"d.txt", ""}}, "-nan\n",
       "form_kernel_width: d.txt: warning: no samples\n", 0},
      {"form_one_sample", form, {"d.txt"}, {table, {"d.txt", "1 2\n"}}, "0\n",
       "form_kernel_width: d.txt: warning: one sample\n", 0},
      {"labelled_two", labelled, {"l.txt"}, {{"l.txt", "1 0 0\n2 3 4\n"}},
       "50\n", "", 0},
      {"labelled_three", labelled, {"l.txt"},
       {{"l.txt", "0 0 0\n0 3 4\n1 6 8\n"}}, "88.8889\n", "", 0},
      {"labelled_labels_do_not_count", labelled, {"l.txt"},
       {{"l.txt", "-7 0 0\n1e9 3 4\n0.5 6 8\n"}}, "88.8889\n", "", 0},
      {"labelled_empty", labelled, {"l.txt"}, {{"l.txt", ""}}, "-nan\n",
       "labelled_kernel_width: l.txt: warning: no samples\n", 0},
      {"labelled_one_sample", labelled, {"l.txt"}, {{"l.txt", "1 2 3\n"}},
       "-nan\n", "labelled_kernel_width: l.txt: warning: one sample\n", 0},

      {"median_two", median, {"-v", "m.txt"}, {{"m.txt", "0 0\n3 4\n"}},
       "50\n", "n: 2\ncolumns: 2\npairs: 1\nmedian: 5\n" + widths(50, 5), 0},
      {"median_odd_pairs_middle_one", median, {"-v", "m.txt"},
       {{"m.txt", "0 0\n3 4\n6 8\n"}}, "50\n",
       "n: 3\ncolumns: 2\npairs: 3\nmedian: 5\n" + widths(50, 5), 0},
      {"median_even_pairs_mean_of_two", median, {"-v", "m.txt"},
       {{"m.txt", "0 0\n3 4\n6 8\n9 12\n"}}, "112.5\n",
       "n: 4\ncolumns: 2\npairs: 6\nmedian: 7.5\n" + widths(112.5, 7.5), 0},
      {"median_every_column_counts", median, {"m.txt"},
       {{"m.txt", "1 0 0\n2 3 4\n"}}, "52\n", "", 0},
      {"median_repeated_distances", median, {"-v", "m.txt"},
       {{"m.txt", "0 0\n1 0\n0 1\n1 1\n"}}, "2\n",
       "n: 4\ncolumns: 2\npairs: 6\nmedian: 1\n" + widths(2, 1), 0},
      {"median_overflowing_squares", median, {"-v", "m.txt"},
       {{"m.txt", "1e200 0\n0 0\n1 1\n"}}, "inf\n",
       "median_kernel_width: m.txt: warning: the width is not finite (inf): "
       "the distances overflowed\nn: 3\ncolumns: 2\npairs: 3\nmedian: inf\n" +
           widths(inf, inf), 0},
      {"median_strict_overflow", median, {"--strict", "m.txt"},
       {{"m.txt", "1e200 0\n0 0\n1 1\n"}}, "",
       "median_kernel_width: m.txt: error: the width is not finite (inf): "
       "the distances overflowed\n", 1},
      {"median_empty", median, {"m.txt"}, {{"m.txt", ""}}, "-nan\n",
       "median_kernel_width: m.txt: warning: no samples\n", 0},
      {"median_one_sample", median, {"-v", "m.txt"}, {{"m.txt", "1 2\n"}},
       "-nan\n",
       "median_kernel_width: m.txt: warning: one sample\nn: 1\ncolumns: 2\n"
       "pairs: 0\nmedian: -nan\n" + widths(-nan, -nan), 0},

      // Quantiles as numpy.quantile places them: index (m - 1) p, numpy's
      // interpolation, the ends exactly; one line each, in the order given.
      {"quantiles_in_order", median, {"-q", "1,0,0.5,0.7", "m.txt"}, {four},
       "450\n50\n112.5\n200\n", "", 0},
      {"quantiles_verbose", median, {"-v", "--quantile=0.5", "m.txt"}, {four},
       "112.5\n", "n: 4\ncolumns: 2\npairs: 6\np: 0.5\nquantile: 7.5\n" +
       widths(112.5, 7.5), 0},
      {"quantiles_sixty_four", median, {"-q", many_quantiles(64), "m.txt"},
       {four}, "50\n...", "", 0},
      {"quantiles_sixty_five", median, {"-q", many_quantiles(65), "m.txt"},
       {four}, "", "median_kernel_width: too many quantiles (at most 64)\n" +
       usage_median, 2},
      {"quantile_past_one", median, {"-q", "0.5,1.0000001", "m.txt"}, {four},
       "", "median_kernel_width: bad quantile '1.0000001' (a number from 0 to "
       "1)\n" + usage_median, 2},
      {"quantile_text_after_the_number", median, {"-q", "0.5x", "m.txt"},
       {four}, "", "median_kernel_width: bad quantile '0.5x' (a number from 0 "
       "to 1)\n" + usage_median, 2},
      {"quantile_nan", median, {"-q", "nan", "m.txt"}, {four}, "",
       "median_kernel_width: bad quantile 'nan' (a number from 0 to 1)\n" +
       usage_median, 2},
      {"quantile_list_with_a_hole", median, {"-q", "0.1,,0.5", "m.txt"},
       {four}, "", "median_kernel_width: bad quantile list '0.1,,0.5' (an "
       "empty value)\n" + usage_median, 2},
      {"quantile_empty", median, {"-q", "", "m.txt"}, {four}, "",
       "median_kernel_width: option '-q' needs a number from 0 to 1\n" +
       usage_median, 2},
      // -q's numbers as the data files write them: a leading "+", and -0
      // taken as 0; a blank is not part of a number.
      {"quantile_plus_sign", median, {"-q", "+0.5,+1", "m.txt"}, {four},
       "112.5\n450\n", "", 0},
      {"quantile_minus_zero", median, {"-v", "-q", "-0", "m.txt"}, {four},
       "50\n", "n: 4\ncolumns: 2\npairs: 6\np: 0\nquantile: 5\n" +
       widths(50, 5), 0},
      {"quantile_negative", median, {"-q", "-0.0001", "m.txt"}, {four}, "",
       "median_kernel_width: bad quantile '-0.0001' (a number from 0 to 1)\n" +
       usage_median, 2},
      {"quantile_leading_blank", median, {"-q", " 0.5", "m.txt"}, {four}, "",
       "median_kernel_width: bad quantile ' 0.5' (a number from 0 to 1)\n" +
       usage_median, 2},
      {"quantiles_repeated_options", median, {"-q", "0", "-q", "1,0.5",
       "m.txt"}, {four}, "50\n450\n112.5\n", "", 0},
      {"quantile_is_the_median_programs_only", form, {"-q", "0.5", "d.txt"},
       {table, two}, "", "form_kernel_width: unknown option '-q'\n" +
       usage_form, 2},
      {"quantile_at_zero_warns", median, {"-q", "0,1", "m.txt"},
       {{"m.txt", "1 1\n1 1\n2 2\n"}}, "0\n4\n",
       "median_kernel_width: m.txt: warning: the width for p = 0 is 0: 1 of "
       "the 3 pairs are at distance 0\n", 0},
      {"quantile_at_zero_strict", median, {"--strict", "-q", "1,0", "m.txt"},
       {{"m.txt", "1 1\n1 1\n2 2\n"}}, "",
       "median_kernel_width: m.txt: error: the width for p = 0 is 0: 1 of "
       "the 3 pairs are at distance 0\n", 1},
      // numpy's interpolation between two infinite neighbours: inf - inf.
      {"quantile_overflow", median, {"-q", "0.5", "m.txt"},
       {{"m.txt", "1e200 0\n0 0\n1 1\n"}}, "-nan\n",
       "median_kernel_width: m.txt: warning: the width for p = 0.5 is not "
       "finite (-nan): the distances overflowed\n", 0},

      // The kernel's other parameters: sigma of exp(-d^2 / (2 sigma^2)),
      // gamma of exp(-gamma d^2).
      {"output_sigma_median", median, {"--output", "sigma", "m.txt"}, {four},
       "7.5\n", "", 0},
      {"output_gamma_quantiles", median, {"--output=gamma", "-q", "0,1", "m.txt"},
       {four}, "0.02\n0.00222222\n", "", 0},
      {"output_sigma_form", form, {"--output", "sigma", "d.txt"}, {table, two},
       "1.25\n", "", 0},
      {"output_gamma_labelled", labelled, {"--output", "gamma", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "0.02\n", "", 0},
      {"output_unknown", labelled, {"--output", "beta", "l.txt"}, {}, "",
       "labelled_kernel_width: bad output 'beta' (width, sigma or gamma)\n...",
       2},

      // Two data files: pooled as one file holding both, or across.
      {"two_files_pooled", median, {"-v", "x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", "6 8\n9 12\n"}}, "112.5\n",
       "n: 2\nn_y: 2\ncolumns: 2\npairs: 6\nmedian: 7.5\n" +
       widths(112.5, 7.5), 0},
      {"two_files_across", median, {"--cross", "-q", "0,0.5,1", "x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", "0 0\n6 8\n"}}, "0\n50\n200\n",
       "median_kernel_width: x.txt and y.txt: warning: the width for p = 0 is "
       "0: 1 of the 4 pairs are at distance 0\n", 0},
      {"two_files_from_stdin", median, {"--cross", "x.txt", "-"},
       {{"x.txt", "0 0\n3 4\n"}}, "50\n", "", 0, "", "0 0\n6 8\n"},
      {"two_files_columns_differ", median, {"x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", "1 2 3\n"}}, "",
       "median_kernel_width: x.txt has 2 columns and y.txt has 3: both files "
       "need the same columns\n", 1},
      {"two_files_across_one_empty", median, {"--cross", "x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", ""}}, "",
       "median_kernel_width: y.txt: no samples (--cross pairs the samples of "
       "both files)\n", 1},
      // Pooled, an empty file warns as when read alone; one sample in all
      // leaves no pairs.
      {"two_files_pooled_one_sample", median, {"x.txt", "y.txt"},
       {{"x.txt", "0 0\n"}, {"y.txt", ""}}, "-nan\n",
       "median_kernel_width: y.txt: warning: no samples\n"
       "median_kernel_width: x.txt and y.txt: warning: one sample\n", 0},
      {"two_files_pooled_y_empty", median, {"x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", ""}}, "50\n",
       "median_kernel_width: y.txt: warning: no samples\n", 0},
      {"two_files_pooled_x_empty_strict", median, {"--strict", "x.txt", "y.txt"},
       {{"x.txt", ""}, {"y.txt", "0 0\n3 4\n"}}, "",
       "median_kernel_width: x.txt: error: no samples\n", 1},
      {"two_files_pooled_y_empty_strict", median,
       {"--strict", "-q", "0.5", "x.txt", "y.txt"},
       {{"x.txt", "0 0\n3 4\n"}, {"y.txt", ""}}, "",
       "median_kernel_width: y.txt: error: no samples\n", 1},
      {"two_files_pooled_both_empty", median, {"x.txt", "y.txt"},
       {{"x.txt", ""}, {"y.txt", ""}}, "-nan\n",
       "median_kernel_width: x.txt: warning: no samples\n"
       "median_kernel_width: y.txt: warning: no samples\n", 0},
      {"two_files_pooled_one_and_two", median, {"x.txt", "y.txt"},
       {{"x.txt", "0 0\n"}, {"y.txt", "3 4\n6 8\n"}}, "50\n", "", 0},
      {"two_files_zero_width_names_both", median, {"x.txt", "y.txt"},
       {{"x.txt", "1 1\n1 1\n"}, {"y.txt", "1 1\n"}}, "0\n",
       "median_kernel_width: x.txt and y.txt:" + zero_width, 0},
      // The label column of both files is left out.
      {"two_files_across_label", median, {"--cross", "-l", "1", "x.txt", "y.txt"},
       {{"x.txt", "1 0 0\n1 3 4\n"}, {"y.txt", "9 0 0\n9 6 8\n"}}, "50\n",
       "", 0},
      // An option after the data files is a mistake, not a file name;
      // after "--" it is one.
      {"option_after_the_data_file", median, {"m.txt", "-q", "0.5"}, {four},
       "", "median_kernel_width: option '-q' after the data files: options "
       "go before the data files\n" + usage_median, 2},
      {"option_after_both_data_files", median, {"m.txt", "m.txt", "-v"},
       {four}, "", "median_kernel_width: option '-v' after the data files: "
       "options go before the data files\n" + usage_median, 2},
      {"option_after_dash_dash_is_a_file", median, {"--", "m.txt", "-q"},
       {four}, "", "median_kernel_width: -q: No such file or directory\n", 1},
      {"across_needs_two_files", median, {"--cross", "x.txt"}, {}, "",
       "median_kernel_width: --cross needs a second data file, YFILE\n" +
       usage_median, 2},
      {"two_files_both_stdin", median, {"-", "-"}, {}, "",
       "median_kernel_width: standard input cannot hold both data files\n" +
       usage_median, 2},
      {"three_files", median, {"x.txt", "x.txt", "x.txt"},
       {{"x.txt", "0 0\n3 4\n"}}, "50\n",
       "median_kernel_width: warning: ignored extra argument 'x.txt'\n", 0},

      // Bad data.
      {"missing_data", form, {"none.txt"}, {table}, "",
       "form_kernel_width: none.txt: No such file or directory\n", 1},
      {"data_is_a_directory", labelled, {"."}, {}, "",
       "labelled_kernel_width: .: Is a directory\n", 1},
      {"unequal_rows", form, {"d.txt"}, {table, {"d.txt", "1 2 3\n4 5 6\n7 8\n"}},
       "", "form_kernel_width: d.txt:3: 2 values, expected 3 as on line 1\n", 1},
      {"blank_line_at_end", labelled, {"l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n\n"}}, "",
       "labelled_kernel_width: l.txt:3: a blank line, expected 3 values as on "
       "line 1 (a blank line at the end?)\n", 1},
      {"no_values", form, {"d.txt"}, {table, {"d.txt", "\n\n"}}, "",
       "form_kernel_width: d.txt: no values on any line\n", 1},
      {"labels_only", labelled, {"l.txt"}, {{"l.txt", "1\n2\n3\n"}}, "",
       "labelled_kernel_width: l.txt: only labels, no feature values\n", 1},

      // The relationship-form table, when the search needs it.
      {"table_missing", form, {"d.txt"}, {two}, "",
       "form_kernel_width: form_of_relationship.txt: No such file or "
       "directory\n", 1},
      {"table_empty", form, {"d.txt"},
       {{"form_of_relationship.txt", ""}, two}, "",
       "form_kernel_width: form_of_relationship.txt: no rows to search\n", 1},
      {"table_row_without_key", form, {"d.txt"},
       {{"form_of_relationship.txt", "0.5 2\n\n1.5 4\n"}, two}, "",
       "form_kernel_width: form_of_relationship.txt:2: no key on the line\n", 1},
      {"table_row_without_divisor", form, {"d.txt"},
       {{"form_of_relationship.txt", "0.5\n1.5 4\n"}, two}, "",
       "form_kernel_width: form_of_relationship.txt:1: no divisor after the "
       "key\n", 1},

      // Output and command line.
      {"output_fails", form, {"d.txt"}, {table, two}, "",
       "form_kernel_width: standard output: No space left on device\n", 1,
       "/dev/full"},
      {"no_argument", form, {}, {}, "", usage_form, 2},
      {"unknown_option", form, {"-x", "d.txt"}, {table, two}, "",
       "form_kernel_width: unknown option '-x'\n" + usage_form, 2},
      {"bad_thread_count", labelled, {"-j", "1025", "l.txt"}, {}, "",
       "labelled_kernel_width: bad thread count '1025'\nusage: "
       "labelled_kernel_width ...", 2},
      {"help", form, {"--help"}, {}, usage_form + "...", "", 0},
      {"help_short", labelled, {"-h"}, {}, "usage: labelled_kernel_width ...",
       "", 0},
      // The whole line: name, version and the licence's SPDX identifier.
      {"version_form", form, {"--version"}, {},
       "form_kernel_width " KERNEL_WIDTH_VERSION " (BSD-3-Clause)\n", "", 0},
      {"version_labelled", labelled, {"--version"}, {},
       "labelled_kernel_width " KERNEL_WIDTH_VERSION " (BSD-3-Clause)\n", "",
       0},
      {"version_median", median, {"--version"}, {},
       "median_kernel_width " KERNEL_WIDTH_VERSION " (BSD-3-Clause)\n", "", 0},
      {"help_median", median, {"--help"}, {},
       "usage: median_kernel_width [-h | --help | --version] ...", "", 0},
      {"median_unknown_option", median, {"--median", "m.txt"}, {}, "",
       "median_kernel_width: unknown option '--median'\nusage: "
       "median_kernel_width ...", 2},
      {"median_no_values", median, {"m.txt"}, {{"m.txt", "x\ny\n"}}, "",
       "median_kernel_width: m.txt:1: warning: ignored \"x\" after 0 values "
       "(and on 1 more line)\nmedian_kernel_width: m.txt: no values on any "
       "line\n", 1},

      // Text after the last value of a line: one warning per file.
      {"warn_commas", form, {"d.csv"},
       {table, {"d.csv", "0,2.5,3\n3,1\n" + lines("3", 998)}}, "...",
       "form_kernel_width: d.csv:1: warning: ignored \",2.5,3\" after 1 value "
       "(and on 1 more line)\n", 0},
      {"warn_one_line_cut_at_20", form, {"d.txt"},
       {table, {"d.txt", "0 0\n3 4 and this text is long\t\r\n"}},
       "3.125\n",
       "form_kernel_width: d.txt:2: warning: ignored \"and this text is lon\""
       "... after 2 values\n", 0},
      {"warn_nul_byte", form, {"d.txt"},
       {table, {"d.txt", std::string("0 0\0 1\n3 4\n", 11)}}, "3.125\n",
       "form_kernel_width: d.txt:1: warning: ignored \"\\x00 1\" after 2 "
       "values\n", 0},
      {"byte_order_mark_skipped", form, {"d.txt"},
       {table, {"d.txt", "\xEF\xBB\xBF" "0 0\r\n3 4\r\n"}}, "3.125\n", "",
       0},
      {"warn_number_too_large", labelled, {"l.txt"},
       {{"l.txt", "1 2 1e400 3\n1 2 5\n"}}, "",
       "labelled_kernel_width: l.txt:1: warning: ignored \"1e400 3\" (out of "
       "range) after 2 values\n"
       "labelled_kernel_width: l.txt:2: 3 values, expected 2 as on line 1\n",
       1},
      {"warn_string_labels", labelled, {"l.txt"},
       {{"l.txt", "cat 1 2\ndog \"3\" 4\nemu\n"}}, "",
       "labelled_kernel_width: l.txt:1: warning: ignored \"cat 1 2\" after 0 "
       "values (and on 2 more lines)\n"
       "labelled_kernel_width: l.txt: no values on any line\n", 1},
      {"warn_table_when_searched", form, {"d.txt"},
       {{"form_of_relationship.txt", "0.5 2 # first\n1.5 4;\n"}, two},
       "3.125\n",
       "form_kernel_width: form_of_relationship.txt:1: warning: ignored "
       "\"# first\" after 2 values (and on 1 more line)\n", 0},
      {"table_not_checked_unless_searched", form, {"d.txt"},
       {{"d.txt", low_spread}, {"form_of_relationship.txt", "key,divisor\n"}},
       "0.00377028\n", "", 0},

      // Delimited text and headers, on request.
      {"csv_header_as_spaces", form, {"-d", ",", "--header", "d.csv"},
       {table, {"d.csv", "x,y\r\n 0, 0\r\n3 ,4\r\n"}}, "3.125\n", "", 0},
      {"tab_delimited", labelled, {"--delimiter=tab", "l.tsv"},
       {{"l.tsv", "1\t0\t0\n2\t3 \t4\n"}}, "50\n", "", 0},
      {"semicolons_stdin", labelled, {"-d;", "--header", "-"}, {}, "50\n", "",
       0, "", "label;a;b\n1;0;0\n2;3;4\n"},
      {"header_in_default_mode", form, {"--header", "d.txt"},
       {table, {"d.txt", "x y\n0 0\n3 4\n"}}, "3.125\n", "", 0},
      {"header_keeps_line_numbers", form, {"--header", "d.txt"},
       {table, {"d.txt", "x y\n0 0\n3 4\n5\n"}}, "",
       "form_kernel_width: d.txt:4: 1 value, expected 2 as on line 2\n", 1},
      {"field_empty", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,0\n3,,4\n"}}, "",
       "form_kernel_width: d.csv:2: field 2 is empty\n", 1},
      {"field_not_a_number", labelled, {"-d", ",", "--header", "iris.csv"},
       {{"iris.csv", "a,b,class\n5.1,3.5,setosa\n"}}, "",
       "labelled_kernel_width: iris.csv:2: field 3: \"setosa\" is not a "
       "number\n", 1},
      {"field_with_trailing_text", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,0\n3,1.5x\n"}}, "",
       "form_kernel_width: d.csv:2: field 2: \"1.5x\" is not a number\n", 1},
      {"field_on_line_one_hints_header", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "sepal length,width\n1,2\n"}}, "",
       "form_kernel_width: d.csv:1: field 1: \"sepal length\" is not a number "
       "(a header? try --header)\n", 1},
      {"field_escaped_and_cut", form, {"-d", "|", "d.txt"},
       {table, {"d.txt", "0|\x1b[31m a very long field text\n"}}, "",
       "form_kernel_width: d.txt:1: field 2: \"\\x1b[31m a very long fi\"... "
       "is not a number (a header? try --header)\n", 1},
      {"csv_without_options_hints", form, {"d.csv"},
       {table, {"d.csv", "sepal,width\n5.1,3.5\n4.9,3.0\n"}}, "",
       "form_kernel_width: d.csv:1: warning: ignored \"sepal,width\" after 0 "
       "values (and on 2 more lines); comma-separated? try -d ,\n"
       "form_kernel_width: d.csv:1: no number on the line, expected 1 value "
       "as on line 2 (a header? try --header)\n", 1},
      {"bad_delimiter", form, {"-d", "ab", "d.csv"}, {}, "",
       "form_kernel_width: bad delimiter 'ab'\n" + usage_form, 2},
      {"delimiter_that_is_part_of_numbers", form, {"-d", ".", "d.csv"}, {}, "",
       "form_kernel_width: bad delimiter '.'\n" + usage_form, 2},
      {"delimiter_after_the_file", labelled, {"l.csv", "-d"},
       {{"l.csv", "1 0 0\n2 3 4\n"}}, "",
       "labelled_kernel_width: option '-d' after the data files: options go "
       "before the data files\nusage: labelled_kernel_width ...", 2},
      {"delimiter_needs_a_value", labelled, {"--delimiter"}, {}, "",
       "labelled_kernel_width: option '--delimiter' needs a character\n"
       "usage: labelled_kernel_width ...", 2},

      // The label in any column, as any text (-d, or --label).
      {"label_last_as_label_first", labelled,
       {"-v", "-d", ",", "--header", "--label", "last", "l.csv"},
       {{"l.csv", label_last_csv(spread_samples(), false)}}, "212.201\n",
       labelled_spread, 0},
      {"label_last_in_words", labelled,
       {"-v", "-d", ",", "--header", "-l", "last", "l.csv"},
       {{"l.csv", label_last_csv(spread_samples(), true)}}, "212.201\n",
       labelled_spread, 0},
      {"form_leaves_the_label_out", form,
       {"-v", "-d", ",", "-l", "last", "d.csv"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"},
        {"d.csv", with_class_column(spread_samples())}},
       "19.8065\n", form_spread, 0},
      {"form_label_first_any_text", form, {"--label=1", "d.txt"},
       {table, {"d.txt", "origin 0 0\n\"far 3 4\n"}}, "3.125\n", "", 0},
      {"label_1_is_text_with_d", labelled, {"-d", ",", "l.csv"},
       {{"l.csv", "setosa,0,0\n\"class 2\",3,4\n"}}, "50\n", "", 0},
      {"label_1_a_word", labelled, {"-l1", "l.txt"},
       {{"l.txt", "cat 0 0\ndog 3 4\n"}}, "50\n", "", 0},
      {"label_in_the_middle", labelled, {"-l", "2", "l.txt"},
       {{"l.txt", "0 cat 0\n3 Iris-setosa 4\n"}}, "50\n", "", 0},
      {"label_empty_field", labelled, {"-d", ",", "-l", "last", "l.csv"},
       {{"l.csv", "0,0,\n3,4,\n"}}, "50\n", "", 0},
      {"label_one_past_the_last_column", labelled, {"-l", "4", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "",
       "labelled_kernel_width: l.txt:1: no column 4 for --label\n", 1},
      {"label_missing_on_one_row", form, {"-d", ",", "-l", "3", "d.csv"},
       {table, {"d.csv", "0,0,a\n3,4\n"}}, "",
       "form_kernel_width: d.csv:2: no column 3 for --label\n", 1},
      // The counts leave the label out, as the samples do.
      {"label_left_out_of_the_counts", form, {"-d", ",", "-l", "3", "d.csv"},
       {table, {"d.csv", "0,0,a\n3\n"}}, "",
       "form_kernel_width: d.csv:2: 1 value, expected 2 as on line 1\n", 1},
      {"label_last_left_out_of_the_counts", labelled, {"-l", "last", "l.txt"},
       {{"l.txt", "0 0 a\n3 4 b\n5 6 7 c\n"}}, "",
       "labelled_kernel_width: l.txt:3: 3 values, expected 2 as on line 1\n",
       1},
      {"label_missing_rows_of_equal_length", form, {"-l", "3", "d.txt"},
       {table, {"d.txt", "5 x a\n1\n"}}, "",
       "form_kernel_width: d.txt:1: warning: ignored \"x\" after 1 value\n"
       "form_kernel_width: d.txt:2: no column 3 for --label\n", 1},
      {"label_only", form, {"-l", "last", "d.txt"},
       {table, {"d.txt", "a\nb\n"}}, "",
       "form_kernel_width: d.txt: only labels, no feature values\n", 1},
      // The last token is the label; text before it still ends the row.
      {"label_last_token_then_text", labelled, {"-l", "last", "l.txt"},
       {{"l.txt", "0 0 # a\n3 4 b\n"}}, "50\n",
       "labelled_kernel_width: l.txt:1: warning: ignored \"#\" after 2 "
       "values\n", 0},
      {"label_zero", labelled, {"--label", "0", "l.txt"}, {}, "",
       "labelled_kernel_width: bad label column '0'\nusage: ...", 2},
      {"label_word", form, {"-l", "first", "d.txt"}, {}, "",
       "form_kernel_width: bad label column 'first'\n" + usage_form, 2},
      {"label_after_the_file", form, {"d.txt", "x", "-l"}, {table, two}, "",
       "form_kernel_width: option '-l' after the data files: options go "
       "before the data files\n" + usage_form, 2},
      {"label_missing_value", form, {"-l"}, {}, "",
       "form_kernel_width: option '-l' needs a column\n" + usage_form, 2},

      // Lines before the data.
      {"skip_lines_0", form, {"--skip-lines", "0", "d.txt"}, {table, two},
       "3.125\n", "", 0},
      {"skip_lines_2", form, {"-d", ",", "--skip-lines=2", "d.csv"},
       {table, {"d.csv", "506,13,,\n\"CRIM\",\"ZN\"\n0,0\n3,4\n"}},
       "3.125\n", "", 0},
      {"skip_lines_keep_line_numbers", labelled, {"--skip-lines", "2", "l.txt"},
       {{"l.txt", "a\nb\n1 0 0\n2 3 4\n5\n"}}, "",
       "labelled_kernel_width: l.txt:5: 1 value, expected 3 as on line 3\n",
       1},
      {"skip_lines_to_the_last", form, {"--skip-lines", "2", "d.txt"},
       {table, two}, "-nan\n", "form_kernel_width: d.txt: warning: no samples\n",
       0},
      {"skip_lines_beyond_the_end", form, {"--skip-lines", "3", "d.txt"},
       {table, two}, "-nan\n", "form_kernel_width: d.txt: warning: no samples\n",
       0},
      {"skip_lines_negative", form, {"--skip-lines", "-1", "d.txt"}, {}, "",
       "form_kernel_width: bad line count '-1'\n" + usage_form, 2},
      {"skip_lines_not_a_number", labelled, {"--skip-lines=2x", "l.txt"}, {},
       "", "labelled_kernel_width: bad line count '2x'\nusage: ...", 2},
      {"skip_lines_needs_a_number", form, {"--skip-lines"}, {}, "",
       "form_kernel_width: option '--skip-lines' needs a number\n" + usage_form,
       2},

      // Compressed data files: the same numbers, messages and line numbers.
      {"gzip_same_statistics", shell, gz("d.txt", form, "-v d.txt.gz"),
       {{"form_of_relationship.txt", "1 1\n4 2\n"},
        {"d.txt", spread_samples()}}, "19.8065\n", form_spread, 0},
      {"gzip_label_last", shell,
       gz("l.csv", labelled, "-v -d , --header -l last l.csv.gz"),
       {{"l.csv", label_last_csv(spread_samples(), true)}}, "212.201\n",
       labelled_spread, 0},
      {"gzip_messages_and_lines", shell, gz("d.txt", form, "--header d.txt.gz"),
       {table, {"d.txt", "x y\n0 0\n3 4 z\n5"}}, "",
       "form_kernel_width: d.txt.gz:3: warning: ignored \"z\" after 2 values\n"
       "form_kernel_width: d.txt.gz:4: 1 value, expected 2 as on line 2\n", 1},
      {"gzip_truncated", shell,
       gz("d.txt", form, "t.gz", "head -c -9 d.txt.gz > t.gz"), {table, two},
       "", "form_kernel_width: t.gz: not a valid gzip stream (unexpected end "
       "of file)\n", 1},
      {"gzip_damaged_checksum", shell,
       gz("d.txt", form, "c.gz", "head -c -8 d.txt.gz > c.gz && printf abcd "
          ">> c.gz && tail -c 4 d.txt.gz >> c.gz"), {table, two}, "",
       "form_kernel_width: c.gz: not a valid gzip stream (incorrect data "
       "check)\n", 1},
      {"gzip_zero_padding", shell,
       gz("d.txt", form, "d.txt.gz", "head -c 1000 /dev/zero >> d.txt.gz"),
       {table, two}, "3.125\n", "", 0},
      {"gzip_data_after_zero_padding", shell,
       gz("d.txt", form, "d.txt.gz",
          "head -c 10 /dev/zero >> d.txt.gz && printf x >> d.txt.gz"),
       {table, two}, "", "form_kernel_width: d.txt.gz: not a valid gzip "
       "stream (data after the zero padding)\n", 1},
      {"gzip_not_gzip", form, {"d.gz"}, {table, {"d.gz", "0 0\n3 4\n"}}, "",
       "form_kernel_width: d.gz: not a valid gzip stream (incorrect header "
       "check)\n", 1},
      {"gzip_empty_file", labelled, {"e.gz"}, {{"e.gz", ""}}, "",
       "labelled_kernel_width: e.gz: not a valid gzip stream (unexpected end "
       "of file)\n", 1},
      {"gzip_of_nothing", shell, gz("e", labelled, "e.gz"), {{"e", ""}},
       "-nan\n", "labelled_kernel_width: e.gz: warning: no samples\n", 0},
      {"gzip_stdin_stays_plain", shell, gz("d.txt", form, "- < d.txt.gz"),
       {table, two}, "",
       "form_kernel_width: <stdin>:1: warning: ignored \"\\x1f\\x8b...", 1},

      // Progress: forced on, the line is drawn at once and erased at the
      // end; standard output is untouched. Off by default off a terminal.
      {"progress_forced", form, {"--progress", "d.txt"}, {table, two},
       "3.125\n", "\rform_kernel_width: 0% (0.0 s)\x1b[K...", 0},
      {"progress_off", labelled, {"--no-progress", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "50\n", "", 0},

      // Resource faults: out of memory is a message, not an abort; threads
      // that cannot start leave the work to the others.
      {"out_of_memory", form, {"d.txt"}, {table, {"d.txt", lines("1", 2000000)}},
       "", "form_kernel_width: d.txt: out of memory\n", 1, "", "",
       64 << 20},
      {"threads_under_a_memory_limit_form", form, {"-v", "-j", "64", "d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", form_spread, 0, "", "", 160 << 20},
      {"threads_under_a_memory_limit_labelled", labelled,
       {"-v", "-j", "64", "l.txt"}, {{"l.txt", spread_samples()}}, "212.201\n",
       labelled_spread, 0, "", "", 160 << 20},
      {"threads_under_a_memory_limit_median", median,
       {"-v", "-j", "64", "m.txt"}, {{"m.txt", spread_samples()}}, "249.551\n",
       median_spread, 0, "", "", 160 << 20},

      // "-" is standard input; "./-" a file of that name.
      {"stdin_form", form, {"-"}, {table}, "3.125\n", "", 0, "",
       "0 0\n3 4\n"},
      {"stdin_after_dash_dash", labelled, {"--", "-"}, {}, "50\n", "", 0, "",
       "1 0 0\n2 3 4\n"},
      {"stdin_not_the_file_named_dash", form, {"-"},
       {table, {"-", "0 0\n3 4\n"}}, "0\n",
       "form_kernel_width: <stdin>:" + zero_width, 0, "", "1 1\n1 1\n"},
      {"file_named_dash", form, {"./-"}, {table, {"-", "0 0\n3 4\n"}},
       "3.125\n", "", 0, "", "1 1\n1 1\n"},
      {"stdin_named_in_messages", labelled, {"-"}, {}, "",
       "labelled_kernel_width: <stdin>:2: warning: ignored \"x\" after 2 "
       "values\n"
       "labelled_kernel_width: <stdin>:2: 2 values, expected 3 as on line 1\n",
       1, "", "1 0 0\n2 3 x\n"},
      {"stdin_median", median, {"-"}, {}, "50\n", "", 0, "", "0 0\n3 4\n"},
      {"stdin_empty", form, {"-"}, {table}, "-nan\n",
       "form_kernel_width: <stdin>: warning: no samples\n", 0},
      {"stdin_long_lines", form, {"-"}, {table}, "0\n",
       "form_kernel_width: <stdin>:" + zero_width, 0, "",
       lines(repeat("7 ", 600000), 2)},

      // --verbose: the statistics after the width, standard output unchanged.
      {"verbose_table_rule", form, {"-v", "d.txt"}, {table, two}, "3.125\n",
       "n: 2\ncolumns: 2\nmean: 2.5\nvariance: 6.25\nratio: 1\n"
       "rule: table line 1\n" + form_widths(3.125), 0},
      {"verbose_low_spread", form, {"--verbose", "d.txt"},
       {{"d.txt", low_spread}}, "0.00377028\n",
       "n: 201\ncolumns: 1\nmean: 0.0099007450310635882\n"
       "variance: 0.0098027202788927709\nratio: 0.0099997500062505452\n"
       "rule: ratio < 0.01\n" + form_widths(0.0037702770303433735), 0},
      {"verbose_high_spread", form, {"-v", "d.txt"}, {{"d.txt", unit_vectors()}},
       "1.96098\n", "n: 102\ncolumns: 102\n...", 0},
      {"verbose_after_warnings", form, {"-v", "-"}, {table}, "3.125\n",
       "form_kernel_width: <stdin>:2: warning: ignored \",\" after 2 values\n"
       "n: 2\ncolumns: 2\nmean: 2.5\nvariance: 6.25\nratio: 1\n"
       "rule: table line 1\n" + form_widths(3.125), 0, "", "0 0\n3 4,\n"},
      {"verbose_labelled", labelled, {"-v", "l.txt"},
       {{"l.txt", "0 0 0\n0 3 4\n1 6 8\n"}}, "88.8889\n",
       "n: 3\ncolumns: 2\ntotal: 40\npairs: 6\nmean: 6.666666666666667\n" +
           widths(88.8888888888889, 6.666666666666667),
       0},
      // Every thread count gives the same sums, bit for bit (the expected
      // values were computed independently, in the same order).
      {"threads_form_1", form, {"-v", "-j", "1", "d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", form_spread, 0},
      {"threads_form_2", form, {"-v", "--threads", "2", "d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", form_spread, 0},
      {"threads_form_3", form, {"-v", "-j3", "d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", form_spread, 0},
      {"threads_labelled_1", labelled, {"-v", "-j", "1", "l.txt"},
       {{"l.txt", spread_samples()}}, "212.201\n", labelled_spread, 0},
      {"threads_labelled_3", labelled, {"-v", "--threads=3", "l.txt"},
       {{"l.txt", spread_samples()}}, "212.201\n", labelled_spread, 0},
      {"threads_median_1", median, {"-v", "-j", "1", "m.txt"},
       {{"m.txt", spread_samples()}}, "249.551\n", median_spread, 0},
      {"threads_median_2", median, {"-v", "-j", "2", "m.txt"},
       {{"m.txt", spread_samples()}}, "249.551\n", median_spread, 0},
      {"threads_median_4", median, {"-v", "-j4", "m.txt"},
       {{"m.txt", spread_samples()}}, "249.551\n", median_spread, 0},
      {"progress_forced_median", median, {"--progress", "m.txt"},
       {{"m.txt", spread_samples()}}, "249.551\n",
       "\rmedian_kernel_width: 0% (0.0 s)\x1b[K...", 0},
      // Man pages render without warnings; installing puts everything under
      // the prefix, and the installed program runs.
      {"man_page_form", groff,
       {"-ww", "-z", "-man", SOURCE_DIR "/doc/form_kernel_width.1"}, {}, "",
       "", 0},
      {"man_page_labelled", groff,
       {"-ww", "-z", "-man", SOURCE_DIR "/doc/labelled_kernel_width.1"}, {},
       "", "", 0},
      {"man_page_median", groff,
       {"-ww", "-z", "-man", SOURCE_DIR "/doc/median_kernel_width.1"}, {},
       "", "", 0},
      {"install_into_prefix", shell,
       {"-c", CMAKE_PROGRAM " --install " BUILD_DIR " --prefix \"$PWD/p\" "
              ">/dev/null && cd p && find . -type f ! -path './lib/python*' | "
              "sed 's/Targets-.*[.]cmake/Targets-TYPE.cmake/' | sort && "
              "bin/labelled_kernel_width - && "
              "bin/median_kernel_width ../m.txt"},
       {{"m.txt", "0 0\n3 4\n"}},
       std::string("./bin/form_kernel_width\n") + mpi_program("form") +
           "./bin/labelled_kernel_width\n" + mpi_program("labelled") +
           "./bin/median_kernel_width\n" + mpi_program("median") +
           "./include/kernel_width/engine.h\n"
           "./include/kernel_width/engine_selection.h\n"
           "./include/kernel_width/engine_sums.h\n"
           "./include/kernel_width/kernel_width.h\n"
       "./lib/cmake/KernelWidth/KernelWidthConfig.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthConfigVersion.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthTargets-TYPE.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthTargets.cmake\n"
       "./lib/libkernel_width.a\n./lib/pkgconfig/kernel_width.pc\n"
       "./share/doc/kernel-width/copyright\n"
       "./share/man/man1/form_kernel_width.1\n"
       "./share/man/man1/labelled_kernel_width.1\n"
       "./share/man/man1/median_kernel_width.1\n50\n50\n", "", 0, "",
       "1 0 0\n2 3 4\n"},
      // KERNEL_WIDTH_ISA: a set this CPU does not run is refused before the
      // data is read; help needs no kernels.
      {"isa_unknown_form", form, {"d.txt"}, {table, two}, "",
       "form_kernel_width: KERNEL_WIDTH_ISA: unknown or unsupported \"avx9\"" +
       runs, 1, "", "", 0, "avx9"},
      {"isa_unknown_labelled_escaped", labelled, {"missing.txt"}, {}, "",
       "labelled_kernel_width: KERNEL_WIDTH_ISA: unknown or unsupported "
       "\"base\\t\\x1b\"" + runs, 1, "", "", 0, "base\t\x1b"},
      {"isa_base_same_numbers", form, {"-v", "-j", "2", "d.txt"},
       {table, {"d.txt", spread_samples()}}, "9.90324\n",
       form_spread_statistics + form_widths(9.9032432223215618), 0, "",
       "", 0, "base"},
      {"isa_unknown_help_still_works", form, {"--version"}, {},
       "form_kernel_width " KERNEL_WIDTH_VERSION " (BSD-3-Clause)\n", "", 0,
       "", "", 0, "sse9"},
      // The installed library defines, for the linker, names in namespace
      // kernel_width and instances of the standard library's templates only.
      {"library_symbols_in_namespace", shell,
       {"-c", "nm -C --defined-only --extern-only " BUILD_DIR
              "/src/libkernel_width.a > s && grep -q ' T kernel_width::form(' "
              "s && echo has-form; awk 'NF >= 3 { $1 = $2 = \"\"; "
              "print substr($0, 3) }' s | grep -Ev '^(((typeinfo( name)?|"
              "vtable|guard variable) for )?([^ (]+ )?(kernel_width|std|"
              "__gnu_cxx)::|DW[.]ref[.])'; echo end"}, {},
       "has-form\nend\n", "", 0},
      {"verbose_nothing_when_output_fails", labelled, {"-v", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "",
       "labelled_kernel_width: standard output: No space left on device\n", 1,
       "/dev/full"},

      // A byte-order mark at the start of a file is skipped, in either
      // grammar, on standard input and in the table; lines keep their
      // numbers. Elsewhere it is text like any other.
      {"bom_csv_as_without", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "\xEF\xBB\xBF" "0,0\r\n3,4\r\n"}}, "3.125\n", "", 0},
      {"bom_csv_header_forgotten", labelled, {"-d", ",", "l.csv"},
       {{"l.csv", "\xEF\xBB\xBF" "label,a\n1,0\n"}}, "",
       "labelled_kernel_width: l.csv:1: field 2: \"a\" is not a number "
       "(a header? try --header)\n", 1},
      {"bom_alone", form, {"d.txt"}, {table, {"d.txt", "\xEF\xBB\xBF"}},
       "-nan\n", "form_kernel_width: d.txt: warning: no samples\n", 0},
      {"bom_and_line_feed", form, {"d.txt"},
       {table, {"d.txt", "\xEF\xBB\xBF\n"}}, "",
       "form_kernel_width: d.txt: no values on any line\n", 1},
      {"bom_then_blank_line", form, {"d.txt"},
       {table, {"d.txt", "\xEF\xBB\xBF" "\n0 0\n3 4\n"}}, "",
       "form_kernel_width: d.txt:1: a blank line, expected 2 values as on "
       "line 2\n", 1},
      {"bom_stdin", labelled, {"-"}, {}, "50\n", "", 0, "",
       "\xEF\xBB\xBF" "1 0 0\n2 3 4\n"},
      {"bom_in_table", form, {"d.txt"},
       {{"form_of_relationship.txt", "\xEF\xBB\xBF" "0.5 2\n1.5 4\n"}, two},
       "3.125\n", "", 0},
      {"bom_on_line_2", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,0\n\xEF\xBB\xBF" "3,4\n"}}, "",
       "form_kernel_width: d.csv:2: field 1: \"\\xef\\xbb\\xbf3\" is not a "
       "number\n", 1},

      // --strict: every warning is an error, status 1, nothing on standard
      // output; without warnings it changes nothing.
      {"strict_clean", form, {"--strict", "-v", "d.txt"}, {table, two},
       "3.125\n", "n: 2\n...", 0},
      {"strict_ignored_text", form, {"--strict", "--header", "d.csv"},
       {table, {"d.csv", "x,y\n0,0\n3,4\n"}}, "",
       "form_kernel_width: d.csv:2: error: ignored \",0\" after 1 value (and "
       "on 1 more line); comma-separated? try -d ,\n", 1},
      {"strict_ignored_text_in_table", form, {"--strict", "d.txt"},
       {{"form_of_relationship.txt", "0.5 2\n1.5 4 #\n"}, two}, "",
       "form_kernel_width: form_of_relationship.txt:2: error: ignored \"#\" "
       "after 2 values\n", 1},
      {"strict_no_samples", labelled, {"--strict", "-"}, {}, "",
       "labelled_kernel_width: <stdin>: error: no samples\n", 1},
      {"strict_one_sample", form, {"--strict", "d.txt"},
       {table, {"d.txt", "1 2\n"}}, "",
       "form_kernel_width: d.txt: error: one sample\n", 1},
      {"strict_width_not_finite", form, {"--strict", "-v", "d.txt"},
       {{"form_of_relationship.txt", "1 0\n"}, two}, "",
       "form_kernel_width: d.txt: error: the width is not finite (inf): the "
       "divisor on form_of_relationship.txt:1 is 0\n", 1},
      {"strict_extra_argument", labelled, {"--strict", "l.txt", "x.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "",
       "labelled_kernel_width: extra argument 'x.txt'\nusage: "
       "labelled_kernel_width ...", 2},
      {"strict_after_the_file", labelled, {"l.txt", "--strict"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "",
       "labelled_kernel_width: option '--strict' after the data files: "
       "options go before the data files\nusage: labelled_kernel_width ...",
       2},

      // A width that is not finite, or negative: a warning that says why.
      {"width_distances_overflow", form, {"d.txt"},
       {table, {"d.txt", "0 0\n1e200 1e200\n"}}, "-nan\n",
       "form_kernel_width: d.txt: warning: the width is not finite (-nan): "
       "the distances overflowed\n", 0},
      {"width_negative_divisor", form, {"--table=t.txt", "d.txt"},
       {{"t.txt", "0.5 -2\n"}, two}, "-3.125\n",
       "form_kernel_width: d.txt: warning: the width is negative (-3.125): "
       "the divisor on t.txt:1 is negative\n", 0},
      {"width_labelled_square_overflows", labelled, {"l.txt"},
       {{"l.txt", "1 0\n2 9.5e153\n"}}, "inf\n",
       "labelled_kernel_width: l.txt: warning: the width is not finite "
       "(inf): 2 * mean^2 overflowed\n", 0},
      {"width_labelled_just_finite", labelled, {"l.txt"},
       {{"l.txt", "1 0\n2 9e153\n"}}, "1.62e+308\n", "", 0},
      // A width of 0 (gamma infinite): a warning that says why, from each
      // program; under --strict an error.
      {"zero_width_form", form, {"d.txt"},
       {table, {"d.txt", "1 1\n1 1\n1 1\n"}}, "0\n",
       "form_kernel_width: d.txt:" + zero_width, 0},
      {"zero_width_labelled", labelled, {"l.txt"},
       {{"l.txt", "1 2 2\n2 2 2\n"}}, "0\n",
       "labelled_kernel_width: l.txt:" + zero_width, 0},
      {"zero_width_median_half_the_pairs", median, {"m.txt"},
       {{"m.txt", "0\n0\n0\n0\n1\n"}}, "0\n",
       "median_kernel_width: m.txt: warning: the width is 0: 6 of the 10 "
       "pairs are at distance 0\n", 0},
      {"zero_width_median_half_the_pairs_is_not_0", median, {"m.txt"},
       {{"m.txt", "0\n0\n0\n1\n"}}, "0.5\n", "", 0},
      {"zero_width_strict_form", form, {"--strict", "d.txt"},
       {table, {"d.txt", "1 1\n1 1\n1 1\n"}}, "",
       "form_kernel_width: d.txt: error: the width is 0: every distance is 0 "
       "(all samples coincide)\n", 1},
      {"zero_width_strict_labelled", labelled, {"--strict", "-"}, {}, "",
       "labelled_kernel_width: <stdin>: error: the width is 0: every "
       "distance is 0 (all samples coincide)\n", 1, "", "1 1\n1 1\n1 1\n"},
      {"zero_width_strict_median", median, {"--strict", "m.txt"},
       {{"m.txt", "1 1\n1 1\n1 1\n"}}, "",
       "median_kernel_width: m.txt: error: the width is 0: every distance is "
       "0 (all samples coincide)\n", 1},
      {"zero_width_labelled_underflow", labelled, {"l.txt"},
       {{"l.txt", "1 0\n1 0\n1 0\n1 0\n2 3e-162\n"}}, "0\n",
       "labelled_kernel_width: l.txt: warning: the width is 0: 2 * mean^2 "
       "underflowed\n", 0},
      // A positive median (or quantile) whose width 2 m^2 underflows: the
      // warning says so, and sigma is the distance itself, not sqrt(w / 2).
      {"zero_width_median_underflow", median, {"-v", "m.txt"}, {underflow},
       "0\n", "median_kernel_width: m.txt: warning: the width is 0: 2 * "
       "median^2 underflowed\nn: 4\ncolumns: 1\npairs: 6\nmedian: " +
       tiny + "\n" + widths(0, 1.1113793747425387e-162), 0},
      {"zero_width_quantile_underflow", median,
       {"--output", "sigma", "-q", "0.5,1", "m.txt"}, {underflow},
       "1.11138e-162\n2.22276e-162\n",
       "median_kernel_width: m.txt: warning: the width for p = 0.5 is 0: 2 "
       "* q^2 underflowed\n", 0},
      {"zero_width_quantile_underflow_strict", median,
       {"--strict", "-q", "1,0.5", "m.txt"}, {underflow}, "",
       "median_kernel_width: m.txt: error: the width for p = 0.5 is 0: 2 * "
       "q^2 underflowed\n", 1},
      // No pairs: the one-sample warning alone, whatever -q asks.
      {"quantiles_of_one_sample", median, {"-q", "0,1", "m.txt"},
       {{"m.txt", "1 2\n"}}, "-nan\n-nan\n",
       "median_kernel_width: m.txt: warning: one sample\n", 0},
      // One sample: the ratio is not a number, so the table's row 1 divides
      // the zero variance.
      {"form_one_sample_reads_the_table", form, {"-v", "d.txt"},
       {{"form_of_relationship.txt", "5 4\n0.5 2\n"}, {"d.txt", "1 2\n"}},
       "0\n",
       "form_kernel_width: d.txt: warning: one sample\nn: 1\ncolumns: 2\n"
       "mean: 0\nvariance: 0\nratio: -nan\nrule: table line 1\n" +
           form_widths(0),
       0},
      {"form_one_sample_without_table", form, {"d.txt"}, {{"d.txt", "1 2\n"}},
       "", "form_kernel_width: d.txt: warning: one sample\n"
       "form_kernel_width: form_of_relationship.txt: No such file or "
       "directory\n", 1},

      // --table FILE: the same width as the table in the current directory.
      {"table_in_current_directory", form, {"d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", "", 0},
      {"table_option", form, {"--table", "t/x.txt", "d.txt"},
       {{"t/x.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}}, "19.8065\n",
       "", 0},
      {"table_option_over_the_default", form, {"--table=t/x.txt", "d.txt"},
       {{"t/x.txt", "1 1\n4 2\n"}, table, {"d.txt", spread_samples()}},
       "19.8065\n", "", 0},
      {"table_option_missing_file", form, {"--table", "t/none.txt", "d.txt"},
       {two}, "", "form_kernel_width: t/none.txt: No such file or "
       "directory\n", 1},
      {"table_option_named_in_messages", form, {"--table", "x.txt", "d.txt"},
       {{"x.txt", "0.5\n"}, two}, "",
       "form_kernel_width: x.txt:1: no divisor after the key\n", 1},
      {"table_from_stdin", form, {"--table", "-", "d.txt"}, {two},
       "3.125\n", "", 0, "", "0.5 2\n1.5 4\n"},
      {"table_and_data_both_stdin", form, {"--table", "-", "-"}, {}, "",
       "form_kernel_width: standard input cannot hold both the data and the "
       "table\n" + usage_form, 2},
      {"table_needs_a_name", form, {"--table="}, {}, "",
       "form_kernel_width: option '--table' needs a file name\n" + usage_form,
       2},
      {"table_not_an_option_of_labelled", labelled, {"--table", "t", "l.txt"},
       {}, "", "labelled_kernel_width: unknown option '--table'\n...", 2},
      {"table_prefix_not_the_option", form, {"--tables", "d.txt"}, {}, "",
       "form_kernel_width: unknown option '--tables'\n...", 2},

      // Messages that say what is wrong.
      {"carriage_returns_alone", form, {"d.txt"},
       {table, {"d.txt", "0 0\r3 4\r"}}, "",
       "form_kernel_width: d.txt:1: lines end in a carriage return alone "
       "(classic Mac OS text); convert them to line feeds first, e.g. with "
       "tr '\\r' '\\n'\n", 1},
      {"carriage_returns_alone_delimited", labelled,
       {"-d", ",", "--header", "l.csv"},
       {{"l.csv", "a,b,c\n1,0,0\r2,3,4\r"}}, "",
       "labelled_kernel_width: l.csv:2: lines end in a carriage return "
       "alone...", 1},
      {"quoted_field", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,0\n3,4\n5,\"6\"\n"}}, "",
       "form_kernel_width: d.csv:3: field 2: \"\\\"6\\\"\" is quoted, and "
       "quoted fields are not read (remove the quotes)\n", 1},
      {"quoted_header", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "\"x\",\"y\"\n0,0\n"}}, "",
       "form_kernel_width: d.csv:1: field 1: \"\\\"x\\\"\" is quoted, and "
       "quoted fields are not read (a header? try --header)\n", 1},
      {"first_line_without_a_number", form, {"d.txt"},
       {table, {"d.txt", "nan 1\n0 0\n3 4\n"}}, "",
       "form_kernel_width: d.txt:1: warning: ignored \"nan 1\" after 0 "
       "values\nform_kernel_width: d.txt:1: no number on the line, expected "
       "2 values as on line 2 (a header? try --header)\n", 1},
      {"blank_line_in_the_middle", form, {"d.txt"},
       {table, {"d.txt", "0 0\n\n3 4\n"}}, "",
       "form_kernel_width: d.txt:2: a blank line, expected 2 values as on "
       "line 1\n", 1},
      {"blank_lines_at_end_csv", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,0\n3,4\n\r\n \n"}}, "",
       "form_kernel_width: d.csv:3: a blank line, expected 2 values as on "
       "line 1 (blank lines at the end?)\n", 1},
      {"text_line_is_not_blank", form, {"d.txt"},
       {table, {"d.txt", "0 0\n#\n"}}, "",
       "form_kernel_width: d.txt:2: warning: ignored \"#\" after 0 values\n"
       "form_kernel_width: d.txt:2: 0 values, expected 2 as on line 1\n", 1},
      {"file_name_escaped", form, {"a\x1b[2J\tb.txt"}, {}, "",
       "form_kernel_width: a\\x1b[2J\\tb.txt: No such file or directory\n",
       1},
      {"extra_argument_escaped", form, {"d.txt", "\x1b[2J"}, {table, two},
       "3.125\n",
       "form_kernel_width: warning: ignored extra argument '\\x1b[2J'\n", 0},
      {"threads_zero_every_core", form, {"-v", "-j", "0", "d.txt"},
       {{"form_of_relationship.txt", "1 1\n4 2\n"}, {"d.txt", spread_samples()}},
       "19.8065\n", form_spread, 0},
      {"threads_upper_limit", labelled, {"-j1024", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n"}}, "50\n", "", 0},
      {"threads_negative", labelled, {"-j", "-1", "l.txt"}, {}, "",
       "labelled_kernel_width: bad thread count '-1'\n...", 2},
      {"delimiter_backslash_t", form, {"-d", "\\t", "d.tsv"}, {}, "",
       "form_kernel_width: bad delimiter '\\\\t' (a tab? try -d tab)\n" +
       usage_form, 2},
      {"delimiter_backslash_other", form, {"-d", "\\n", "d.tsv"}, {}, "",
       "form_kernel_width: bad delimiter '\\\\n'\n" + usage_form, 2},
      {"field_largest_double", form, {"-d", ",", "-v", "d.csv"},
       {table, {"d.csv", "0,1.7976931348623157e308\n0,1.7976931348623157e308\n"}},
       "0\n", "form_kernel_width: d.csv:" + zero_width + "n: 2\n...", 0},
      {"field_out_of_range", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "0,1e308\n0,-1e309\n"}}, "",
       "form_kernel_width: d.csv:2: field 2: \"-1e309\" is out of range\n", 1},
      {"field_out_of_range_line_1", form, {"-d", ",", "d.csv"},
       {table, {"d.csv", "1e309,0\n"}}, "",
       "form_kernel_width: d.csv:1: field 1: \"1e309\" is out of range\n", 1},
      {"ignored_in_range_then_not", labelled, {"l.txt"},
       {{"l.txt", "1 2 1e308\n1 2 1e309\n"}}, "",
       "labelled_kernel_width: l.txt:2: warning: ignored \"1e309\" (out of "
       "range) after 2 values\n"
       "labelled_kernel_width: l.txt:2: 2 values, expected 3 as on line 1\n",
       1},
      {"help_output_fails", labelled, {"--help"}, {}, "",
       "labelled_kernel_width: standard output: No space left on device\n", 1,
       "/dev/full"},
      {"version_output_fails", form, {"--version"}, {}, "",
       "form_kernel_width: standard output: No space left on device\n", 1,
       "/dev/full"},
      {"help_lists_strict_and_table", shell,
       {"-c", FORM_PROGRAM " --help | grep -e '^--strict' -e '^--table'; "
              LABELLED_PROGRAM " --help | grep -e '^--strict' -e '^--table'"},
       {},
       "--strict: every warning is an error (\"error\" in place of "
       "\"warning\"):\n--table FILE: read the table from FILE instead of\n"
       "--strict: every warning is an error (\"error\" in place of "
       "\"warning\"):\n", "", 0},
  };
}
// clang-format on

// A shell function, then its calls: `same A B` runs two command lines of
// median or labelled -v (no data file: each gives its own) and prints
// "same" when both print the same bytes (standard error too).
const std::string same_function =
    "same() { a=$(eval \"$1\" 2>&1); b=$(eval \"$2\" 2>&1); "
    "if [ \"$a\" = \"$b\" ]; then echo same; else echo \"$a\"; echo \"$b\"; "
    "fi; }; ";

// `inside PROGRAM KEY OPTIONS`: the exact run's -v values of KEY (width,
// sigma or gamma, one per width) each within the sampled run's low: and
// high: (which --output chooses): "inside", or the values.
const std::string inside_function =
    "inside() { p=$1; k=$2; shift 2; "
    "$p -v \"$@\" 2>&1 >/dev/null | awk -v k=$k: '$1 == k { print $2 }' > e; "
    "$p -v --sample 20000 --output $k \"$@\" 2>&1 >/dev/null | "
    "awk '$1 == \"low:\" || $1 == \"high:\" { print $2 }' | paste - - > i; "
    "paste e i | awk '{ if (!($2 <= $1 && $1 <= $3)) bad = 1 } "
    "END { print (bad || NR == 0) ? \"outside\" : \"inside\" }'; }; ";

const std::string usage_labelled_end =
    "       [--sample M [--seed S] [--confidence C]] DATAFILE\n";

// clang-format off
// --sample: the options' usage errors end to end (their boundaries are in
// the unit tests), the verbose lines, the same bytes for any thread count
// and from a file or a pipe, the exact value inside the interval, and a
// file larger than the memory allowed.
std::vector<Case> sampled_cases() {
  const std::string m = MEDIAN_PROGRAM;
  const std::string l = LABELLED_PROGRAM;
  const std::pair<std::string, std::string> spread = {"s.txt",
                                                      spread_samples()};
  const std::string split =
      "head -n 120 s.txt > x.txt && tail -n +121 s.txt > y.txt && ";
  return {
      {"sample_zero", median, {"--sample", "0", "m.txt"}, {four}, "",
       "median_kernel_width: bad sample size '0' (a whole number of pairs "
       "from 1 to 2^63)\n" + usage_median, 2},
      {"sample_past_two_to_the_63", labelled,
       {"--sample", "9223372036854775809", "l.txt"}, {}, "",
       "labelled_kernel_width: bad sample size '9223372036854775809' (a whole "
       "number of pairs from 1 to 2^63)\nusage: labelled_kernel_width ...", 2},
      // 2^63 is a sample size; no machine holds its pairs.
      {"sample_two_to_the_63", median, {"--sample", "9223372036854775808",
       "m.txt"}, {four}, "", "median_kernel_width: m.txt: out of memory\n", 1},
      {"sample_seed_alone", labelled, {"--seed", "1", "l.txt"}, {}, "",
       "labelled_kernel_width: option '--seed' needs --sample M\n"
       "usage: labelled_kernel_width ...", 2},
      {"sample_confidence_one", median, {"--sample", "9", "--confidence", "1",
       "m.txt"}, {four}, "", "median_kernel_width: bad confidence '1' (a "
       "number between 0 and 1, both excluded)\n" + usage_median, 2},
      {"sample_refused_by_form", form, {"--sample", "9", "d.txt"},
       {table, two}, "", "form_kernel_width: option '--sample' is not taken: "
       "this width follows a rule that jumps at thresholds of the spread "
       "ratio, so a sampled ratio gives no meaningful interval of widths (the "
       "median and labelled programs take --sample)\n" + usage_form, 2},
      {"sample_usage_line_labelled", shell,
       {"-c", l + " 2>&1 | tail -n 1"}, {}, usage_labelled_end, "", 0},
      // The verbose lines: the estimate as the exact run gives its value,
      // then the interval (in the chosen output), C, M, N, seed, ranks.
      {"sample_verbose_median", median,
       {"-v", "--sample", "1000", "--seed", "7", "m.txt"}, {four}, "200\n",
       "n: 4\ncolumns: 2\nmedian: 10\n" + widths(200, 10) +
       "low: 50\nhigh: 200\nconfidence: 0.99\nsample: 1000\npairs: 6\n"
       "seed: 7\nranks: 458 541\n", 0},
      {"sample_verbose_quantiles_gamma", median,
       {"-v", "--sample=1000", "--seed=7", "--output", "gamma", "-q", "0.25,1",
        "m.txt"}, {four}, "0.02\n0.00222222\n",
       "n: 4\ncolumns: 2\np: 0.25\nquantile: 5\n" + widths(50, 5) +
       "low: 0.02\nhigh: 0.02\nconfidence: 0.99\nsample: 1000\npairs: 6\n"
       "seed: 7\nranks: 294 372\np: 1\nquantile: 15\n" + widths(450, 15) +
       "low: 0.0022222222222222222\nhigh: 0.0022222222222222222\n"
       "confidence: 0.99\nsample: 1000\npairs: 6\nseed: 7\nranks: 999 863\n",
       0},
      {"sample_verbose_labelled", labelled,
       {"-v", "--sample", "100", "--output", "sigma", "l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n1 6 8\n"}}, "7\n",
       "n: 3\ncolumns: 2\nmean: 7\n" + widths(98, 7) +
       "low: 4.7356742474448446\nhigh: 9.2643257525551714\n"
       "confidence: 0.99\nsample: 100\npairs: 3\nseed: 0\n", 0},
      {"sample_seed_random_shown", shell,
       {"-c", m + " -v --sample 10 --seed random m.txt 2>&1 | "
        "awk -F': ' '$1 == \"seed\" { s = $2 } END { print (s ~ /^[0-9]+$/) }'"},
       {four}, "1\n", "", 0},
      // No pairs: the one-sample warning, NaN as the exact run, no ranks.
      {"sample_one_sample", median, {"-v", "--sample", "5", "o.txt"},
       {{"o.txt", "1 2\n"}}, "-nan\n",
       "median_kernel_width: o.txt: warning: one sample\nn: 1\ncolumns: 2\n"
       "median: -nan\nsigma: -nan\ngamma: -nan\nwidth: -nan\nlow: -nan\n"
       "high: -nan\nconfidence: 0.99\nsample: 5\npairs: 0\nseed: 0\n"
       "ranks: none none\n", 0},
      // A width of 0 says how many of the drawn pairs coincide, at least.
      {"sample_zero_width_median", median, {"--sample", "1000", "-q", "0.5,1",
       "z.txt"}, {{"z.txt", lines("1 2", 5) + "1 3\n"}}, "0\n2\n",
       "median_kernel_width: z.txt: warning: the width for p = 0.5 is 0: at "
       "least 500 of the 1000 drawn pairs are at distance 0\n", 0},
      {"sample_zero_width_labelled_strict", labelled,
       {"--strict", "--sample", "10", "z.txt"}, {{"z.txt", lines("0 1 2", 3)}},
       "", "labelled_kernel_width: z.txt: error: the width is 0: every drawn "
       "distance is 0\n", 1},
      // The same bytes for any thread count, and from a pipe (the rows held)
      // as from a file (read twice, the needed rows kept).
      {"sample_same_bytes_threads_and_pipes", shell,
       {"-c", split + same_function +
        "same '" + m + " -v -j 1 --sample 3000 -q 0.1,0.5 s.txt' '" + m +
        " -v -j 3 --sample 3000 -q 0.1,0.5 s.txt' && "
        "same '" + l + " -v -j 1 --sample 3000 s.txt' '" + l +
        " -v -j 2 --sample 3000 s.txt' && "
        "same '" + m + " -v --sample 3000 s.txt' '" + m +
        " -v --sample 3000 - < s.txt' && "
        "same '" + m + " -v --sample 3000 --seed 5 x.txt y.txt' 'cat x.txt | " +
        m + " -v --sample 3000 --seed 5 - y.txt' && "
        "same '" + m + " -v --sample 3000 --cross x.txt y.txt' 'cat y.txt | " +
        m + " -v -j 1 --sample 3000 --cross x.txt -' && "
        ": > e.txt && same '" + m + " -v --sample 3000 -q 1 e.txt s.txt' "
        "'cat s.txt | " + m + " -v --sample 3000 -q 1 e.txt -' && "
        "same '" + m + " -v --sample 3000 -q 1 s.txt e.txt' 'cat s.txt | " +
        m + " -v --sample 3000 -q 1 - e.txt' && "
        "gzip -k s.txt && same '" + l + " -v --sample 999 s.txt.gz' 'cat s.txt | " +
        l + " -v --sample 999 -' && "
        "awk '{ print \"class\" NR % 3 \",\" $1 \",\" $2 \",\" $3 }' s.txt > c.csv && "
        "same '" + m + " -v --sample 2000 -d , --label 1 c.csv' 'cat c.csv | " +
        m + " -v --sample 2000 -d , --label 1 -'"},
       {spread}, lines("same", 9), "", 0},
      // A file read in many passes (a row budget of one row, then of ten
      // rows of s.txt: the budget's variable is there for this test) gives
      // the bytes of the rows held from a pipe, in every pairing, both
      // programs, gzip and a label column; 4 and 2 pairs of 300 samples
      // keep the first samples as a sorted list instead of a bit table.
      {"sample_several_passes_same_bytes", shell,
       {"-c", split + same_function +
        "awk '{ print \"class\" NR % 3 \",\" $1 \",\" $2 \",\" $3 }' s.txt > c.csv && "
        "gzip -k y.txt && for budget in " + sample_budgets + "; do "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 3000 -q 0,0.1,0.5,1 s.txt' '" + m +
        " -v --sample 3000 -q 0,0.1,0.5,1 - < s.txt' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 3000 --seed 5 x.txt y.txt.gz' 'cat x.txt | " +
        m + " -v --sample 3000 --seed 5 - y.txt' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 3000 --cross y.txt x.txt' 'cat x.txt | " +
        m + " -v --sample 3000 --cross y.txt -' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 4 -q 0,1 s.txt' '" + m +
        " -v --sample 4 -q 0,1 - < s.txt' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 2 --cross x.txt y.txt' 'cat y.txt | " +
        m + " -v --sample 2 --cross x.txt -' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + l + " -v --sample 999 s.txt' 'cat s.txt | " +
        l + " -v --sample 999 -' && "
        "same 'KERNEL_WIDTH_SAMPLE_BUDGET='$budget' " + m + " -v --sample 2000 -d , --label 1 c.csv' 'cat c.csv | " +
        m + " -v --sample 2000 -d , --label 1 -' || break; done"},
       {spread}, lines("same", 7 * sample_budget_count), "", 0},
      // The exact value lies in the interval, in each output and pairing.
      {"sample_interval_holds_the_exact_value", shell,
       {"-c", split + inside_function +
        "inside " + m + " width s.txt && inside " + m + " gamma -q 0,0.3,1 s.txt && "
        "inside " + m + " sigma x.txt y.txt && "
        "inside " + m + " width --cross -q 0.9 x.txt y.txt && "
        "inside " + l + " width s.txt && inside " + l + " gamma s.txt"},
       {spread}, lines("inside", 6), "", 0},
      // A file larger than the memory allowed is sampled from disk; the
      // exact run, which holds every row, runs out of memory as before.
      // (The limit is the shell's own, set after awk has written the file.)
      {"sample_file_larger_than_memory", shell,
       {"-c", "awk 'BEGIN { for (i = 0; i < 2500000; i++) print i % 1000, "
        "i % 777 }' > big.txt && ulimit -v 16384 && " + m +
        " --sample 1000 big.txt; echo $?; " + m + " big.txt; echo $?; " + l +
        " --sample 100 -v big.txt 2>&1 | tail -n 1"},
       {}, "426090\n0\n1\nseed: 0\n",
       "median_kernel_width: big.txt: out of memory\n", 0, "", "",
       std::size_t{1} << 30},
  };
}
// clang-format on

// The cases for this build: under the sanitizers the library is not the
// one installed (its unoptimised kernels leave inline functions for the
// linker), so its symbols are checked in the plain build only.
std::vector<Case> cases() {
  std::vector<Case> all = all_cases();
  for (Case& c : sampled_cases()) all.push_back(std::move(c));
#ifdef SANITIZED
  std::erase_if(all, [](const Case& c) {
    return c.name == "library_symbols_in_namespace";
  });
#endif
  return all;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void matches(const std::string& actual, const std::string& expected,
             const char* what) {
  const std::string dots = "...";
  if (expected.size() >= 3 && expected.ends_with(dots)) {
    const std::string head = expected.substr(0, expected.size() - 3);
    EXPECT_EQ(actual.substr(0, head.size()), head) << what;
  } else {
    EXPECT_EQ(actual, expected) << what;
  }
}

// Writes text to fd and closes it; the reader may stop early.
void feed(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote <= 0) break;
    done += static_cast<std::size_t>(wrote);
  }
  close(fd);
}

// Starts the program in dir with stdin from a pipe carrying c.stdin_text;
// returns its status.
int run(const Case& c, const fs::path& dir, const fs::path& out,
        const fs::path& err) {
  std::vector<std::string> words = {c.program};
  words.insert(words.end(), c.args.begin(), c.args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::string out_path =
      c.stdout_path.empty() ? out.string() : c.stdout_path;
  int in[2];
  if (pipe(in) != 0) return -1;
  signal(SIGPIPE, SIG_IGN);  // a program may exit without reading its input
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    close(in[1]);
    const int in_fd = in[0];
    const int out_fd =
        open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || chdir(dir.c_str()) != 0)
      _exit(127);
    if (!c.isa.empty()) setenv("KERNEL_WIDTH_ISA", c.isa.c_str(), 1);
    if (c.memory_limit) {
      const rlimit limit{c.memory_limit, c.memory_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    // A program that hangs is killed by the alarm, which outlives exec,
    // and fails its case with status 142 rather than stall the suite.
    alarm(60);
    execv(c.program, argv.data());
    _exit(127);
  }
  close(in[0]);
  feed(in[1], c.stdin_text);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Cli : public testing::TestWithParam<Case> {};

// Runs the case in a fresh directory and checks what it printed.
void check(const Case& c) {
  if (*c.program == '\0') GTEST_SKIP() << "program not installed";
  if (c.memory_limit && !limited) GTEST_SKIP() << "under the sanitizers";
  // The whole suite runs again with KERNEL_WIDTH_ISA set to each set; the
  // set the programs choose by themselves repeats the run without it.
  const auto& forced = kernel_width::detail::selected_isa();
  if (!forced.ok)
    GTEST_SKIP() << "this CPU does not run KERNEL_WIDTH_ISA's set";
  const char* name = std::getenv("KERNEL_WIDTH_ISA");
  if (name && *name && forced.chosen == kernel_width::detail::best_isa())
    GTEST_SKIP() << "KERNEL_WIDTH_ISA's set is the one chosen without it";
  char pattern[] = "/tmp/cli_test_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path base = pattern;
  const fs::path dir = base / "run";
  fs::create_directory(dir);
  for (const auto& [name, text] : c.files) {
    fs::create_directories((dir / name).parent_path());
    std::ofstream(dir / name) << text;
  }
  const int status = run(c, dir, base / "out", base / "err");
  EXPECT_EQ(status, c.status);
  if (c.stdout_path.empty()) matches(slurp(base / "out"), c.out, "stdout");
  matches(slurp(base / "err"), c.err, "stderr");
  fs::remove_all(base);
}

TEST_P(Cli, Runs) { check(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Programs, Cli, testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

// The data sets that ship with scikit-learn, as they are laid out: each
// command prints the same as the same numbers rewritten the plain way.
const std::string sklearn_data =
    "/usr/lib/python3/dist-packages/sklearn/"
    "datasets/data/";

// After `before`, the program's -v output on `options path`, and on `plain`
// (a pipeline writing the plain file to standard output) read from standard
// input; "same" when they agree, both otherwise.
std::vector<std::string> same_as(const char* program,
                                 const std::string& options,
                                 const std::string& path,
                                 const std::string& plain,
                                 const std::string& before = "true") {
  const std::string p = std::string(program) + " -v ";
  return {"-c", before + " && a=$(" + p + options + " " + path +
                    " 2>&1) && b=$(" + plain + " | " + p +
                    "- 2>&1) && if [ \"$a\" = \"$b\" ]; then echo same; "
                    "else echo \"$a\"; echo \"$b\"; fi"};
}

// clang-format off
std::vector<Case> real_data() {
  const std::string iris = sklearn_data + "iris.csv";
  const std::string wine = sklearn_data + "wine_data.csv";
  const std::string boston = sklearn_data + "boston_house_prices.csv";
  const std::string digits = sklearn_data + "digits.csv.gz";
  const std::string class_first =
      "tail -n +2 " + iris + " | awk -F, '{ print $5, $1, $2, $3, $4 }'";
  const std::string in_words =
      "tail -n +2 " + iris + " | awk -F, 'BEGIN { split(\"Iris-setosa "
      "Iris-versicolor Iris-virginica\", name, \" \") } { print $1 \",\" $2 "
      "\",\" $3 \",\" $4 \",\" name[$5 + 1] }' > w.csv";
  return {
      {"iris_label_last", shell,
       same_as(labelled, "-d , --header --label last", iris, class_first),
       {}, "same\n", "", 0},
      {"iris_label_as_a_word", shell,
       same_as(labelled, "-d , --label last", "w.csv", class_first, in_words),
       {}, "same\n", "", 0},
      {"wine_form_leaves_the_class_out", shell,
       same_as(form, "-d , --header --label last", wine,
               "tail -n +2 " + wine + " | cut -d, -f1-13 | tr , ' '"),
       {table}, "same\n", "", 0},
      {"boston_two_lines_before", shell,
       same_as(form, "-d , --skip-lines 2", boston,
               "tail -n +3 " + boston + " | tr , ' '"),
       {table}, "same\n", "", 0},
      {"digits_compressed", shell,
       same_as(labelled, "-d , --label last", digits,
               "zcat " + digits + " | awk -F, '{ l = $NF; $NF = \"\"; "
               "print l, $0 }'"),
       {}, "same\n", "", 0},
  };
}
// clang-format on

class RealData : public testing::TestWithParam<Case> {};

TEST_P(RealData, SameAsPlain) {
  if (!fs::exists(sklearn_data + "iris.csv"))
    GTEST_SKIP() << "no scikit-learn data in " << sklearn_data;
  check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Programs, RealData, testing::ValuesIn(real_data()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
