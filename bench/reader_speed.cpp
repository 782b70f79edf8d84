// Reader speed: the project's block reader (read_table) against the
// plain line-by-line reader (std::getline, then std::istringstream
// extraction of doubles). Prints "fast_s", "stream_s", "bytes" and
// "same 1|0" lines; same says whether both gave identical tables.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "reader.h"
#include "reference.h"

namespace {

Table stream_reader(const std::string& path) {
  std::ifstream file(path);
  return reference::reference_read(file);
}

template <class F>
double best_seconds(int runs, F read, Table& out) {
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    Table table = read();
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    if (t < best) best = t;
    out = std::move(table);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: reader FILE\n");
    return 2;
  }
  const std::string path = argv[1];
  Table fast;
  Table slow;
  const double fast_s = best_seconds(
      3, [&] { return input(path); }, fast);
  const double slow_s = best_seconds(
      2, [&] { return stream_reader(path); }, slow);
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::printf("fast_s %.4f\nstream_s %.4f\nbytes %lld\nsame %d\n", fast_s,
              slow_s, static_cast<long long>(file.tellg()),
              reference::same(fast, slow) ? 1 : 0);
}
