#include "samples.h"

#include <iterator>
#include <new>
#include <utility>
#include <vector>

#include "messages.h"

namespace {

// What to type for each of separators, and what to call it.
const char* const separator_hints[] = {"comma-separated? try -d ,",
                                       "semicolon-separated? try -d ';'",
                                       "pipe-separated? try -d '|'"};

// The message for a field of a delimited line that is not one number.
std::string bad_field_message(const std::string& name, const bad_field& bad) {
  const std::string where = name + ":" + std::to_string(bad.line) + ": field " +
                            std::to_string(bad.position);
  if (bad.text.empty()) return where + " is empty";
  const std::string text = ": " + quoted(bad.text, ignored_cut);
  const char* const header = " (a header? try --header)";
  if (bad.out_of_range) return where + text + " is out of range";
  if (bad.text.starts_with('"'))
    return where + text + " is quoted, and quoted fields are not read" +
           (bad.line == 1 ? header : " (remove the quotes)");
  return where + text + " is not a number" + (bad.line == 1 ? header : "");
}

// The message for lines that end in a carriage return alone.
std::string carriage_return_message(const std::string& name,
                                    std::size_t line) {
  return name + ":" + std::to_string(line) +
         ": lines end in a carriage return alone (classic Mac OS text); "
         "convert them to line feeds first, e.g. with tr '\\r' '\\n'";
}

// The message for row r = shape.unequal, the first whose length differs
// from row 0's. With labels, a row that is not empty holds a label's place
// first, which the counts leave out.
std::string unequal_message(const table_shape& shape, const std::string& name,
                            std::size_t first_line, bool labels) {
  const std::size_t r = shape.unequal;
  const auto line = [&](std::size_t k) {
    return std::to_string(first_line + k);
  };
  const auto count = [&](std::size_t size) {
    return size - (labels && size != 0);
  };
  const std::size_t count_0 = count(shape.width);
  const std::size_t count_r = count(shape.unequal_width);
  const bool known = shape.known;
  if (known && shape.blank_first && !shape.blank_unequal)  // data after a blank
    return name + ":" + line(0) + ": a blank line, expected " +
           values(count_r) + " as on line " + line(r);
  if (count_0 == 0 && !(known && shape.blank_unequal))  // "nan 1" or "x y"
    return name + ":" + line(0) + ": no number on the line, expected " +
           values(count_r) + " as on line " + line(r) +
           (first_line == 1 ? " (a header? try --header)" : "");
  const std::string where = name + ":" + line(r) + ": ";
  const std::string as_on = " as on line " + line(0);
  if (known && shape.blank_unequal)
    return where + "a blank line, expected " + values(count_0) + as_on +
           (r + 1 == shape.rows    ? " (a blank line at the end?)"
            : shape.blank_after ? " (blank lines at the end?)"
                                : "");
  return where + values(count_r) + ", expected " + std::to_string(count_0) +
         as_on;
}

}  // namespace

std::string ignored_warning(const std::string& name, const read_result& read,
                            bool strict) {
  const ignored_text& ignored = read.ignored;
  if (ignored.line == 0) return "";
  std::string message = name + ":" + std::to_string(ignored.line) + ": " +
                        warning_word(strict) + ": ignored " +
                        quoted(ignored.text, ignored_cut) +
                        (ignored.out_of_range ? " (out of range)" : "") +
                        " after " + values(ignored.values);
  const std::size_t more = ignored.lines - 1;
  if (more > 0)
    message += " (and on " + std::to_string(more) +
               (more == 1 ? " more line)" : " more lines)");
  for (std::size_t k = 0; k < std::size(separator_hints); ++k)
    if (2 * ignored.separated[k] > read.rows.size() + read.streamed)
      return message + "; " + separator_hints[k];
  return message;
}

