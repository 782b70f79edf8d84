// The MPI programs under mpirun, 1 to 4 ranks of 1 or 2 threads, against
// the plain programs on the same files: standard output, standard error
// (the --verbose numbers, warnings and messages) and the exit status, bit
// for bit; and the faults, which must end every rank with one message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct program_pair {
  const char* plain;
  const char* mpi;
};
const program_pair form = {FORM_PROGRAM, FORM_MPI_PROGRAM};
const program_pair labelled = {LABELLED_PROGRAM, LABELLED_MPI_PROGRAM};
const program_pair median = {MEDIAN_PROGRAM, MEDIAN_MPI_PROGRAM};

struct outcome {
  int status = 0;  // -1: still running after the time allowed, killed
  std::string out, err;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs words in dir, standard input from stdin_path; kills the whole
// process group after `seconds`: a rank left waiting is a fault.
outcome run(std::vector<std::string> words, const fs::path& dir,
            const std::string& stdin_path = "/dev/null", int seconds = 60) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const fs::path out = dir / ".out", err = dir / ".err";
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(dir.c_str()) != 0 ||
        !std::freopen(stdin_path.c_str(), "r", stdin) ||
        !std::freopen(out.c_str(), "w", stdout) ||
        !std::freopen(err.c_str(), "w", stderr))
      _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return {-1, slurp(out), slurp(err)};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          slurp(out), slurp(err)};
}

// mpirun's words for P ranks: quiet, so that a non-zero status brings no
// note of mpirun's own; threads unbound; as root where the tests run so.
// (ob1, the transport every machine has: Open MPI would spend a fifth of a
// second of each start probing for fast networks first; and no second's
// wait, after a job that ended with a status other than 0, before mpirun
// kills what is left of it: the ranks have all exited by then.)
std::vector<std::string> mpirun(int ranks) {
  std::vector<std::string> words = {
      MPIRUN, "-q", "--oversubscribe", "--bind-to", "none", "--mca", "pml",
      "ob1", "--mca", "odls_base_sigkill_timeout", "0"};
  if (geteuid() == 0) words.push_back("--allow-run-as-root");
  words.insert(words.end(), {"-n", std::to_string(ranks)});
  return words;
}

using file_list = std::vector<std::pair<std::string, std::string>>;

// A fresh directory holding the relationship-form table and `files`.
struct scratch {
  fs::path dir;
  explicit scratch(
      const std::vector<std::pair<std::string, std::string>>& files) {
    char pattern[] = "/tmp/mpi_test_XXXXXX";
    dir = mkdtemp(pattern);
    std::ofstream(dir / "form_of_relationship.txt")
        << "0.5 2\n1.5 4\n2.5 5\n4 7\n";
    for (const auto& [name, text] : files) std::ofstream(dir / name) << text;
  }
  ~scratch() { fs::remove_all(dir); }
};

// n rows of cols values, value(i, c) each, written as %.17g and separated
// by `separator`.
std::string table(std::size_t n, std::size_t cols,
                  const std::function<double(std::size_t, std::size_t)>& value,
                  const char* separator = " ") {
  std::string text;
  char number[32];
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t c = 0; c < cols; ++c) {
      std::snprintf(number, sizeof number, "%.17g", value(i, c));
      text += (c ? separator : "") + std::string(number);
    }
    text += '\n';
  }
  return text;
}

// P ranks of T threads (P = 0: started without mpirun, MPI's one rank;
// under mpirun one rank needs no MPI); share: KERNEL_WIDTH_MPI_SHARE, the ranks
// that share a copy of the samples ("1": each its own, the bands dealt by rank
// 0; "2" on 3 or 4 ranks: two copies, as on two machines; "3" on 4: a
// copy of 3 ranks and one of 1), or unset (or not a count, "0"): one copy,
// the bands taken from the counter there.
struct mpi_run {
  int ranks = 1, threads = 1;
  const char* share = nullptr;
};

struct data_set {
  std::string name;
  std::string text;
  std::vector<std::string> args;  // before the file
  std::vector<mpi_run> runs;
  std::string file = "data.txt";
};

