#include "ranks.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Collectives move at most this many bytes at a time: MPI counts are int.
constexpr std::size_t chunk = std::size_t{1} << 30;

std::vector<std::pair<const char*, std::uint64_t>> stages;
std::uint64_t sent = 0;  // in the stage under way

std::streambuf* error_buffer = nullptr;  // standard error's, while silenced

// The reduction's combine; MPI calls the operation on this thread only.
combining current = nullptr;

void combine_op(void* in, void* inout, int* len, MPI_Datatype*) {
  current(static_cast<double*>(inout), static_cast<const double*>(in),
          static_cast<std::size_t>(*len));
}

}  // namespace

int rank() {
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

int ranks() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

void silence_others() {
  if (root()) return;
  std::cout.rdbuf(nullptr);
  error_buffer = std::cerr.rdbuf(nullptr);
}

void speak() {
  if (error_buffer) std::cerr.rdbuf(error_buffer);
  std::cerr.clear();
}

int agree(int status) {
  int worst = status;
  MPI_Request request;
  MPI_Iallreduce(&status, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD,
                 &request);
  // The ranks meet here after each long step: one that is done early
  // sleeps between polls rather than spin on a core that another rank's
  // threads, or another job, could use (each poll runs MPI's progress
  // engine, and yields the core when the node is oversubscribed). The
  // naps grow to 2 ms: a wait that long ends at most that much late.
  std::chrono::microseconds nap{50};
  for (int polls = 0, done = 0;; ++polls) {
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done) break;
    if (polls < 1000) continue;
    std::this_thread::sleep_for(nap);
    nap = std::min(2 * nap, std::chrono::microseconds(2000));
  }
  sent += sizeof status;
  return worst;
}

int first_failing(bool failed) {
  const int mine = failed ? rank() : ranks();
  int first = mine;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  return first;
}

void broadcast(void* data, std::size_t bytes, MPI_Comm among) {
  auto* at = static_cast<char*>(data);
  for (std::size_t done = 0; done < bytes; done += chunk) {
    const std::size_t part = std::min(chunk, bytes - done);
    MPI_Bcast(at + done, static_cast<int>(part), MPI_BYTE, 0, among);
  }
  int first = 0, size = 1;
  MPI_Comm_rank(among, &first);
  MPI_Comm_size(among, &size);
  if (first == 0 && size > 1) sent += bytes;
}

void reduce_to_root(double* data, std::size_t count, combining combine) {
  current = combine;
  MPI_Op op;
  MPI_Op_create(combine_op, 1, &op);  // exact in any order: commutative
  const std::size_t doubles = chunk / sizeof(double);
  for (std::size_t done = 0; done < count; done += doubles) {
    const int part = static_cast<int>(std::min(doubles, count - done));
    if (root())
      MPI_Reduce(MPI_IN_PLACE, data + done, part, MPI_DOUBLE, op, 0,
                 MPI_COMM_WORLD);
    else
      MPI_Reduce(data + done, nullptr, part, MPI_DOUBLE, op, 0, MPI_COMM_WORLD);
  }
  MPI_Op_free(&op);
  if (!root()) sent += count * sizeof(double);
}

void gather_to_root(const void* data, std::size_t bytes, void* out,
                    const std::size_t* counts) {
  // The pieces are rows of one rank's share: far below INT_MAX bytes for
  // any n whose n * n distances can be computed.
  std::vector<int> sizes, offsets;
  if (root()) {
    int offset = 0;
    for (int p = 0; p < ranks(); ++p) {
      sizes.push_back(static_cast<int>(counts[p]));
      offsets.push_back(offset);
      offset += sizes.back();
    }
  }
  MPI_Gatherv(data, static_cast<int>(bytes), MPI_BYTE, out, sizes.data(),
              offsets.data(), MPI_BYTE, 0, MPI_COMM_WORLD);
  if (!root()) sent += bytes;
}

void count_sent(std::uint64_t bytes) { sent += bytes; }

void stage(const char* name) {
  if (!stages.empty()) stages.back().second = sent;
  stages.emplace_back(name, 0);
  sent = 0;
}

void report_bytes(const char* program) {
  if (!std::getenv("KERNEL_WIDTH_MPI_BYTES")) return;
  if (!stages.empty()) stages.back().second = sent;
  std::string line =
      std::string(program) + ": rank " + std::to_string(rank()) + " sent:";
  for (std::size_t k = 0; k < stages.size(); ++k)
    line += (k ? ", " : " ") + std::string(stages[k].first) + " " +
            std::to_string(stages[k].second);
  std::fprintf(stderr, "%s\n", line.c_str());
}
