// gzip_source.h for a build without zlib: compressed files are refused.
#include "gzip_source.h"

read_result read_gzip_fd(int, std::size_t, read_options) {
  read_result result;
  result.error =
      "compressed data files need zlib, which this build lacks (install "
      "zlib1g-dev and build again)";
  return result;
}
