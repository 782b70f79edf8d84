#include "streamed_samples.h"

#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <utility>

#include "messages.h"
#include "samples.h"

namespace {

// Widens each column's range by the row's values from `first` on; a NaN
// makes its column's range NaN for good.
void widen(scanned& s, const Row& row, std::size_t first) {
  for (std::size_t c = 0; c < s.cols; ++c) {
    const double v = row[first + c];
    if (std::isnan(v)) {
      s.nan = true;
      s.min[c] = s.max[c] = v;
    } else if (!std::isnan(s.min[c])) {
      s.min[c] = v < s.min[c] ? v : s.min[c];
      s.max[c] = v > s.max[c] ? v : s.max[c];
    }
  }
}

}  // namespace

void changed(const char* program, const options& opts) {
  fail(program, shown_name(opts.file) +
                    ": changed between passes over it (a sample of "
                    "pairs reads it once to count its samples, then "
                    "again for the rows it needs, in as many passes as "
                    "memory asks)");
}

bool readable_twice(const std::string& path) {
  struct stat st {};
  return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<scanned> scan_samples(const char* program, const options& opts,
                                    std::size_t first) {
  scanned s;
  table_shape shape;
  read_options reading = opts.reading;
  reading.sink = [&](const Row& row, bool blank) {
    if (shape.rows == 0 && row.size() > first) {
      s.cols = row.size() - first;
      s.min.assign(s.cols, std::numeric_limits<double>::infinity());
      s.max.assign(s.cols, -std::numeric_limits<double>::infinity());
    }
    add_row(shape, row.size(), blank);
    if (shape.unequal == shape.rows && s.cols > 0) widen(s, row, first);
  };
  const loaded data = load(program, opts.file, reading, opts.strict);
  if (!data.error.empty()) {
    fail(program, data.error);
    return std::nullopt;
  }
  const std::string why =
      check_shape(shape, first, shown_name(opts.file), data.first_line,
                  opts.reading.label != 0);
  if (!accept_samples(program, opts, data, why, shape.rows))
    return std::nullopt;
  s.n = shape.rows;
  return s;
}

bool visit_samples(const char* program, const options& opts,
                   std::size_t first, const scanned& shape,
                   const std::function<void(std::uint64_t, const double*)>& visit) {
  std::uint64_t row_index = 0;
  bool same = true;  // every row as long as the first pass found
  read_options reading = opts.reading;
  reading.sink = [&](const Row& row, bool) {
    same = same && row.size() == first + shape.cols;
    if (same) visit(row_index, row.data() + first);
    ++row_index;
  };
  const loaded data = load(program, opts.file, reading, opts.strict, true);
  if (!data.error.empty()) {
    fail(program, data.error);
    return false;
  }
  if (!same || row_index != shape.n) {
    changed(program, opts);
    return false;
  }
  return true;
}

bool keep_samples(const char* program, const options& opts, std::size_t first,
                  const scanned& shape, std::span<const std::uint64_t> wanted,
                  std::vector<double>& into) {
  std::size_t next = 0;
  const auto keep = [&](std::uint64_t index, const double* row) {
    if (next < wanted.size() && wanted[next] == index) {
      into.insert(into.end(), row, row + shape.cols);
      ++next;
    }
  };
  if (!visit_samples(program, opts, first, shape, keep)) return false;
  if (next == wanted.size()) return true;
  changed(program, opts);
  return false;
}
