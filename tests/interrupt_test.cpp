// SIGINT and SIGTERM erase a progress line and end the program as the
// signal would; an ignored signal stays ignored; finish() puts the actions
// back. Each case runs in a child process with standard error in a file.
#include "interrupt.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "progress.h"

namespace {

struct ending {
  int signal = 0;  // the signal that ended the child, or 0
  int status = 0;  // its exit status otherwise
  std::string err;
};

// Runs body in a child whose standard error goes to a file.
ending in_child(const std::function<void()>& body) {
  char name[] = "/tmp/interrupt_test_XXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, STDERR_FILENO);
    // A test run in the background of a shell without job control starts
    // with SIGINT ignored, which the progress line would rightly keep.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    body();
    std::fflush(stderr);
    _exit(7);
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  ending e;
  if (WIFSIGNALED(status))
    e.signal = WTERMSIG(status);
  else
    e.status = WEXITSTATUS(status);
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  e.err = text.str();
  std::remove(name);
  return e;
}

const std::string erase = "\r\x1b[K";

// Sends the signal to this process and waits up to a second for it to end
// it: another thread (the progress line's) may be the one that takes it,
// while this one would run on to its exit.
void raise_and_wait(int signal) {
  kill(getpid(), signal);
  for (int i = 0; i < 100; ++i) usleep(10000);
}

TEST(Interrupt, ErasesTheLineThenEndsAsTheSignalWould) {
  for (const int signal : {SIGINT, SIGTERM}) {
    const ending e = in_child([signal] {
      progress line("p", progress_mode::on, 100);
      raise_and_wait(signal);
    });
    EXPECT_EQ(e.signal, signal);
    EXPECT_EQ(e.err.substr(0, 3), "\rp:");
    ASSERT_GE(e.err.size(), erase.size());
    EXPECT_EQ(e.err.substr(e.err.size() - erase.size()), erase);
  }
}

TEST(Interrupt, IgnoredSignalStaysIgnored) {
  const ending e = in_child([] {
    std::signal(SIGINT, SIG_IGN);
    progress line("p", progress_mode::on, 100);
    kill(getpid(), SIGINT);
    line.finish();
    std::fputs("after", stderr);
  });
  EXPECT_EQ(e.signal, 0);
  EXPECT_EQ(e.status, 7);
  EXPECT_TRUE(e.err.ends_with(erase + "after")) << e.err;
}

// Once the line is gone the default action is back: nothing is written.
TEST(Interrupt, FinishRestoresTheActions) {
  const ending e = in_child([] {
    progress line("p", progress_mode::on, 100);
    line.finish();
    std::fputs("done", stderr);
    std::fflush(stderr);
    raise_and_wait(SIGTERM);
  });
  EXPECT_EQ(e.signal, SIGTERM);
  EXPECT_TRUE(e.err.ends_with(erase + "done")) << e.err;
}

}  // namespace
