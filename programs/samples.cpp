#include "samples.h"

#include <iterator>
#include <new>
#include <utility>

#include "messages.h"

namespace {

// What to type for each of separators, and what to call it.
const char* const separator_hints[] = {"comma-separated? try -d ,",
                                       "semicolon-separated? try -d ';'",
                                       "pipe-separated? try -d '|'"};

// The message for a field of a delimited line that is not one number.
std::string bad_field_message(const std::string& name, const bad_field& bad) {
  std::string message =
      name + ":" + std::to_string(bad.line) + ": field " +
      std::to_string(bad.position) +
      (bad.text.empty()
           ? " is empty"
           : ": " + quoted(bad.text, ignored_cut) + " is not a number");
  if (bad.line == 1) message += " (a header? try --header)";
  return message;
}

}  // namespace

std::string ignored_warning(const std::string& name, const read_result& read) {
  const ignored_text& ignored = read.ignored;
  if (ignored.line == 0) return "";
  std::string message =
      name + ":" + std::to_string(ignored.line) + ": warning: ignored " +
      quoted(ignored.text, ignored_cut) + " after " + values(ignored.values);
  const std::size_t more = ignored.lines - 1;
  if (more > 0)
    message += " (and on " + std::to_string(more) +
               (more == 1 ? " more line)" : " more lines)");
  for (std::size_t k = 0; k < std::size(separator_hints); ++k)
    if (2 * ignored.separated[k] > read.rows.size())
      return message + "; " + separator_hints[k];
  return message;
}

loaded load(const char* program, const std::string& path,
            read_options options) {
  const std::string name = shown_name(path);
  read_result read = read_table(path, options);
  if (!read.error.empty()) return {{}, 1, name + ": " + read.error};
  if (read.bad.position != 0) return {{}, 1, bad_field_message(name, read.bad)};
  warn(program, ignored_warning(name, read));
  return {std::move(read.rows), read.first_line, "", read.unlabelled};
}

std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line) {
  if (data.empty()) return "";
  const std::size_t width = data[0].size();
  for (std::size_t r = 1; r < data.size(); ++r)
    if (data[r].size() != width) {
      std::string message = name + ":" + std::to_string(first_line + r) + ": " +
                            values(data[r].size()) + ", expected " +
                            std::to_string(width) + " as on line " +
                            std::to_string(first_line);
      if (r == 1 && width == 0 && first_line == 1)
        message += " (a header on line 1? try --header)";
      return message;
    }
  if (width == 0) return name + ": no values on any line";
  if (width <= first) return name + ": only labels, no feature values";
  return "";
}

std::optional<Table> read_samples(const char* program, const options& opts,
                                  std::size_t first) {
  loaded data = load(program, opts.file, opts.reading);
  if (!data.error.empty()) {
    fail(program, data.error);
    return std::nullopt;
  }
  const std::string name = shown_name(opts.file);
  std::string why = check_samples(data.rows, first, name, data.first_line);
  if (why.empty() && data.unlabelled != 0)  // rows of equal length
    why = name + ":" + std::to_string(data.unlabelled) + ": no column " +
          std::to_string(opts.reading.label) + " for --label";
  if (!why.empty()) {
    fail(program, why);
    return std::nullopt;
  }
  if (data.rows.size() < 2)
    warn(program, name + ": warning: " +
                      (data.rows.empty() ? "no samples" : "one sample"));
  return std::move(data.rows);
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
