// A progress line on standard error for long runs, and a note suggesting a
// sample of pairs when an exact run will be long.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "command_line.h"

// Pairs from which the line is shown by default: about 10^9 distances.
constexpr std::uint64_t progress_pairs = 1000000000;

// Pairs from which a run is timed for the note: fewer never take a minute
// on data that fits in memory.
constexpr std::uint64_t note_pairs = 10000000;

// How long a run is timed, from its first pairs counted, before its length
// is predicted, in seconds.
constexpr double note_after = 2.0;

// The longest run, in seconds, that goes without the note.
constexpr double note_beyond = 60.0;

// "42 s", "25 min", "3.5 h", "2.1 days": a duration as the note and the
// progress line give it.
std::string duration_text(double seconds);

// The note for a run of `pairs` pairs at `rate` pairs a second, when it is
// predicted to take more than note_beyond seconds: "PROGRAM: note: the
// 4999950000 pairs will take about 25 min (3.3e+06 a second); --sample
// 1000000 gives an estimate with an interval in seconds"; "" otherwise.
std::string sampling_note(const char* program, std::uint64_t pairs,
                          double rate);

// "program: 42% (3.1 s, about 4.2 s left)", redrawn at most 10 times a
// second while `pairs` pairs are computed, and erased by finish() (or when
// the program leaves early, or is interrupted by SIGINT or SIGTERM). Shown
// when mode is on, or automatic with standard error a terminal and at least
// progress_pairs pairs. With `suggest`, a run of note_pairs pairs or more
// is timed for note_after seconds from its first pairs counted (what came
// before, reading and packing, is not computing), and sampling_note printed
// once, line shown or not.
struct progress {
  progress(const char* program, progress_mode mode, std::uint64_t pairs,
           bool suggest = false);
  ~progress();
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;

  // The counter the computation adds its pairs to; nullptr when no line is
  // shown and the run is not timed.
  std::atomic<std::uint64_t>* counter();

  // Erases the line; the width may be printed after it.
  void finish();

  std::atomic<std::uint64_t> done{0};

 private:
  void draw();
  bool timed_note();
  double elapsed() const;

  const char* program_;
  std::uint64_t pairs_;
  bool shown_ = false;
  bool timed_ = false;   // the run is timed for the note
  // The drawer's: the note is printed or not needed, and when (in seconds)
  // the first pairs were counted, and how many.
  bool decided_ = false;
  double first_seconds_ = -1.0;
  std::uint64_t first_count_ = 0;
  bool stop_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread drawer_;
};