// Every combination on the first data set; on the others, each count of
// ranks and of threads, and each way of sharing the samples, once.
const std::vector<mpi_run> every_run = {
    {0, 2},      {1, 1},      {1, 2},      {2, 1},      {2, 2},
    {3, 1},      {3, 2},      {4, 1},      {4, 2},      {2, 1, "1"},
    {3, 2, "1"}, {4, 1, "2"}, {3, 2, "2"}, {4, 2, "3"}, {3, 1, "0"}};
const std::vector<mpi_run> some_runs = {
    {1, 2}, {2, 1}, {3, 2, "2"}, {4, 1, "1"}};

std::vector<data_set> data_sets() {
  std::mt19937_64 gen(17);
  std::normal_distribution<double> normal(0.0, 2.0);
  std::uniform_int_distribution<int> pick(0, 15);
  auto r = [&](std::size_t, std::size_t) { return normal(gen); };
  auto grid = [&](std::size_t, std::size_t) { return pick(gen) * 0.25 + 4096; };
  return {
      {"clustered",
       table(301, 5,
             [&](std::size_t i, std::size_t c) {
               return r(i, c) + static_cast<double>(i % 5 * 3);
             }),
       {},
       every_run},
      {"ties_on_a_grid_of_quarters", table(700, 2, grid), {}, some_runs},
      // 376 bands, the last one short: many ranges dealt to every rank.
      {"many_bands",
       table(3001, 3, r),
       {},
       {{2, 1}, {3, 2}, {4, 1}, {2, 2, "1"}, {4, 1, "2"}}},
      {"integers_pythagorean",
       table(300, 3,
             [](std::size_t i, std::size_t c) {
               return static_cast<double>((i * 3 + c * 4) % 12);
             }),
       {},
       some_runs},
      {"powers_of_two",
       table(260, 4,
             [&](std::size_t, std::size_t) {
               return std::ldexp(1.0, pick(gen));
             }),
       {},
       some_runs},
      {"repeated_points",
       table(333, 3,
             [](std::size_t i, std::size_t) { return i % 2 ? 1.0 : 0.0; }),
       {},
       some_runs},
      {"all_equal",
       table(90, 3, [](std::size_t, std::size_t) { return 7.5; }),
       {},
       some_runs},
      {"subnormal_squares",
       table(150, 3,
             [&](std::size_t, std::size_t) { return pick(gen) * 1e-160; }),
       {},
       some_runs},
      {"overflowing_squares",
       table(70, 3,
             [](std::size_t i, std::size_t) { return i % 3 ? 1e200 : -1e200; }),
       {},
       some_runs},
      {"no_samples", "", {}, {{4, 1}, {4, 1, "2"}, {0, 1}}},
      {"one_sample", "1 2 3\n", {}, {{4, 2}, {3, 1, "1"}}},
      {"two_samples", "1 2 3\n4 6 3\n", {}, {{4, 1}, {4, 2, "2"}}},
      {"three_samples",
       "1 2 3\n4 6 3\n0 0 1\n",
       {},
       {{4, 2}, {2, 1}, {3, 1, "1"}}},
      {"delimited_with_header",
       "a,b,c\n" + table(40, 3, r, ","),
       {"-d", ",", "--header"},
       {{3, 1}},
       "data.csv"},
      {"ignored_text_warning", "1 2 3 x\n4 5 6\n7 8 9,\n", {}, {{2, 2}}},
  };
}

void PrintTo(const data_set& d, std::ostream* out) { *out << d.name; }

class MpiPrograms : public testing::TestWithParam<data_set> {};

// The MPI programs' shared memory in /dev/shm (left only by a rank killed
// while the others opened it).
std::set<std::string> shared_memory() {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator("/dev/shm"))
    if (entry.path().filename().string().rfind("kernel_width_mpi.", 0) == 0)
      names.insert(entry.path().filename());
  return names;
}

