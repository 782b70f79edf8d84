#include "engine_bytes.h"

#include <bit>
#include <cstring>

namespace kernel_width::detail {

namespace {

constexpr std::uint8_t magic[4] = {'K', 'W', 'E', 'B'};
constexpr std::size_t header_bytes = 4 + 2 + 2 + 8;

void put(engine_bytes& out, std::uint64_t x, int bytes) {
  for (int k = 0; k < bytes; ++k)
    out.push_back(static_cast<std::uint8_t>(x >> (8 * k)));
}

std::uint64_t get(const std::uint8_t* at, int bytes) {
  std::uint64_t x = 0;
  for (int k = 0; k < bytes; ++k) x |= std::uint64_t{at[k]} << (8 * k);
  return x;
}

}  // namespace

void byte_writer::begin(frame_kind kind) {
  out.clear();
  for (const std::uint8_t b : magic) out.push_back(b);
  put(out, engine_layout_version, 2);
  put(out, static_cast<std::uint16_t>(kind), 2);
  put(out, 0, 8);
}

void byte_writer::u64(std::uint64_t x) { put(out, x, 8); }
void byte_writer::f64(double x) { put(out, std::bit_cast<std::uint64_t>(x), 8); }

// Arrays by the million (partial results): copied whole where the
// machine's words are already the layout's (little-endian).
template <class Word>
void put_words(engine_bytes& out, const Word* x, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(x);
    out.insert(out.end(), bytes, bytes + count * 8);
  } else {
    out.reserve(out.size() + 8 * count);
    for (std::size_t k = 0; k < count; ++k)
      put(out, std::bit_cast<std::uint64_t>(x[k]), 8);
  }
}

template <class Word>
void get_words(const std::uint8_t* at, Word* x, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    if (count > 0) std::memcpy(x, at, count * 8);
  } else {
    for (std::size_t k = 0; k < count; ++k)
      x[k] = std::bit_cast<Word>(get(at + 8 * k, 8));
  }
}

void byte_writer::u64s(const std::uint64_t* x, std::size_t count) {
  put_words(out, x, count);
}

void byte_writer::f64s(const double* x, std::size_t count) {
  put_words(out, x, count);
}

engine_bytes byte_writer::finish() {
  const std::uint64_t payload = out.size() - header_bytes;
  for (int k = 0; k < 8; ++k)
    out[8 + static_cast<std::size_t>(k)] =
        static_cast<std::uint8_t>(payload >> (8 * k));
  return std::move(out);
}

std::uint64_t byte_reader::u64() {
  if (!ok || end - at < 8) {
    ok = false;
    return 0;
  }
  const std::uint64_t x = get(at, 8);
  at += 8;
  return x;
}

double byte_reader::f64() { return std::bit_cast<double>(u64()); }

std::uint64_t byte_reader::count(std::size_t size) {
  const std::uint64_t n = u64();
  if (ok && size > 0 && n > static_cast<std::uint64_t>(end - at) / size)
    ok = false;
  return ok ? n : 0;
}

void byte_reader::u64s(std::uint64_t* x, std::size_t count) {
  if (!ok || static_cast<std::uint64_t>(end - at) / 8 < count) {
    ok = false;
    return;
  }
  get_words(at, x, count);
  at += 8 * count;
}

void byte_reader::f64s(double* x, std::size_t count) {
  if (!ok || static_cast<std::uint64_t>(end - at) / 8 < count) {
    ok = false;
    return;
  }
  get_words(at, x, count);
  at += 8 * count;
}

byte_reader open_frame(const std::uint8_t* data, std::size_t size,
                       frame_kind kind) {
  byte_reader r;
  r.ok = data != nullptr && size >= header_bytes &&
         std::memcmp(data, magic, 4) == 0 &&
         get(data + 4, 2) == engine_layout_version &&
         get(data + 6, 2) == static_cast<std::uint16_t>(kind) &&
         get(data + 8, 8) == size - header_bytes;
  if (!r.ok) return r;
  r.at = data + header_bytes;
  r.end = data + size;
  return r;
}

}  // namespace kernel_width::detail
