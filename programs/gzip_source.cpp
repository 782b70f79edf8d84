#include "gzip_source.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The compressed bytes are read from the file in blocks of this size.
constexpr std::size_t input_block = std::size_t{1} << 18;

// One inflate stream over the file fd; ended when it goes.
struct inflater {
  int fd;
  z_stream z{};
  bool ready = false;
  bool input_ended = false;
  bool member_ended = false;  // the last member read so far is complete
  bool padding = false;       // zero bytes follow it
  std::vector<unsigned char> in = std::vector<unsigned char>(input_block);

  explicit inflater(int file) : fd(file) {
    ready = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK;  // gzip framing only
  }
  ~inflater() {
    if (ready) inflateEnd(&z);
  }
  inflater(const inflater&) = delete;
  inflater& operator=(const inflater&) = delete;
};

std::string invalid(const char* why) {
  return std::string("not a valid gzip stream (") + why + ")";
}

// Reads the next block of compressed bytes; false with error set on a read
// error.
bool refill(inflater& s, std::string& error) {
  for (;;) {
    const ssize_t got = ::read(s.fd, s.in.data(), s.in.size());
    if (got >= 0) {
      s.z.next_in = s.in.data();
      s.z.avail_in = static_cast<uInt>(got);
      s.input_ended = got == 0;
      return true;
    }
    if (errno == EINTR) continue;
    error = std::strerror(errno);
    return false;
  }
}

// After the last member: zero bytes, which some tools pad a file with and
// gzip -d reads past, up to the end of the file; anything after them is
// an error. Takes the zeros at hand; false with error set on other bytes.
bool skip_padding(inflater& s, std::string& error) {
  s.padding = true;
  while (s.z.avail_in > 0 && *s.z.next_in == 0) {
    ++s.z.next_in;
    --s.z.avail_in;
  }
  if (s.z.avail_in == 0) return true;
  error = invalid("data after the zero padding");
  return false;
}

// Inflates into to[0, size) until some bytes come out, the stream ends or it
// proves damaged; returns how many came out. A call of inflate that takes
// no input and gives no output, with input at hand, is a fault that ends
// as an error rather than a loop.
std::size_t inflate_into(inflater& s, char* to, std::size_t size,
                         std::string& error) {
  if (!s.ready) {
    error = "out of memory";
    return 0;
  }
  const auto room = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
  s.z.next_out = reinterpret_cast<Bytef*>(to);
  s.z.avail_out = room;
  while (s.z.avail_out == room) {
    if (s.z.avail_in == 0 && !s.input_ended && !refill(s, error)) return 0;
    if (s.z.avail_in == 0 && s.input_ended) {
      if (!s.member_ended) error = invalid("unexpected end of file");
      return 0;
    }
    if (s.member_ended && (s.padding || *s.z.next_in == 0)) {
      if (!skip_padding(s, error)) return 0;
      continue;
    }
    if (s.member_ended) {  // another member follows
      inflateReset(&s.z);
      s.member_ended = false;
    }
    const uInt before = s.z.avail_in;
    const int status = inflate(&s.z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      s.member_ended = true;
    } else if (status == Z_MEM_ERROR) {
      error = "out of memory";
      return 0;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      error = invalid(s.z.msg ? s.z.msg : "damaged data");
      return 0;
    }
    if (s.z.avail_in == before && before > 0 && s.z.avail_out == room) {
      error = invalid("decoding made no progress");
      return 0;
    }
  }
  return room - s.z.avail_out;
}

}  // namespace

read_result read_gzip_fd(int fd, std::size_t block, read_options options) {
  inflater stream(fd);
  return read_source(
      [&stream](char* to, std::size_t size, std::string& error) {
        return inflate_into(stream, to, size, error);
      },
      block, options);
}
