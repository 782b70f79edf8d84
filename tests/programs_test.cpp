// Runs the built programs on fixture files in a fresh temporary directory and
// checks standard output, standard error and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

const std::pair<std::string, std::string> table = {"form_of_relationship.txt",
                                                   "0.5 2\n1.5 4\n"};
const std::pair<std::string, std::string> two = {"d.txt", "0 0\n3 4\n"};

const std::string usage_form =
    "usage: form_kernel_width [-h | --help | --version] [-j N | --threads N] "
    "[-v | --verbose]\n"
    "       [-d CHAR | --delimiter CHAR] [--header] [--progress | "
    "--no-progress] DATAFILE\n";

// Resource limits do not mix with the sanitizers' own memory.
#ifdef SANITIZED
constexpr std::size_t limited = 0;
#else
constexpr std::size_t limited = 1;
#endif

// The end of the message for an instruction set this CPU does not run.
const std::string runs =
    " (this CPU runs: " + kernel_width::detail::supported_isas() + ")\n";

const std::string form_spread =
    "n: 300\ncolumns: 3\nmean: 12.102500965926183\n"
    "variance: 39.612972889286247\nratio: 3.6975394409203433\n"
    "rule: table line 2\n";
const std::string labelled_spread =
    "n: 300\ncolumns: 2\ntotal: 923955.9141379752\npairs: 89700\n"
    "mean: 10.300511863299612\n";

