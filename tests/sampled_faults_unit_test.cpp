// The second pass over a data file for a sample of pairs: a file that
// grew or shrank past the rows wanted, or changed width, is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "streamed_samples.h"

namespace {

namespace fs = std::filesystem;

TEST(SampledFaultsTwoPasses, ChangesAfterTheWantedRowsAreSeen) {
  struct change {
    const char* after;  // the file at the second pass
    std::vector<std::uint64_t> wanted;
  };
  // The first pass saw "1 2\n3 4\n5 6\n"; only row 0 is wanted, so every
  // change lies after it.
  const change changes[] = {
      {"1 2\n3 4\n", {0}},           // one row fewer
      {"1 2\n3 4\n5 6\n7 8\n", {0}},  // one row more
      {"1 2\n3 4\n5 6 7\n", {0}},    // a row wider
      {"1 2\n3 4\n5 6\n", {0, 3}},   // a wanted row past the end
  };
  char pattern[] = "/tmp/sampled_faults_unit_XXXXXX";
  const fs::path dir = mkdtemp(pattern);
  const fs::path path = dir / "d.txt";
  for (const change& c : changes) {
    std::ofstream(path) << "1 2\n3 4\n5 6\n";
    options opts;
    opts.file = path.string();
    const std::optional<scanned> s = scan_samples("p", opts, 0);
    ASSERT_TRUE(s);
    std::ofstream(path) << c.after;
    std::ostringstream errors;
    std::streambuf* saved = std::cerr.rdbuf(errors.rdbuf());
    std::vector<double> kept;
    const bool ok = keep_samples("p", opts, 0, *s, c.wanted, kept);
    std::cerr.rdbuf(saved);
    EXPECT_FALSE(ok) << c.after;
    EXPECT_NE(errors.str().find(": changed between passes"),
              std::string::npos)
        << c.after;
  }
  // Unchanged: the rows wanted, the last one included.
  std::ofstream(path) << "1 2\n3 4\n5 6\n";
  options opts;
  opts.file = path.string();
  const std::optional<scanned> s = scan_samples("p", opts, 0);
  ASSERT_TRUE(s);
  std::vector<double> kept;
  EXPECT_TRUE(keep_samples("p", opts, 0, *s, std::vector<std::uint64_t>{0, 2},
                           kept));
  EXPECT_EQ(kept, (std::vector<double>{1, 2, 5, 6}));
  fs::remove_all(dir);
}

}  // namespace