// The plain program's every output, and the MPI program's for each run:
// with `args` before the data file, and `after` it.
void expect_same(const program_pair& p, const data_set& d,
                 const std::vector<std::string>& args = {},
                 const std::vector<std::string>& after = {},
                 const std::vector<mpi_run>* runs = nullptr) {
  const scratch s(file_list{{d.file, d.text}, {"other.txt", d.text}});
  std::vector<std::string> plain = {p.plain, "-v"};
  plain.insert(plain.end(), d.args.begin(), d.args.end());
  plain.insert(plain.end(), args.begin(), args.end());
  plain.push_back(d.file);
  plain.insert(plain.end(), after.begin(), after.end());
  const outcome want = run(plain, s.dir);
  ASSERT_EQ(want.status, 0) << want.err;
  ASSERT_FALSE(want.out.empty());
  const std::set<std::string> left_before = shared_memory();
  for (const mpi_run& r : runs ? *runs : d.runs) {
    std::vector<std::string> words;
    if (r.ranks > 0) words = mpirun(r.ranks);
    if (r.share)
      words.insert(words.end(),
                   {"-x", std::string("KERNEL_WIDTH_MPI_SHARE=") + r.share});
    words.insert(words.end(), {p.mpi, "-j", std::to_string(r.threads)});
    words.insert(words.end(), plain.begin() + 1, plain.end());
    const outcome got = run(words, s.dir);
    const std::string what = std::string(p.mpi) + " with " +
                             std::to_string(r.ranks) + " ranks of " +
                             std::to_string(r.threads) + " threads, sharing " +
                             (r.share ? r.share : "all");
    EXPECT_EQ(got.status, want.status) << what << "\n" << got.err;
    EXPECT_EQ(got.out, want.out) << what;
    EXPECT_EQ(got.err, want.err) << what;
  }
  // The shared memory is gone once the ranks have mapped it.
  EXPECT_EQ(shared_memory(), left_before);
}

TEST_P(MpiPrograms, FormPrintsThePlainProgramsWidthAndNumbers) {
  expect_same(form, GetParam());
}

TEST_P(MpiPrograms, LabelledPrintsThePlainProgramsWidthAndNumbers) {
  expect_same(labelled, GetParam());
}

// The median on every data set, 1 to 4 ranks of 1 or 2 threads on the
// first; quantiles and both pairings of two files on a few (the second file
// the first's samples again: every distance of the pooled set twice, and 0
// across on the diagonal). The overflowing squares put nearly half their
// distances, infinite, in the selection's last bucket.
TEST_P(MpiPrograms, MedianPrintsThePlainProgramsNumbers) {
  const data_set& d = GetParam();
  const std::vector<mpi_run> few = {{2, 2}, {3, 1, "2"}};
  expect_same(median, d, {}, {}, d.name == "clustered" ? &every_run : &few);
  if (d.name != "clustered" && d.name != "ties_on_a_grid_of_quarters" &&
      d.name != "repeated_points" && d.name != "three_samples" &&
      d.name != "overflowing_squares")
    return;
  expect_same(median, d, {"-q", "0,0.1,0.5,0.9,1"}, {}, &few);
  expect_same(median, d, {"--output", "gamma"}, {"other.txt"}, &few);
  expect_same(median, d, {"--cross", "-q", "0.5,0.25"}, {"other.txt"},
              &few);
}

INSTANTIATE_TEST_SUITE_P(DataSets, MpiPrograms, testing::ValuesIn(data_sets()),
                         [](const auto& info) { return info.param.name; });

// The data on standard input reaches rank 0, which reads it.
TEST(MpiFaults, StandardInputIsReadByRankZero) {
  const scratch s(file_list{{"in.txt", "0 0\n3 4\n6 8\n"}});
  const outcome want = run({form.plain, "-v", "-"}, s.dir, "in.txt");
  std::vector<std::string> words = mpirun(3);
  words.insert(words.end(), {form.mpi, "-v", "-"});
  const outcome got = run(words, s.dir, (s.dir / "in.txt").string());
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, want.out);
  EXPECT_EQ(got.err, want.err);
}

// What a fifo_writer does to the FIFO's reader halfway: nothing, kill it,
// or remove the FIFO and then kill it.
enum class halfway { go_on, kill_reader, remove_and_kill };

