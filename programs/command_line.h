// The command line that the programs share.
#pragma once

#include <string>

#include "reader.h"

enum class progress_mode { automatic, on, off };

// What the command line asks for.
struct options {
  std::string file;      // the data file; "-" is standard input
  unsigned threads = 0;  // 0: as many as the process may use
  bool verbose = false;
  read_options reading;  // how to read the data file
  progress_mode progress = progress_mode::automatic;
  bool strict = false;  // every warning ends the run with status 1
  std::string table = "form_of_relationship.txt";  // for programs with one
};

// The parsed command line: run with opts, or end at once with status, once
// help, the version or a usage error has been printed.
struct command {
  bool run = false;
  int status = 0;
  options opts;
};

// Reads the command line of the programs (the usage line in
// command_line.cpp). Options stand before the data file; later arguments
// draw a warning each and are ignored (under --strict they are a usage
// error). For -h and --help, `help` (the program's own description) goes
// between the usage line and the options. --table FILE is an option only
// where `table` says so.
command command_line(int argc, char** argv, const char* program,
                     const char* help, bool table = false);
