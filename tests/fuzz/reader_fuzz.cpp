// libFuzzer target for the reader and the distance sums. The first input byte
// picks the reader's starting buffer size, so that lines cross buffer ends and
// grow the buffer even in small inputs; the rest is the file. The rows must
// equal, bit for bit, what line-by-line `stream >> double` extraction gives.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "../reference.h"
#include "reader.h"
#include "samples.h"

using namespace reference;

namespace {

// The sums are quadratic in the rows; keep each input fast.
constexpr std::size_t max_rows = 64;

void require(bool ok) {
  if (!ok) std::abort();
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// parse_line's stop offset: the values lie before it, and the text from it on
// (if any) starts with a non-space and yields no value at all.
void check_stop(std::string_view line, std::size_t& ignored_line,
                std::string& ignored_text, std::size_t& ignored_lines,
                std::size_t number) {
  Row row;
  const std::size_t stop = parse_line(line, row);
  require(stop <= line.size());
  Row before;
  parse_line(line.substr(0, stop), before);
  require(same(row, before));
  if (stop == line.size()) return;
  require(!is_space(line[stop]));
  Row after;
  require(parse_line(line.substr(stop), after) == 0 && after.empty());
  if (ignored_lines++ > 0) return;
  std::size_t end = line.size();
  while (is_space(line[end - 1])) --end;
  ignored_line = number;
  ignored_text = line.substr(stop, std::min(end - stop, ignored_cut + 1));
}

// What read_fd should say about ignored text, line by line.
void expected_ignored(const std::string& bytes, std::size_t& ignored_line,
                      std::string& ignored_text, std::size_t& ignored_lines) {
  ignored_line = ignored_lines = 0;
  std::size_t start = 0;
  std::size_t number = 0;
  while (start < bytes.size()) {
    std::size_t nl = bytes.find('\n', start);
    if (nl == std::string::npos) nl = bytes.size();
    check_stop(std::string_view(bytes).substr(start, nl - start), ignored_line,
               ignored_text, ignored_lines, ++number);
    start = nl + 1;
  }
}

read_result read_bytes(const std::string& bytes, std::size_t block,
                       read_options options) {
  const int fd = memfd_create("reader_fuzz", MFD_CLOEXEC);
  require(fd >= 0);
  require(write(fd, bytes.data(), bytes.size()) ==
          static_cast<ssize_t>(bytes.size()));
  require(lseek(fd, 0, SEEK_SET) == 0);
  read_result read = read_fd(fd, block, options);
  close(fd);
  return read;
}

// The first line on which a carriage return has more than whitespace after
// it (0: none), where reading stops in either grammar.
std::size_t lone_carriage_return_line(const std::string& plain) {
  std::size_t number = 0;
  for (std::size_t start = 0; start < plain.size(); ++number) {
    std::size_t nl = plain.find('\n', start);
    if (nl == std::string::npos) nl = plain.size();
    std::size_t cr = plain.find('\r', start);
    if (cr < nl)
      while (++cr < nl)
        if (!is_space(plain[cr])) return number + 1;
    start = nl + 1;
  }
  return 0;
}

// With the last token of each line as its label: the rows are those of the
// lines with that token gone, as the stream reads them, each after a 0 in
// the label's place; the first line with no token is the one reported.
void check_last_label(const std::string& bytes, const std::string& plain,
                      std::size_t block) {
  const read_result read = read_bytes(bytes, block, {0, 0, last_column});
  require(read.ok());
  std::size_t start = 0;
  std::size_t number = 0;
  std::size_t unlabelled = 0;
  while (start < plain.size()) {
    std::size_t nl = plain.find('\n', start);
    if (nl == std::string::npos) nl = plain.size();
    std::istringstream words(plain.substr(start, nl - start));
    std::string joined, word, previous;
    bool any = false;
    while (words >> word) {
      if (any) joined += previous + ' ';
      previous = word;
      any = true;
    }
    std::istringstream in(joined);
    Table expected = reference_read(in);
    Row want = {0.0};
    if (!expected.empty())
      want.insert(want.end(), expected[0].begin(), expected[0].end());
    if (!any) want.clear();
    if (!any && unlabelled == 0) unlabelled = number + 1;
    require(number < read.rows.size() && same(read.rows[number], want));
    ++number;
    start = nl + 1;
  }
  require(read.rows.size() == number && read.unlabelled == unlabelled);
}

void check_sums(const Table& table) {
  if (table.size() > max_rows) return;
  if (check_samples(table, 0, "f").empty()) {
    const double mean = distance_mean(table, 0);
    const double variance = distance_variance(table, 0, mean);
    const double ratio = square(mean) / variance;
    nearest_row(table, ratio);
  }
  if (check_samples(table, 1, "f").empty()) distance_total(table, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t block = data[0] % 64 + 1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const read_result read = read_bytes(bytes, block, {});
  // A byte-order mark at the start is skipped; line numbers stay.
  const std::string plain = std::string_view(bytes).starts_with(byte_order_mark)
                                ? bytes.substr(byte_order_mark.size())
                                : bytes;
  // Lines that end in a carriage return alone stop every grammar there.
  if (const std::size_t cr = lone_carriage_return_line(plain); cr != 0) {
    require(read.carriage_return == cr && read.rows.size() == cr - 1);
    const read_result labelled = read_bytes(bytes, block, {0, 0, last_column});
    const read_result fields = read_bytes(bytes, block, {',', 0, 0});
    require(labelled.carriage_return == cr &&
            (fields.carriage_return == cr ||
             (fields.bad.position > 0 && fields.bad.line < cr)));
    return 0;
  }
  require(read.ok());
  const Table& table = read.rows;

  std::istringstream in(plain);
  const Table expected = reference_read(in);
  require(table.size() == expected.size());
  for (std::size_t r = 0; r < table.size(); ++r)
    require(same(table[r], expected[r]));

  std::size_t want_line = 0, want_lines = 0;
  std::string want_text;
  expected_ignored(plain, want_line, want_text, want_lines);
  require(read.ignored.line == want_line && read.ignored.text == want_text &&
          read.ignored.lines == want_lines);

  const std::string warning = ignored_warning("f", read);
  for (const char c : warning)
    require(static_cast<unsigned char>(c) >= 0x20 &&
            static_cast<unsigned char>(c) < 0x7f);
  check_sums(table);
  check_last_label(bytes, plain, block);

  // Delimited: every row read holds whole fields, and a bad field is
  // reported with its line.
  const read_result fields =
      read_bytes(bytes, block, {',', (data[0] & 64) != 0});
  require(fields.ok() || fields.bad.position > 0 || !fields.error.empty());
  if (fields.bad.position > 0)
    require(fields.bad.line >= fields.first_line + fields.rows.size());
  return 0;
}
