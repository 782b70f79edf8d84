// Messages on standard error, as "program: FILE:LINE: what is wrong", and
// the output on standard output.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_line.h"

// The name messages give a file: "<stdin>" for "-", otherwise the path
// escaped as by visible().
std::string shown_name(const std::string& path);

// The word before a warning's text: "warning", or "error" under --strict,
// where every warning ends the run with status 1.
const char* warning_word(bool strict);

// text with every byte that is not printable ASCII, and '"' and '\\', in
// C escapes (\t, \r, \x00, \xef), so that it cannot garble a terminal.
std::string visible(std::string_view text);

// "text" cut at `cut` bytes and escaped; "..." after it when cut.
std::string quoted(std::string_view text, std::size_t cut);

// "1 value", "2 values".
std::string values(std::size_t count);

// Prints "program: message" on standard error; returns 1, the exit status
// for bad input.
int fail(const char* program, const std::string& message);

// Prints "program: message" on standard error unless message is empty.
void warn(const char* program, const std::string& message);

// "program: name: out of memory", with what was asked for when known
// (bytes > 0); returns 1.
int out_of_memory(const char* program, const std::string& name,
                  std::size_t bytes = 0);

// Writes text to standard output and flushes. Returns the exit status: 0,
// or 1 after "program: standard output: reason" when the write failed.
int print_out(const char* program, const std::string& text);

// Writes width to standard output as one line in the stream's default
// notation (%g, as width_text gives it), as print_out does.
int print_width(const char* program, double width);

// The kernel's parameter the options ask for: the width, its sigma or its
// gamma (as the library's results give them).
double parameter(output_kind kind, double width, double sigma, double gamma);

// The --verbose lines of a width's parameters: sigma, gamma, then the width
// (last, so that a script finds it on the last line).
std::vector<std::pair<std::string, std::string>> parameter_lines(
    double width, double sigma, double gamma);

// A width as standard output shows it: "3.125", "-nan", "inf".
std::string width_text(double width);

// A value as the --verbose report gives it: 17 significant digits (%.17g).
std::string exact(double value);

// Writes the --verbose report to standard error, one "name: value" a line.
void report(const std::vector<std::pair<std::string, std::string>>& lines);

// Checks that KERNEL_WIDTH_ISA names an instruction set this CPU runs;
// otherwise prints why and returns 1. Returns 0 when it does.
int check_isa(const char* program);
