// Compressed data files: the same rows as the plain file, whatever the buffer
// size; a damaged or cut stream is an error, never a shorter table.
#include "gzip_source.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "reference.h"

namespace {

using reference::same;

// text in gzip framing, as `gzip` writes it.
std::string gzip(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(
      deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
      Z_OK);
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Reads bytes as a gzip file from memory.
read_result read_gzip(const std::string& bytes, std::size_t block,
                      read_options options = {}) {
  const int fd = memfd_create("gzip_test", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(lseek(fd, 0, SEEK_SET), 0);
  read_result read = read_gzip_fd(fd, block, options);
  close(fd);
  return read;
}

const std::string text =
    "x,y\n1,2.5\n3,setosa\n4e1, 5\r\n" + std::string(300, '7') + ",8\n9,10";

TEST(Gzip, SameRowsAsThePlainText) {
  const std::string packed = gzip(text);
  const read_result plain = read_source(
      [done = false](char* to, std::size_t size, std::string&) mutable {
        if (done) return std::size_t{0};
        done = true;
        EXPECT_GE(size, text.size());
        text.copy(to, text.size());
        return text.size();
      },
      1 << 20, {',', 1, last_column});
  for (std::size_t block = 1; block < 70; ++block) {
    const read_result read = read_gzip(packed, block, {',', 1, last_column});
    ASSERT_TRUE(read.error.empty()) << block;
    EXPECT_TRUE(same(read.rows, plain.rows)) << block;
    EXPECT_EQ(read.rows.size(), 5u);
  }
  // Without the label, line 3 holds a bad field, named as in the plain file.
  const read_result bad = read_gzip(packed, 16, {',', 1, 0});
  EXPECT_EQ(bad.bad.line, 3u);
  EXPECT_EQ(bad.bad.text, "setosa");
}

TEST(Gzip, MembersFollowOneAnother) {
  const read_result read =
      read_gzip(gzip("1 2\n3 ") + gzip("") + gzip("4\n"), 5);
  ASSERT_TRUE(read.ok());
  EXPECT_TRUE(same(read.rows, Table{{1, 2}, {3, 4}}));
  const read_result empty = read_gzip(gzip(""), 5);
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.rows.empty());
}

// Every cut short of the whole stream, the empty file included, is an error.
TEST(Gzip, CutStreamsAreErrors) {
  const std::string packed = gzip(text);
  for (std::size_t size = 0; size < packed.size(); ++size) {
    const read_result read =
        read_gzip(packed.substr(0, size), 7, {',', 1, last_column});
    EXPECT_EQ(read.error, "not a valid gzip stream (unexpected end of file)")
        << size;
  }
}

// A changed byte of the compressed data or its trailer (the header's time
// and system bytes, 4 to 9, are not checked) is an error: the checksum and
// the length catch what decoding does not, unless a changed field stops
// reading first, as in the plain file.
TEST(Gzip, DamagedStreamsAreErrors) {
  const std::string packed = gzip(text);
  for (std::size_t at = 10; at < packed.size(); ++at) {
    std::string damaged = packed;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x21);
    const read_result read = read_gzip(damaged, 64, {',', 1, last_column});
    EXPECT_TRUE(read.error.starts_with("not a valid gzip stream (") ||
                (read.error.empty() && read.bad.position > 0))
        << at << ": " << read.error;
  }
  EXPECT_EQ(read_gzip("1 2\n3 4\n", 64).error,
            "not a valid gzip stream (incorrect header check)");
  EXPECT_EQ(read_gzip(gzip("1\n") + "\n", 64).error,
            "not a valid gzip stream (unexpected end of file)");
}

// Zero bytes after the last member (padding, as some tools write it) are
// read past, as gzip -d reads them, also past the end of an input block;
// other bytes after the end, zeros first or not, stay an error.
TEST(Gzip, ZeroPaddingAfterTheEnd) {
  const std::string packed = gzip("1 2\n3 4\n");
  const std::string zeros(300 << 10, '\0');  // more than one input block
  const std::string after = "not a valid gzip stream (data after the zero "
                            "padding)";
  struct {
    std::string bytes;
    std::size_t rows;
    std::string error;
  } const cases[] = {
      {packed + '\0', 2, ""},
      {packed + zeros, 2, ""},
      {packed + gzip("5 6\n") + std::string(512, '\0'), 3, ""},
      {packed + std::string(8, '\0') + 'x', 2, after},
      {packed + zeros + "\x1f", 2, after},
      {packed + std::string(8, '\0') + gzip("5 6\n"), 2, after},
      {packed + "\x1f\x8b", 2,
       "not a valid gzip stream (unexpected end of file)"},
  };
  for (const auto& c : cases)
    for (const std::size_t block : {std::size_t{3}, std::size_t{1} << 20}) {
      const read_result read = read_gzip(c.bytes, block);
      EXPECT_EQ(read.error, c.error) << c.bytes.size() << ' ' << block;
      EXPECT_EQ(read.rows.size(), c.rows) << c.bytes.size() << ' ' << block;
    }
}

TEST(Gzip, NamesEndingInGz) {
  EXPECT_TRUE(is_gzip_name("digits.csv.gz"));
  EXPECT_TRUE(is_gzip_name(".gz"));
  EXPECT_FALSE(is_gzip_name("digits.csv.GZ"));
  EXPECT_FALSE(is_gzip_name("data.gzip"));
  EXPECT_FALSE(is_gzip_name("-"));
}

}  // namespace