// A FIFO in dir that a thread feeds with text once a reader has opened it,
// all at once or, with a victim, half first: then the process that holds
// the FIFO open (rank 0's reading child) is killed before the rest. Each
// wait is bounded, so that a run that never reads ends the thread too.
struct fifo_writer {
  fs::path path;
  std::thread thread;

  fifo_writer(const fs::path& fifo, std::string text, halfway then)
      : path(fifo) {
    const bool victim = then != halfway::go_on;
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    signal(SIGPIPE, SIG_IGN);  // writing on after the reader is gone
    thread = std::thread([this, text = std::move(text), victim, then] {
      const int fd = open_for_writing();
      if (fd < 0) return;
      const std::size_t half = victim ? text.size() / 2 : text.size();
      write_all(fd, text.substr(0, half));
      if (victim) {
        kill_holder(then == halfway::remove_and_kill);
        write_all(fd, text.substr(half));
      }
      close(fd);
    });
  }
  ~fifo_writer() { thread.join(); }

  // Waits up to a minute for a reader; -1 when none comes.
  int open_for_writing() const {
    for (int tries = 0; tries < 6000; ++tries) {
      const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        fcntl(fd, F_SETFL, 0);
        return fd;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "nobody opened " << path;
    return -1;
  }

  static void write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
      if (wrote <= 0) return;  // the reader is gone
      done += static_cast<std::size_t>(wrote);
    }
  }

  // The process that holds the FIFO open for reading, 0 when none does.
  pid_t holder() const {
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; proc != end;
         proc.increment(ec)) {
      const std::string pid = proc->path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      std::error_code fd_ec;
      for (fs::directory_iterator fd(proc->path() / "fd", fd_ec); fd != end;
           fd.increment(fd_ec)) {
        std::error_code link_ec;
        if (fs::read_symlink(fd->path(), link_ec) == path &&
            std::stoi(pid) != getpid())
          return std::stoi(pid);
      }
    }
    return 0;
  }

  // Kills the holder (after removing the FIFO, if asked: the holder is
  // found by its name) and waits until it is dead (a zombie or gone).
  void kill_holder(bool remove_first) const {
    pid_t pid = 0;
    for (int tries = 0; tries < 1000 && pid == 0; ++tries) {
      pid = holder();
      if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid == 0) {
      ADD_FAILURE() << "no reader of " << path << " to kill";
      return;
    }
    if (remove_first) fs::remove(path);
    kill(pid, SIGKILL);
    const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int tries = 0; tries < 1000; ++tries) {
      const std::string fields = slurp(stat);
      const std::size_t paren = fields.rfind(')');
      if (paren == std::string::npos || fields.compare(paren + 2, 1, "Z") == 0)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
};

// A data file that cannot be read twice (a FIFO, as `<(zcat d.gz)` gives):
// read whole by rank 0's early reading child, the plain program's output;
// the child killed halfway, one message and status 1 on every rank, never
// the rest of the stream taken for the whole, and no rank left waiting.
TEST(MpiFaults, AFifoIsReadOnceAndWholeOrNotAtAll) {
  const std::string text = table(4000, 4, [](std::size_t i, std::size_t c) {
    return static_cast<double>((i * 17 + c * 3) % 101) / 8;
  });
  const scratch s(file_list{{"d.txt", text}});
  const outcome want = run({form.plain, "-v", "d.txt"}, s.dir);
  ASSERT_EQ(want.status, 0) << want.err;
  std::vector<std::string> words = mpirun(2);
  words.insert(words.end(), {form.mpi, "-v", "d.fifo"});
  {
    const fifo_writer feed(s.dir / "d.fifo", text, halfway::go_on);
    const outcome got = run(words, s.dir, "/dev/null", 60);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
  }
  fs::remove(s.dir / "d.fifo");
  {
    const fifo_writer feed(s.dir / "d.fifo", text, halfway::kill_reader);
    const outcome got = run(words, s.dir, "/dev/null", 60);
    EXPECT_EQ(got.status, 1) << got.err;
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err,
              "form_kernel_width: d.fifo: its reading process was killed by "
              "signal 9 (Killed); not a regular file, it cannot be read "
              "again\n");
  }
  // Gone by the time its reader died: the system's reason, as for a data
  // file that was never there.
  fs::remove(s.dir / "d.fifo");
  const fifo_writer feed(s.dir / "d.fifo", text, halfway::remove_and_kill);
  const outcome got = run(words, s.dir, "/dev/null", 60);
  EXPECT_EQ(got.status, 1) << got.err;
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "form_kernel_width: d.fifo: No such file or directory\n");
}

