// A progress line on standard error for long runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "command_line.h"

// Pairs from which the line is shown by default: about 10^9 distances.
constexpr std::uint64_t progress_pairs = 1000000000;

// "program: 42% (3.1 s, about 4.2 s left)", redrawn at most 10 times a
// second while `pairs` pairs are computed, and erased by finish() (or when
// the program leaves early, or is interrupted by SIGINT or SIGTERM). Shown
// when mode is on, or automatic with standard error a terminal and at least
// progress_pairs pairs.
struct progress {
  progress(const char* program, progress_mode mode, std::uint64_t pairs);
  ~progress();
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;

  // The counter the computation adds its pairs to; nullptr when no line is
  // shown.
  std::atomic<std::uint64_t>* counter();

  // Erases the line; the width may be printed after it.
  void finish();

  std::atomic<std::uint64_t> done{0};

 private:
  void draw();

  const char* program_;
  std::uint64_t pairs_;
  bool shown_ = false;
  bool stop_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread drawer_;
};