loaded load(const char* program, const std::string& path, read_options options,
            bool strict, bool quiet) {
  const std::string name = shown_name(path);
  read_result read = read_table(path, options);
  if (!read.error.empty()) return {{}, {}, 1, name + ": " + read.error};
  if (read.bad.position != 0)
    return {{}, {}, 1, bad_field_message(name, read.bad)};
  if (read.carriage_return != 0)
    return {{}, {}, 1, carriage_return_message(name, read.carriage_return)};
  const std::string warning = ignored_warning(name, read, strict);
  if (strict && !warning.empty()) return {{}, {}, 1, warning};
  if (!quiet) warn(program, warning);
  return {std::move(read.rows), std::move(read.blank), read.first_line, "",
          read.unlabelled};
}

void add_row(table_shape& shape, std::size_t size, bool blank) {
  const std::size_t r = shape.rows++;
  if (r == 0) {
    shape.width = size;
    shape.blank_first = blank;
    shape.unequal = 1;
  } else if (shape.unequal == r && size == shape.width) {
    shape.unequal = r + 1;  // still none differs
  } else if (shape.unequal == r) {
    shape.unequal_width = size;
    shape.blank_unequal = blank;
  } else {
    shape.blank_after = shape.blank_after && blank;
  }
}

std::string check_shape(const table_shape& shape, std::size_t first,
                        const std::string& name, std::size_t first_line,
                        bool labels) {
  if (shape.rows == 0) return "";
  if (shape.unequal < shape.rows)
    return unequal_message(shape, name, first_line, labels);
  if (shape.width == 0) return name + ": no values on any line";
  if (shape.width <= first) return name + ": only labels, no feature values";
  return "";
}

std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line,
                          const std::vector<bool>& blank, bool labels) {
  table_shape shape;
  shape.known = !blank.empty();
  for (std::size_t r = 0; r < data.size(); ++r)
    add_row(shape, data[r].size(), shape.known && blank[r]);
  return check_shape(shape, first, name, first_line, labels);
}

bool accept_samples(const char* program, const options& opts,
                    const loaded& data, std::string why, std::size_t rows) {
  const std::string name = shown_name(opts.file);
  if (why.empty() && data.unlabelled != 0)  // rows of equal length
    why = name + ":" + std::to_string(data.unlabelled) + ": no column " +
          std::to_string(opts.reading.label) + " for --label";
  if (!why.empty()) {
    fail(program, why);
    return false;
  }
  return rows >= 2 || !opts.second.empty() ||  // one data file
         few_samples(program, opts, name, rows == 0 ? "no samples" : "one sample");
}

std::optional<Table> read_samples(const char* program, const options& opts,
                                  std::size_t first) {
  loaded data = load(program, opts.file, opts.reading, opts.strict);
  if (!data.error.empty()) {
    fail(program, data.error);
    return std::nullopt;
  }
  const std::string why =
      check_samples(data.rows, first, shown_name(opts.file), data.first_line,
                    data.blank, opts.reading.label != 0);
  if (!accept_samples(program, opts, data, why, data.rows.size()))
    return std::nullopt;
  return std::move(data.rows);
}

bool few_samples(const char* program, const options& opts,
                 const std::string& what, const char* why) {
  const std::string warning =
      what + ": " + warning_word(opts.strict) + ": " + why;
  if (opts.strict) {
    fail(program, warning);
    return false;
  }
  warn(program, warning);
  return true;
}

kernel_width::detail::packed pack(const Table& data, std::size_t first) {
  const std::size_t width = data.empty() ? 0 : data[0].size();
  return kernel_width::detail::pack_rows(
      data.size(), width > first ? width - first : 0,
      [&](std::size_t k) { return data[k].data() + first; });
}

std::optional<kernel_width::detail::packed> read_packed(const char* program,
                                                        const options& opts,
                                                        std::size_t first) {
  std::size_t needed = 0;  // what the allocation under way asks for
  try {
    std::optional<Table> data = read_samples(program, opts, first);
    if (!data) return std::nullopt;
    const std::size_t n = data->size();
    const std::size_t cols = n == 0 ? 0 : data->front().size() - first;
    needed = kernel_width::detail::packed_bytes(n, cols);
    return pack(*data, first);
  } catch (const std::bad_alloc&) {
    out_of_memory(program, shown_name(opts.file), needed);
    return std::nullopt;
  }
}
