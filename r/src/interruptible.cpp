#include "interruptible.h"

#include <pthread.h>
#include <signal.h>

namespace {

void check_interrupt(void*) { R_CheckUserInterrupt(); }

}  // namespace

bool interrupt_pending() {
  // R_CheckUserInterrupt jumps out on an interrupt; R_ToplevelExec stops
  // the jump here and says so.
  return R_ToplevelExec(check_interrupt, nullptr) == FALSE;
}

std::thread start_blocking_signals(std::packaged_task<void()> task) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  std::thread worker;
  try {
    worker = std::thread(std::move(task));
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return worker;
}