struct fault {
  std::string name;
  const program_pair* program;
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> files;
  int status;
  std::string env = "";  // NAME=VALUE for both runs
};

void PrintTo(const fault& f, std::ostream* out) { *out << f.name; }

class MpiFault : public testing::TestWithParam<fault> {};

// One message, the plain program's, and its status, from every rank count;
// no rank left waiting.
TEST_P(MpiFault, EndsEveryRankWithThePlainProgramsMessage) {
  const fault& f = GetParam();
  scratch s(f.files);
  if (f.name == "missing_table") fs::remove(s.dir / "form_of_relationship.txt");
  std::vector<std::string> env_words;
  if (!f.env.empty()) env_words = {"/usr/bin/env", f.env};
  std::vector<std::string> plain = env_words;
  plain.push_back(f.program->plain);
  plain.insert(plain.end(), f.args.begin(), f.args.end());
  const outcome want = run(plain, s.dir);
  ASSERT_EQ(want.status, f.status) << want.err;
  for (const int ranks : {1, 3}) {
    std::vector<std::string> words = env_words;
    const std::vector<std::string> start = mpirun(ranks);
    words.insert(words.end(), start.begin(), start.end());
    words.push_back(f.program->mpi);
    words.insert(words.end(), f.args.begin(), f.args.end());
    const outcome got = run(words, s.dir, "/dev/null", 60);
    EXPECT_EQ(got.status, f.status) << ranks << " ranks\n" << got.err;
    EXPECT_EQ(got.out, want.out) << ranks << " ranks";
    EXPECT_EQ(got.err, want.err) << ranks << " ranks";
  }
}

const std::pair<std::string, std::string> good = {"d.txt", "0 0\n3 4\n"};

INSTANTIATE_TEST_SUITE_P(
    Faults, MpiFault,
    testing::Values(
        fault{"bad_file", &form, {"d.txt"}, {{"d.txt", "1 2\n3\n"}}, 1},
        fault{"bad_labelled_file",
              &labelled,
              {"d.txt"},
              {{"d.txt", "1\n2\n"}},
              1},
        fault{"no_such_file", &labelled, {"none.txt"}, {}, 1},
        fault{"median_bad_second_file",
              &median,
              {"d.txt", "e.txt"},
              {good, {"e.txt", "1 2\n3\n"}},
              1},
        fault{"median_columns_differ",
              &median,
              {"--cross", "d.txt", "e.txt"},
              {good, {"e.txt", "1 2 3\n"}},
              1},
        fault{"median_bad_quantile", &median, {"-q", "2", "d.txt"}, {good}, 2},
        fault{"median_strict_zero_quantile",
              &median,
              {"--strict", "-q", "0", "d.txt"},
              {{"d.txt", "1 1\n1 1\n2 2\n"}},
              1},
        fault{"strict_zero_width",
              &labelled,
              {"--strict", "d.txt"},
              {{"d.txt", "1 1\n1 1\n1 1\n"}},
              1},
        fault{"missing_table", &form, {"d.txt"}, {good}, 1},
        fault{"unknown_option", &form, {"-x", "d.txt"}, {good}, 2},
        fault{
            "bad_thread_count", &labelled, {"-j", "1025", "d.txt"}, {good}, 2},
        fault{"no_data_file", &labelled, {"-v"}, {}, 2},
        fault{"help", &form, {"--help"}, {}, 0},
        fault{"version", &median, {"--version"}, {}, 0},
        fault{"unknown_isa",
              &form,
              {"d.txt"},
              {good},
              1,
              "KERNEL_WIDTH_ISA=bogus"},
        // Read while MPI starts, its warning never shown.
        fault{"unknown_isa_before_a_warning",
              &labelled,
              {"w.txt"},
              {{"w.txt", "1 2 x\n3 4\n"}},
              1,
              "KERNEL_WIDTH_ISA=bogus"}),
    [](const auto& info) { return info.param.name; });

