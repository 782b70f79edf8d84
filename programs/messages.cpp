#include "messages.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "cpu.h"

std::string shown_name(const std::string& path) {
  return path == "-" ? "<stdin>" : visible(path);
}

const char* warning_word(bool strict) { return strict ? "error" : "warning"; }

std::string visible(std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      out += c;
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\v') {
      out += "\\v";
    } else if (c == '\f') {
      out += "\\f";
    } else {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out;
}

std::string quoted(std::string_view text, std::size_t cut) {
  return "\"" + visible(text.substr(0, cut)) + "\"" +
         (text.size() > cut ? "..." : "");
}

std::string values(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

int fail(const char* program, const std::string& message) {
  std::cerr << program << ": " << message << '\n';
  return 1;
}

void warn(const char* program, const std::string& message) {
  if (!message.empty()) fail(program, message);
}

int out_of_memory(const char* program, const std::string& name,
                  std::size_t bytes) {
  std::string message = name + ": out of memory";
  if (bytes > 0) {
    char size[64];
    std::snprintf(size, sizeof size, " (%.1f MiB needed)",
                  static_cast<double>(bytes) / (1 << 20));
    message += size;
  }
  return fail(program, message);
}

int print_out(const char* program, const std::string& text) {
  errno = 0;
  std::cout << text;
  std::cout.flush();
  if (!std::cout.fail()) return 0;
  return fail(program, std::string("standard output: ") +
                           (errno ? std::strerror(errno) : "write error"));
}

int print_width(const char* program, double width) {
  return print_out(program, width_text(width) + '\n');
}

double parameter(output_kind kind, double width, double sigma, double gamma) {
  return kind == output_kind::sigma   ? sigma
         : kind == output_kind::gamma ? gamma
                                      : width;
}

std::vector<std::pair<std::string, std::string>> parameter_lines(
    double width, double sigma, double gamma) {
  return {{"sigma", exact(sigma)}, {"gamma", exact(gamma)},
          {"width", exact(width)}};
}

namespace {

// A NaN as glibc shows it, with its sign, whatever the C library: Windows'
// shows none.
const char* nan_text(double value) {
  return std::signbit(value) ? "-nan" : "nan";
}

}  // namespace

std::string width_text(double width) {
  if (std::isnan(width)) return nan_text(width);
  std::ostringstream text;
  text << width;
  return text.str();
}

std::string exact(double value) {
  if (std::isnan(value)) return nan_text(value);
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void report(const std::vector<std::pair<std::string, std::string>>& lines) {
  for (const auto& [name, value] : lines)
    std::cerr << name << ": " << value << '\n';
  std::cerr.flush();
}

int check_isa(const char* program) {
  namespace detail = kernel_width::detail;
  if (detail::selected_isa().ok) return 0;
  const char* name = std::getenv("KERNEL_WIDTH_ISA");
  return fail(program, "KERNEL_WIDTH_ISA: unknown or unsupported \"" +
                           visible(name ? name : "") + "\" (this CPU runs: " +
                           detail::supported_isas() + ")");
}
