#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "interrupt.h"

std::string duration_text(double seconds) {
  char text[64];
  if (seconds < 90)
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  else if (seconds < 90 * 60)
    std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
  else if (seconds < 48 * 3600)
    std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  else
    std::snprintf(text, sizeof text, "%.1f days", seconds / 86400);
  return text;
}

std::string sampling_note(const char* program, std::uint64_t pairs,
                          double rate) {
  const double seconds = static_cast<double>(pairs) / rate;
  if (!(seconds > note_beyond)) return "";
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.2g", rate);
  return std::string(program) + ": note: the " + std::to_string(pairs) +
         " pairs will take about " + duration_text(seconds) + " (" + speed +
         " a second); --sample 1000000 gives an estimate with an interval "
         "in seconds";
}

progress::progress(const char* program, progress_mode mode,
                   std::uint64_t pairs, bool suggest)
    : program_(program),
      pairs_(pairs),
      start_(std::chrono::steady_clock::now()) {
  shown_ = mode == progress_mode::on ||
           (mode == progress_mode::automatic && pairs >= progress_pairs &&
            isatty(STDERR_FILENO));
  timed_ = suggest && pairs >= note_pairs;
  if (!shown_ && !timed_) return;
  if (shown_) {
    draw();
    erase_line_on_interrupt();
  }
  try {
    drawer_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      while (!wake_.wait_for(lock, std::chrono::milliseconds(100),
                             [this] { return stop_; })) {
        if (timed_ && !decided_ && timed_note() && !shown_) return;
        if (shown_) draw();
      }
    });
  } catch (const std::system_error&) {
    // No thread for it: the line stays at 0% until it is erased.
  }
}

progress::~progress() { finish(); }

std::atomic<std::uint64_t>* progress::counter() {
  return shown_ || timed_ ? &done : nullptr;
}

double progress::elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                       start_)
      .count();
}

// Once pairs have been counted for note_after seconds: the note, if their
// rate predicts a long run. True once decided.
bool progress::timed_note() {
  const double seconds = elapsed();
  const std::uint64_t counted = done.load(std::memory_order_relaxed);
  if (counted == 0) return false;
  if (first_seconds_ < 0) {
    first_seconds_ = seconds;
    first_count_ = counted;
  }
  if (seconds - first_seconds_ < note_after) return false;
  decided_ = true;
  const double rate = static_cast<double>(counted - first_count_) /
                      (seconds - first_seconds_);
  const std::string note = sampling_note(program_, pairs_, rate);
  if (note.empty()) return true;
  std::fprintf(stderr, "%s%s\n", shown_ ? "\r\033[K" : "", note.c_str());
  std::fflush(stderr);
  return true;
}

void progress::draw() {
  const double seconds = elapsed();
  const double part =
      pairs_ == 0 ? 0.0
                  : static_cast<double>(done.load(std::memory_order_relaxed)) /
                        static_cast<double>(pairs_);
  char line[160];
  const double left = part > 0.0 ? seconds * (1 - part) / part : 0.0;
  if (part > 0.0 && part < 1.0 && left < 90)
    std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f s, about %.1f s left)",
                  program_, 100 * part, seconds, left);
  else if (part > 0.0 && part < 1.0)
    std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f s, about %s left)",
                  program_, 100 * part, seconds, duration_text(left).c_str());
  else
    std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f s)", program_,
                  100 * part, seconds);
  std::fputs(line, stderr);
  std::fputs("\033[K", stderr);  // clears what a longer line left
  std::fflush(stderr);
}

void progress::finish() {
  if (!shown_ && !drawer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (drawer_.joinable()) drawer_.join();
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  restore_interrupts();
  shown_ = false;
}
