// Data files compressed with gzip, decompressed through zlib as they are
// read.
#pragma once

#include <cstddef>
#include <string>

#include "reader.h"

// Whether path names a gzip file: it ends in ".gz".
inline bool is_gzip_name(const std::string& path) {
  return path.ends_with(".gz");
}

// Reads the gzip file open as fd as read_fd reads a plain one: the same rows,
// warnings and line numbers, members of a multi-member file one after the
// other. A stream that is damaged or ends early sets the error to "not a
// valid gzip stream (why)", with the rows read before it; nothing after the
// stream's end but another member, or zero bytes to the end of the file
// (padding, as gzip -d reads past it). Does not close fd. Built without
// zlib, the error says so and no row is read.
read_result read_gzip_fd(int fd, std::size_t block, read_options options = {});