// --sample is the plain programs' alone: every rank count refuses it, with
// a usage error that names the program to run instead.
TEST(MpiFaults, SampleIsRefused) {
  scratch s({good});
  const std::pair<const program_pair*, std::string> programs[] = {
      {&median, "median_kernel_width"}, {&labelled, "labelled_kernel_width"}};
  for (const auto& [program, name] : programs)
    for (const int ranks : {1, 3}) {
      std::vector<std::string> words = mpirun(ranks);
      words.insert(words.end(), {program->mpi, "--sample", "9", "d.txt"});
      const outcome got = run(words, s.dir, "/dev/null", 60);
      EXPECT_EQ(got.status, 2) << ranks << " ranks\n" << got.err;
      EXPECT_EQ(got.out, "");
      EXPECT_EQ(got.err, name +
                             ": option '--sample' is not taken by the MPI "
                             "programs: a sample of pairs takes seconds on "
                             "one machine (run " +
                             name + ")\n")
          << ranks << " ranks";
    }
}

// --progress: rank 0 alone draws the line (redrawn every 0.1 s of the
// run's half second), over the pairs of every rank,
// never past 100% (the other ranks' pairs counted once, whether they come
// through the shared counter or as dealt), and erases it; standard output
// is the plain program's.
TEST(MpiProgress, LineCountsEveryRanksPairsOnce) {
  const std::string text = table(60000, 4, [](std::size_t i, std::size_t c) {
    return static_cast<double>((i * 13 + c * 5) % 97);
  });
  const scratch s(file_list{{"d.txt", text}});
  for (const program_pair* p : {&labelled, &form}) {
    const outcome want = run({p->plain, "d.txt"}, s.dir);
    for (const char* share : {"0", "1"}) {
      std::vector<std::string> words = mpirun(3);
      words.insert(words.end(),
                   {"-x", std::string("KERNEL_WIDTH_MPI_SHARE=") + share,
                    p->mpi, "-j", "1", "--progress", "d.txt"});
      const outcome got = run(words, s.dir);
      const std::string what = std::string(p->mpi) + ", sharing " + share;
      EXPECT_EQ(got.status, 0) << what << "\n" << got.err;
      EXPECT_EQ(got.out, want.out) << what;
      const std::string name = fs::path(p->plain).filename().string();
      const std::string line = "\r" + name + ": ";
      EXPECT_EQ(got.err.rfind(line + "0% (", 0), 0u) << what << got.err;
      ASSERT_GE(got.err.size(), 4u) << what;
      EXPECT_EQ(got.err.substr(got.err.size() - 4), "\r\x1b[K") << what;
      for (std::size_t at = 0;
           (at = got.err.find('\r', at)) != std::string::npos; ++at) {
        if (got.err.compare(at, 4, "\r\x1b[K") == 0) continue;
        ASSERT_EQ(got.err.compare(at, line.size(), line), 0) << what << got.err;
        EXPECT_LE(std::stoi(got.err.substr(at + line.size())), 100)
            << what << got.err;
      }
    }
  }
}

