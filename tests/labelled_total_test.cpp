// Labelled's total against the scalar reference's order, bit for bit, for
// every instruction set and thread count.
#include "labelled_total.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace reference;
using namespace test_support;
namespace detail = kernel_width::detail;
using detail::packed;

TEST(BlockLabelled, TotalMatchesDistanceTotalForEveryIsaAndThreadCount) {
  for (const Shape& s : shapes) {
    const Table data = samples(s.n, s.cols + 1, 31 + s.n);
    const double want = distance_total(data, 1);
    const packed p = pack(data, 1);
    for (const isa set : isas())
      for (const unsigned threads : {1u, 2u, 3u})
        EXPECT_EQ(bits(detail::pair_total(p, threads, set)), bits(want))
            << name(set) << " n=" << s.n << " threads " << threads;
  }
}

TEST(BlockLabelled, ReferenceTotalIsTwiceTheUpperTriangle) {
  // (0,3,4) (0,0,0) (1,6,8): distances 5, 10, 5 in each direction.
  const Table data = {{0, 0, 0}, {0, 3, 4}, {1, 6, 8}};
  EXPECT_EQ(distance_total(data, 1), 40.0);
  EXPECT_EQ(detail::pair_total(pack(data, 1), 2, detail::best_isa()), 40.0);
}

TEST(BlockLabelled, LongBandsCrossSeveralCacheChunks) {
  // 4096 / 128 = 32 panels per chunk: 600 samples span several chunks.
  const Table data = samples(600, 129, 41);
  const double want = distance_total(data, 1);
  const packed p = pack(data, 1);
  for (const isa set : isas())
    for (const unsigned threads : {1u, 3u})
      EXPECT_EQ(bits(detail::pair_total(p, threads, set)), bits(want))
          << name(set) << " threads " << threads;
}

// As the ranks of a cluster share the bands (mpi/labelled_ranks.cpp): each
// part's row sums in place, added in row order on one.
TEST(BlockLabelled, BandsSharedOutOverPartsGiveTheSameTotal) {
  const Table data = samples(203, 4, 13);
  const double want = distance_total(data, 1);
  const packed p = pack(data, 1);
  for (const unsigned parts : {1u, 2u, 3u, 4u, 30u}) {
    std::vector<double> row_sums(p.n, -1.0);
    for (unsigned part = 0; part < parts; ++part)
      detail::labelled_rows(p, detail::share(p.count(), parts, part),
                            {detail::best_isa(), 2, {}}, row_sums.data());
    EXPECT_EQ(bits(detail::labelled_combine(row_sums)), bits(want))
        << parts << " parts";
  }
}

// As the MPI programs deal bands to the ranks that ask: parts at once,
// each taking the next band of one scrambled order, give the same bits.
TEST(BlockLabelled, BandsTakenInAnyOrderByPartsAtOnceGiveTheSameTotal) {
  const Table data = samples(403, 3, 5);  // 51 bands, the last one short
  const double want = distance_total(data, 1);
  const packed p = pack(data, 1);
  for (const unsigned parts : {1u, 3u}) {
    scrambled_bands bands(p.count(), parts);
    std::vector<double> row_sums(p.n, -1.0);
    run_parts(parts, [&](unsigned) {
      detail::labelled_rows(p, bands.source(), {detail::best_isa(), 2, {}},
                            row_sums.data());
    });
    EXPECT_EQ(bits(detail::labelled_combine(row_sums)), bits(want))
        << parts << " parts";
  }
}

}  // namespace
