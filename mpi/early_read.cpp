#include "early_read.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include "messages.h"
#include "samples.h"

namespace {

using kernel_width::packed_samples;

// Whether the launcher says this process is rank 0 (Open MPI, PMIx, and
// the PMI of MPICH's and others' launchers).
bool launched_as_root() {
  for (const char* name : {"OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK"})
    if (const char* value = std::getenv(name))
      return std::strcmp(value, "0") == 0;
  return false;
}

// The command line, parsed without a word: it is parsed again, aloud,
// once MPI has started.
command quiet_command_line(int argc, char** argv, const mpi_program& p) {
  std::streambuf* out = std::cout.rdbuf(nullptr);
  std::streambuf* error = std::cerr.rdbuf(nullptr);
  command cmd = command_line(argc, argv, p.name, p.help, p.kind);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(error);
  std::cout.clear();
  std::cerr.clear();
  return cmd;
}

// What comes through the pipe: this header, the messages, the panels.
struct header {
  std::uint64_t read = 0;  // 1: samples follow; 0: reading failed
  std::uint64_t said = 0;  // bytes of messages
  std::uint64_t n = 0, cols = 0, values = 0;
};

bool write_all(int fd, const void* data, std::size_t bytes) {
  const auto* at = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t done = write(fd, at, bytes);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    bytes -= static_cast<std::size_t>(done);
  }
  return true;
}

bool read_all(int fd, void* data, std::size_t bytes) {
  auto* at = static_cast<char*>(data);
  while (bytes > 0) {
    const ssize_t done = read(fd, at, bytes);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    bytes -= static_cast<std::size_t>(done);
  }
  return true;
}

// The child: reads as rank 0 would, and sends what it got.
[[noreturn]] void read_and_send(int to, const mpi_program& p, options opts) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // rank 0 gone: nobody to read for
  std::ostringstream said;
  std::cerr.rdbuf(said.rdbuf());
  const std::size_t first = p.reading(opts);
  const std::optional<packed_samples> s = read_packed(p.name, opts, first);
  const std::string text = said.str();
  header h{s ? 1u : 0u, text.size(), 0, 0, 0};
  if (s) h = {1, text.size(), s->n, s->cols, s->panels.size()};
  const bool sent =
      write_all(to, &h, sizeof h) && write_all(to, text.data(), text.size()) &&
      (!s || write_all(to, s->panels.data(), h.values * sizeof(double)));
  _exit(sent ? 0 : 1);
}

// The child's samples and messages; nothing when it did not send them all.
std::optional<std::pair<std::optional<packed_samples>, std::string>> receive(
    early_read& e, const mpi_program& p, const options& opts) {
  header h;
  if (!read_all(e.from, &h, sizeof h)) return std::nullopt;
  std::string text(h.said, '\0');
  if (!read_all(e.from, text.data(), text.size())) return std::nullopt;
  std::optional<packed_samples> s;
  if (h.read == 1) {
    s.emplace();
    s->n = h.n;
    s->cols = h.cols;
    try {
      s->panels.resize(h.values);
    } catch (const std::bad_alloc&) {
      std::cerr << text;
      out_of_memory(p.name, shown_name(opts.file), h.values * sizeof(double));
      return std::pair{std::optional<packed_samples>{}, std::string{}};
    }
    if (!read_all(e.from, s->panels.data(), h.values * sizeof(double)))
      return std::nullopt;
  }
  return std::pair{std::move(s), std::move(text)};
}

// Ends the child, if it has not ended, and returns its wait status.
int reap(early_read& e) {
  close(e.from);  // a child still writing ends at once
  kill(e.child, SIGKILL);
  int status = 0;
  while (waitpid(e.child, &status, 0) < 0 && errno == EINTR) {
  }
  e.child = -1;
  return status;
}

// How the child ended: "was killed by signal 9 (Killed)".
std::string child_end(int status) {
  if (WIFSIGNALED(status))
    return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended with status " + std::to_string(WEXITSTATUS(status));
}

// Whether path can be read again from its start, as a regular file can; a
// pipe, a FIFO, a terminal or a socket gives what the child took to it
// alone. A path that is gone is read again, for the system's reason.
bool readable_again(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

}  // namespace

void start_early_read(early_read& e, int argc, char** argv,
                      const mpi_program& p) {
  if (!launched_as_root()) return;
  const command cmd = quiet_command_line(argc, argv, p);
  // Two data files (the median's) are read after MPI_Init, by the program.
  if (!cmd.run || cmd.opts.file == "-" || !cmd.opts.second.empty()) return;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    read_and_send(ends[1], p, cmd.opts);
  }
  close(ends[1]);
  if (child < 0) {
    close(ends[0]);
    return;
  }
  e = {child, ends[0]};
}

std::optional<packed_samples> read_on_root(early_read& e, const mpi_program& p,
                                           const options& opts,
                                           std::size_t first) {
  if (e.child < 0) return read_packed(p.name, opts, first);
  auto got = receive(e, p, opts);
  const int status = reap(e);
  if (!got) {  // the child failed: what it took of a pipe is lost
    if (readable_again(opts.file)) return read_packed(p.name, opts, first);
    fail(p.name, shown_name(opts.file) + ": its reading process " +
                     child_end(status) +
                     "; not a regular file, it cannot be read again");
    return std::nullopt;
  }
  std::cerr << got->second;
  std::cerr.flush();
  return std::move(got->first);
}

void end_early_read(early_read& e) {
  if (e.child >= 0) reap(e);
}