// A machine that cannot have the shared memory (here: rank 0, which
// would create it, under a file size limit) gives every rank a copy of its
// own, sent by rank 0, and the same output. Open MPI's shared memory
// transport, whose files that limit would stop too, is left out. The other
// ranks' byte counts are dropped: mpirun may splice them into the middle of
// rank 0's lines.
TEST(MpiFaults, SharedMemoryRefusedGivesEveryRankACopy) {
  const std::string text = table(600, 3, [](std::size_t i, std::size_t c) {
    return static_cast<double>((i * 7 + c) % 11);
  });
  const scratch s(file_list{{"d.txt", text}});
  const outcome want = run({labelled.plain, "-v", "d.txt"}, s.dir);
  std::vector<std::string> words = mpirun(3);
  words.insert(words.end(),
               {"--mca", "btl", "self,tcp", "-x", "KERNEL_WIDTH_MPI_BYTES=1",
                "/bin/sh", "-c",
                "if [ \"$OMPI_COMM_WORLD_RANK\" = 0 ]; then ulimit -f 16; "
                "else exec 2>/dev/null; fi; "
                "exec \"$0\" \"$@\"",
                labelled.mpi, "-v", "d.txt"});
  const outcome got = run(words, s.dir);
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, want.out);
  // rank 0's report, then its byte count alone on the last line
  const std::string sent = "labelled_kernel_width: rank 0 sent: samples ";
  ASSERT_EQ(got.err.rfind(want.err + sent, 0), 0u) << got.err;
  const std::string last = got.err.substr(want.err.size() + sent.size());
  ASSERT_EQ(std::count(last.begin(), last.end(), '\n'), 1) << got.err;
  EXPECT_EQ(last.back(), '\n') << got.err;
  // the label and two features of 600 samples
  EXPECT_GE(std::stoul(last), 600u * 2 * 8);
}

#ifndef SANITIZED
// Out of memory on one rank only (its data segment limited with ulimit -d,
// which leaves the libraries that MPI maps alone): one message from rank 0,
// status 1, no rank left waiting. When the samples do not fit, the size
// is known; when the pass's sums do not, it is not. Rank 0 runs out while
// it reads the table, as the plain program under that limit does.
TEST(MpiFaults, OutOfMemoryOnOneRankEndsEveryRank) {
  // Written a row (or a block of rows) at a time: value by value, this
  // harness, built unoptimised, would take longer than the runs.
  std::string wide, tall, block;
  for (int i = 0; i < 2001; ++i) {
    std::string row(2 * 8000, ' ');
    for (int c = 0; c < 8000; ++c) row[2 * c] = static_cast<char>('0' + i % 3);
    row.back() = '\n';
    wide += row;
  }
  for (int i = 0; i < 1000; ++i) block += std::to_string(i) + "\n";
  for (int i = 0; i < 3000; ++i) tall += block;
  const scratch s(file_list{{"wide.txt", wide}, {"tall.txt", tall}});
  const struct {
    const char* program;
    const char* file;
    const char* limit;  // KiB
    const char* rank;
    std::string err;
  } cases[] = {
      {labelled.mpi, "wide.txt", "65536", "2",
       "labelled_kernel_width: wide.txt: out of memory (122.5 MiB needed)\n"},
      {form.mpi, "tall.txt", "73728", "2",
       "form_kernel_width: tall.txt: out of memory\n"},
      {labelled.mpi, "wide.txt", "65536", "0",
       "labelled_kernel_width: wide.txt: out of memory\n"},
  };
  // 3 ranks, `program -j 1 file` with rank's data segment limited.
  auto limited = [](const char* program, const char* file, const char* limit,
                    const char* rank, const char* share) {
    std::vector<std::string> words = mpirun(3);
    words.insert(words.end(),
                 {"-x", std::string("KERNEL_WIDTH_MPI_SHARE=") + share});
    words.insert(words.end(),
                 {"/bin/sh", "-c",
                  std::string("[ \"$OMPI_COMM_WORLD_RANK\" != ") + rank +
                      " ] || ulimit -d " + limit + "; exec \"$0\" \"$@\"",
                  program, "-j", "1", file});
    return words;
  };
  for (const auto& c : cases) {
    // Each rank with a copy of its own: a shared one is not its memory.
    const outcome got =
        run(limited(c.program, c.file, c.limit, c.rank, "1"), s.dir);
    EXPECT_EQ(got.status, 1) << c.file << "\n" << got.err;
    EXPECT_EQ(got.out, "") << c.file;
    EXPECT_EQ(got.err, c.err) << c.file;
  }
  // Sharing one copy, rank 2 needs none of its own under the same limit.
  const outcome want = run({labelled.plain, "wide.txt"}, s.dir);
  const outcome got =
      run(limited(labelled.mpi, "wide.txt", "65536", "2", "3"), s.dir);
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, want.out);
  EXPECT_EQ(got.err, "");
}
#endif

}  // namespace
