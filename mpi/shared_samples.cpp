#include "shared_samples.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "ranks.h"

namespace {

// The header has a cache line of its own; the samples start on the next.
constexpr std::size_t header_bytes = 64;
static_assert(sizeof(shared_header) <= header_bytes);
static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "processes share only lock-free atomics");

// At most this many ranks of a machine share a copy; 0: all of them.
// Rank 0's setting holds everywhere, so that every rank takes the same
// collective steps.
int share_limit() {
  int limit = 0;
  if (root())
    if (const char* text = std::getenv("KERNEL_WIDTH_MPI_SHARE")) {
      char* end = nullptr;
      const long k = std::strtol(text, &end, 10);
      if (end != text && *end == '\0' && k >= 1 && k <= INT_MAX)
        limit = static_cast<int>(k);
    }
  broadcast(limit);
  return limit;
}

int rank_in(MPI_Comm comm) {
  int r = 0;
  MPI_Comm_rank(comm, &r);
  return r;
}

// The ranks that share a copy, and the communicator of each copy's first.
void split(int limit, shared_samples& shared) {
  MPI_Comm machine;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank(),
                      MPI_INFO_NULL, &machine);
  if (limit > 0) {
    const int r = rank_in(machine);
    MPI_Comm_split(machine, r / limit, r, &shared.machine);
    MPI_Comm_free(&machine);
  } else {
    shared.machine = machine;
  }
  MPI_Comm_split(MPI_COMM_WORLD,
                 rank_in(shared.machine) == 0 ? 0 : MPI_UNDEFINED, rank(),
                 &shared.firsts);
  int size = 0;
  MPI_Comm_size(shared.machine, &size);
  shared.one_machine = size == ranks();
}

std::string segment_name(int pid) {
  return "/kernel_width_mpi." + std::to_string(pid);
}

// The first rank's: shared memory of `bytes`, reserved in full, so that a
// machine short of it says so here rather than with SIGBUS when the
// samples are written; -1 when it cannot be had.
int create(const std::string& name, std::size_t bytes) {
  const int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  if (fd < 0) return -1;
  const auto size = static_cast<off_t>(bytes);
  // Past a file size limit (ulimit -f) the calls fail rather than kill.
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before);
  const bool reserved =
      ftruncate(fd, size) == 0 && posix_fallocate(fd, 0, size) == 0;
  sigaction(SIGXFSZ, &before, nullptr);
  if (!reserved) {
    close(fd);
    shm_unlink(name.c_str());
    return -1;
  }
  return fd;
}

void* map(int fd, std::size_t bytes) {
  if (fd < 0) return nullptr;
  void* at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return at == MAP_FAILED ? nullptr : at;
}

}  // namespace

shared_samples::~shared_samples() {
  if (base) munmap(base, bytes);
  if (machine != MPI_COMM_NULL) MPI_Comm_free(&machine);
  if (firsts != MPI_COMM_NULL) MPI_Comm_free(&firsts);
}

double* shared_samples::values() const {
  return reinterpret_cast<double*>(static_cast<char*>(base) + header_bytes);
}

bool share_on_machines(std::size_t values, shared_samples& shared) {
  const int limit = share_limit();
  if (ranks() == 1 || limit == 1) return false;
  split(limit, shared);
  shared.bytes = header_bytes + values * sizeof(double);
  const bool first = rank_in(shared.machine) == 0;
  int made[2] = {static_cast<int>(getpid()), 0};  // the first's pid, and ok
  std::string name;
  int fd = -1;
  if (first) {
    name = segment_name(made[0]);
    fd = create(name, shared.bytes);
    made[1] = fd >= 0;
  }
  MPI_Bcast(made, 2, MPI_INT, 0, shared.machine);
  if (!first && made[1])
    fd = shm_open(segment_name(made[0]).c_str(), O_RDWR, 0);
  shared.base = map(fd, shared.bytes);
  if (first && shared.base) new (shared.base) shared_header;
  // Every rank has mapped it, or failed to, before its name goes.
  const bool everywhere = first_failing(shared.base == nullptr) == ranks();
  if (first && made[1]) shm_unlink(name.c_str());
  if (!everywhere && shared.base) munmap(shared.base, shared.bytes);
  if (!everywhere) shared.base = nullptr;
  shared.one_machine = shared.one_machine && everywhere;
  return everywhere;
}