// One case a row, laid out by hand.
// clang-format off
std::vector<Case> cases() {
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
      {"form_coincident_samples", form, {"d.txt"},
       {table, {"d.txt", "1 1\n1 1\n1 1\n"}}, "0\n", "", 0},
      {"form_negative_divisor", form, {"d.txt"},
       {{"form_of_relationship.txt", "0.5 -2\n"}, {"d.txt", "1 1\n1 1\n"}},
       "-0\n", "", 0},
      {"form_zero_divisor", form, {"d.txt"},
       {{"form_of_relationship.txt", "1 0\n"}, two}, "inf\n", "", 0},
      {"form_extra_arguments_ignored", form, {"d.txt", "more", "-x"},
       {table, two}, "3.125\n", "", 0},
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
      {"labelled_coincident", labelled, {"l.txt"},
       {{"l.txt", "1 2 2\n2 2 2\n"}}, "0\n", "", 0},
      {"labelled_empty", labelled, {"l.txt"}, {{"l.txt", ""}}, "-nan\n",
       "labelled_kernel_width: l.txt: warning: no samples\n", 0},
      {"labelled_one_sample", labelled, {"l.txt"}, {{"l.txt", "1 2 3\n"}},
       "-nan\n", "labelled_kernel_width: l.txt: warning: one sample\n", 0},

      // Bad data.
      {"missing_data", form, {"none.txt"}, {table}, "",
       "form_kernel_width: none.txt: No such file or directory\n", 1},
      {"data_is_a_directory", labelled, {"."}, {}, "",
       "labelled_kernel_width: .: Is a directory\n", 1},
      {"unequal_rows", form, {"d.txt"}, {table, {"d.txt", "1 2 3\n4 5 6\n7 8\n"}},
       "", "form_kernel_width: d.txt:3: 2 values, expected 3 as on line 1\n", 1},
      {"blank_line_at_end", labelled, {"l.txt"},
       {{"l.txt", "1 0 0\n2 3 4\n\n"}}, "",
       "labelled_kernel_width: l.txt:3: 0 values, expected 3 as on line 1\n", 1},
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
      {"bad_thread_count", labelled, {"-j", "0", "l.txt"}, {}, "",
       "labelled_kernel_width: bad thread count '0'\nusage: "
       "labelled_kernel_width ...", 2},
      {"help", form, {"--help"}, {}, usage_form + "...", "", 0},
      {"help_short", labelled, {"-h"}, {}, "usage: labelled_kernel_width ...",
       "", 0},
      {"version", labelled, {"--version"}, {}, "labelled_kernel_width ...", "",
       0},

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
      {"warn_byte_order_mark_then_fail", form, {"d.txt"},
       {table, {"d.txt", "\xEF\xBB\xBF" "0 0\r\n3 4\r\n"}}, "",
       "form_kernel_width: d.txt:1: warning: ignored \"\\xef\\xbb\\xbf0 0\" "
       "after 0 values\n"
       "form_kernel_width: d.txt:2: 2 values, expected 0 as on line 1 (a "
       "header on line 1? try --header)\n", 1},
      {"warn_number_too_large", labelled, {"l.txt"},
       {{"l.txt", "1 2 1e400 3\n1 2 5\n"}}, "",
       "labelled_kernel_width: l.txt:1: warning: ignored \"1e400 3\" after 2 "
       "values\n"
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
       "form_kernel_width: d.csv:2: 1 value, expected 0 as on line 1 (a "
       "header on line 1? try --header)\n", 1},
      {"bad_delimiter", form, {"-d", "ab", "d.csv"}, {}, "",
       "form_kernel_width: bad delimiter 'ab'\n" + usage_form, 2},
      {"delimiter_that_is_part_of_numbers", form, {"-d", ".", "d.csv"}, {}, "",
       "form_kernel_width: bad delimiter '.'\n" + usage_form, 2},
      {"delimiter_missing", labelled, {"l.csv", "-d"}, {{"l.csv", "1 0 0\n2 3 4\n"}},
       "50\n", "", 0},
      {"delimiter_needs_a_value", labelled, {"--delimiter"}, {}, "",
       "labelled_kernel_width: option '--delimiter' needs a character\n"
       "usage: labelled_kernel_width ...", 2},

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

      // "-" is standard input; "./-" a file of that name.
      {"stdin_form", form, {"-"}, {table}, "3.125\n", "", 0, "",
       "0 0\n3 4\n"},
      {"stdin_after_dash_dash", labelled, {"--", "-"}, {}, "50\n", "", 0, "",
       "1 0 0\n2 3 4\n"},
      {"stdin_not_the_file_named_dash", form, {"-"},
       {table, {"-", "0 0\n3 4\n"}}, "0\n", "", 0, "", "1 1\n1 1\n"},
      {"file_named_dash", form, {"./-"}, {table, {"-", "0 0\n3 4\n"}},
       "3.125\n", "", 0, "", "1 1\n1 1\n"},
      {"stdin_named_in_messages", labelled, {"-"}, {}, "",
       "labelled_kernel_width: <stdin>:2: warning: ignored \"x\" after 2 "
       "values\n"
       "labelled_kernel_width: <stdin>:2: 2 values, expected 3 as on line 1\n",
       1, "", "1 0 0\n2 3 x\n"},
      {"stdin_empty", form, {"-"}, {table}, "-nan\n",
       "form_kernel_width: <stdin>: warning: no samples\n", 0},
      {"stdin_long_lines", form, {"-"}, {table}, "0\n", "", 0, "",
       lines(repeat("7 ", 600000), 2)},

      // --verbose: the statistics after the width, standard output unchanged.
      {"verbose_table_rule", form, {"-v", "d.txt"}, {table, two}, "3.125\n",
       "n: 2\ncolumns: 2\nmean: 2.5\nvariance: 6.25\nratio: 1\n"
       "rule: table line 1\n", 0},
      {"verbose_low_spread", form, {"--verbose", "d.txt"},
       {{"d.txt", low_spread}}, "0.00377028\n",
       "n: 201\ncolumns: 1\nmean: 0.0099007450310635882\n"
       "variance: 0.0098027202788927709\nratio: 0.0099997500062505452\n"
       "rule: ratio < 0.01\n", 0},
      {"verbose_high_spread", form, {"-v", "d.txt"}, {{"d.txt", unit_vectors()}},
       "1.96098\n", "n: 102\ncolumns: 102\n...", 0},
      {"verbose_after_warnings", form, {"-v", "-"}, {table}, "3.125\n",
       "form_kernel_width: <stdin>:2: warning: ignored \",\" after 2 values\n"
       "n: 2\ncolumns: 2\nmean: 2.5\nvariance: 6.25\nratio: 1\n"
       "rule: table line 1\n", 0, "", "0 0\n3 4,\n"},
      {"verbose_labelled", labelled, {"-v", "l.txt"},
       {{"l.txt", "0 0 0\n0 3 4\n1 6 8\n"}}, "88.8889\n",
       "n: 3\ncolumns: 2\ntotal: 40\npairs: 6\nmean: 6.666666666666667\n",
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
      // Man pages render without warnings; installing puts everything under
      // the prefix, and the installed program runs.
      {"man_page_form", groff,
       {"-ww", "-z", "-man", SOURCE_DIR "/doc/form_kernel_width.1"}, {}, "",
       "", 0},
      {"man_page_labelled", groff,
       {"-ww", "-z", "-man", SOURCE_DIR "/doc/labelled_kernel_width.1"}, {},
       "", "", 0},
      {"install_into_prefix", shell,
       {"-c", CMAKE_PROGRAM " --install " BUILD_DIR " --prefix \"$PWD/p\" "
              ">/dev/null && cd p && find . -type f ! -path './lib/python*' | "
              "sed 's/Targets-.*[.]cmake/Targets-TYPE.cmake/' | sort && "
              "bin/labelled_kernel_width -"}, {},
       std::string("./bin/form_kernel_width\n") + mpi_program("form") +
           "./bin/labelled_kernel_width\n" + mpi_program("labelled") +
           "./include/kernel_width/kernel_width.h\n"
       "./lib/cmake/KernelWidth/KernelWidthConfig.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthConfigVersion.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthTargets-TYPE.cmake\n"
       "./lib/cmake/KernelWidth/KernelWidthTargets.cmake\n"
       "./lib/libkernel_width.a\n./lib/pkgconfig/kernel_width.pc\n"
       "./share/man/man1/form_kernel_width.1\n"
       "./share/man/man1/labelled_kernel_width.1\n50\n", "", 0, "",
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
       {table, {"d.txt", spread_samples()}}, "9.90324\n", form_spread, 0, "",
       "", 0, "base"},
      {"isa_unknown_help_still_works", form, {"--version"}, {},
       "form_kernel_width 1.0.0\n", "", 0, "", "", 0, "sse9"},
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
  };
}
// clang-format on

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

TEST_P(Cli, Runs) {
  const Case& c = GetParam();
  if (*c.program == '\0') GTEST_SKIP() << "program not installed";
  if (c.memory_limit && !limited) GTEST_SKIP() << "under the sanitizers";
  // The whole suite runs again with KERNEL_WIDTH_ISA set to each set.
  if (!kernel_width::detail::selected_isa().ok)
    GTEST_SKIP() << "this CPU does not run KERNEL_WIDTH_ISA's set";
  char pattern[] = "/tmp/cli_test_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path base = pattern;
  const fs::path dir = base / "run";
  fs::create_directory(dir);
  for (const auto& [name, text] : c.files) std::ofstream(dir / name) << text;
  const int status = run(c, dir, base / "out", base / "err");
  EXPECT_EQ(status, c.status);
  if (c.stdout_path.empty()) matches(slurp(base / "out"), c.out, "stdout");
  matches(slurp(base / "err"), c.err, "stderr");
  fs::remove_all(base);
}

INSTANTIATE_TEST_SUITE_P(Programs, Cli, testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
