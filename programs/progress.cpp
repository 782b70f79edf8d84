#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "interrupt.h"

progress::progress(const char* program, progress_mode mode, std::uint64_t pairs)
    : program_(program),
      pairs_(pairs),
      start_(std::chrono::steady_clock::now()) {
  shown_ = mode == progress_mode::on ||
           (mode == progress_mode::automatic && pairs >= progress_pairs &&
            isatty(STDERR_FILENO));
  if (!shown_) return;
  draw();
  erase_line_on_interrupt();
  try {
    drawer_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      while (!wake_.wait_for(lock, std::chrono::milliseconds(100),
                             [this] { return stop_; }))
        draw();
    });
  } catch (const std::system_error&) {
    // No thread for it: the line stays at 0% until it is erased.
  }
}

progress::~progress() { finish(); }

std::atomic<std::uint64_t>* progress::counter() {
  return shown_ ? &done : nullptr;
}

void progress::draw() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
          .count();
  const double part =
      pairs_ == 0 ? 0.0
                  : static_cast<double>(done.load(std::memory_order_relaxed)) /
                        static_cast<double>(pairs_);
  char line[160];
  if (part > 0.0 && part < 1.0)
    std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f s, about %.1f s left)",
                  program_, 100 * part, elapsed, elapsed * (1 - part) / part);
  else
    std::snprintf(line, sizeof line, "\r%s: %.0f%% (%.1f s)", program_,
                  100 * part, elapsed);
  std::fputs(line, stderr);
  std::fputs("\033[K", stderr);  // clears what a longer line left
  std::fflush(stderr);
}

void progress::finish() {
  if (!shown_) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (drawer_.joinable()) drawer_.join();
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  restore_interrupts();
  shown_ = false;
}
