#include "interrupt.h"

#include <signal.h>

#if defined(_WIN32)
#include <io.h>

// Windows has no sigaction: the C library's signal(), which puts the
// default action back before the handler runs, as SA_RESETHAND does.
namespace {

using action = void (*)(int);
constexpr int interrupts[] = {SIGINT, SIGTERM};
action saved[2];
bool replaced[2] = {};

extern "C" void erase_and_end(int signal) {
  static const char erase[] = "\r\033[K";
  const int ignored = _write(2, erase, sizeof erase - 1);
  static_cast<void>(ignored);
  raise(signal);
}

}  // namespace

void erase_line_on_interrupt() {
  for (int k = 0; k < 2; ++k) {
    if (replaced[k]) continue;
    const action old = signal(interrupts[k], erase_and_end);
    if (old == SIG_ERR) continue;
    if (old == SIG_IGN) {
      signal(interrupts[k], SIG_IGN);
      continue;
    }
    saved[k] = old;
    replaced[k] = true;
  }
}

void restore_interrupts() {
  for (int k = 0; k < 2; ++k)
    if (replaced[k]) {
      signal(interrupts[k], saved[k]);
      replaced[k] = false;
    }
}

#else
#include <unistd.h>

namespace {

constexpr int interrupts[] = {SIGINT, SIGTERM};
struct sigaction saved[2];
bool replaced[2] = {};

// Only async-signal-safe calls: write(2), and raise(3) once the action is
// back to the default (SA_RESETHAND), so the signal ends the program when
// the handler returns.
extern "C" void erase_and_end(int signal) {
  static const char erase[] = "\r\033[K";
  const ssize_t ignored = write(STDERR_FILENO, erase, sizeof erase - 1);
  static_cast<void>(ignored);
  raise(signal);
}

}  // namespace

void erase_line_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = erase_and_end;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int k = 0; k < 2; ++k) {
    if (replaced[k] || sigaction(interrupts[k], nullptr, &saved[k]) != 0 ||
        saved[k].sa_handler == SIG_IGN)
      continue;
    replaced[k] = sigaction(interrupts[k], &action, nullptr) == 0;
  }
}

void restore_interrupts() {
  for (int k = 0; k < 2; ++k)
    if (replaced[k]) {
      sigaction(interrupts[k], &saved[k], nullptr);
      replaced[k] = false;
    }
}

#endif
