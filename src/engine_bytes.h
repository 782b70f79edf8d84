// The frame of the engine's plans and partial results (engine.h): writers
// put fields little-endian whatever the machine, readers check every length
// before they read, so a truncated or foreign buffer is an error value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel_width/engine.h"

namespace kernel_width::detail {

// What a buffer holds; a reader asks for the kind it expects.
enum class frame_kind : std::uint16_t {
  selection_plan = 1,
  selection_partial = 2,
  labelled_partial = 3,
  form_step = 4,
  form_partial = 5,
};

// Builds one frame: begin() writes the header, the fields follow, finish()
// sets the payload length.
struct byte_writer {
  engine_bytes out;

  void begin(frame_kind kind);
  void u64(std::uint64_t x);
  void f64(double x);
  void u64s(const std::uint64_t* x, std::size_t count);
  void f64s(const double* x, std::size_t count);
  engine_bytes finish();
};

// Reads one frame's fields in order. A read past the end, or a count that
// the bytes left cannot hold, clears ok and gives zeros; check ok (or
// done()) before trusting what was read.
struct byte_reader {
  const std::uint8_t* at = nullptr;
  const std::uint8_t* end = nullptr;
  bool ok = true;

  std::uint64_t u64();
  double f64();
  // A count of items of `size` bytes each that must fit in what is left.
  std::uint64_t count(std::size_t size);
  void u64s(std::uint64_t* x, std::size_t count);
  void f64s(double* x, std::size_t count);
  // Every byte read and none missing.
  bool done() const { return ok && at == end; }
};

// The payload of a frame of the given kind; ok false when the buffer is
// shorter than its header says, longer, of another kind, or of another
// layout version.
byte_reader open_frame(const std::uint8_t* data, std::size_t size,
                       frame_kind kind);

}  // namespace kernel_width::detail
