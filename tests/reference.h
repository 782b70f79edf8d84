// The reader's meaning written the plain way, for tests, the fuzzer and the
// benchmark to compare the block reader against.
#pragma once

#include <cstring>
#include <istream>
#include <sstream>
#include <string>

#include "table.h"

// Line by line, `stream >> double` until an extraction fails.
inline Table reference_read(std::istream& in) {
  Table table;
  std::string line;
  std::istringstream stream;
  Row row;
  while (std::getline(in, line)) {
    stream.str(line);
    stream.clear();
    for (double v; stream >> v;) row.push_back(v);
    table.push_back(row);
    row.clear();
  }
  return table;
}

// Equal bit for bit, so that -0 and 0 differ.
inline bool same(const Row& a, const Row& b) {
  return a.size() == b.size() &&
         (a.empty() ||
          std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline bool same(const Table& a, const Table& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t r = 0; r < a.size(); ++r)
    if (!same(a[r], b[r])) return false;
  return true;
}
