// How the selection went on a data file: prints "median_passes N",
// "quantiles_passes N" (0.1, 0.5, 0.9) and each one's seconds (the best of
// RUNS, taken in turn; 1 unless given), all threads; with a third word,
// "median" or "quantiles", only that one (for an instruction count). The
// passes count the first one and any more over all pairs, not the sample
// before them. With "phases", where the time goes, on 1 and on 2 threads:
// the rough and the fine sample, the plan made of them, the passes over all
// pairs and what is left (picking the values from the kept ones), each the
// best of RUNS in wall and in CPU seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "rank_passes.h"
#include "rank_sample.h"
#include "reader.h"
#include "samples.h"

namespace {

namespace detail = kernel_width::detail;

struct measured {
  unsigned passes = 0;
  double seconds = 1e300;
};

void run(const detail::pair_set& pairs,
         const std::vector<std::uint64_t>& ranks, measured& m) {
  const auto start = std::chrono::steady_clock::now();
  const detail::ranks_found f =
      detail::pair_ranks(pairs, ranks, 0, detail::best_isa());
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  m.passes = f.passes;
  m.seconds = std::min(m.seconds, took.count());
}

// Wall and CPU seconds (of the process: every thread) since a start.
struct clock_pair {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = cpu_now();
  static double cpu_now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
  void add_to(double* wall_cpu) const {
    const std::chrono::duration<double> w =
        std::chrono::steady_clock::now() - wall;
    wall_cpu[0] += w.count();
    wall_cpu[1] += cpu_now() - cpu;
  }
};

// The phases of one selection, wall and CPU seconds each.
enum phase { rough, fine, plan, pass, pick, total, phases };
const char* const phase_names[phases] = {"rough", "fine", "plan",
                                         "pass",  "pick", "total"};
struct timing {
  double s[phases][2] = {};
  unsigned passes = 0;
  // The first pass: its windows and hulls, the values it took one by one
  // (inside a hull) and those it kept.
  std::size_t windows = 0, hulls = 0;
  std::uint64_t one_by_one = 0, kept = 0;
  // The fine sample's tiles, and whether it held every value of its ranges.
  std::uint64_t fine_tiles = 0;
  bool fine_whole = false;
};

timing run_phases(const detail::pair_set& pairs,
                  const std::vector<std::uint64_t>& ranks, unsigned threads) {
  timing t;
  const detail::isa set = detail::best_isa();
  const clock_pair all;
  const detail::sample_drawer tiles =
      detail::tile_drawer(pairs, set, threads);
  int draws = 0;
  const detail::sample_drawer draw = [&](const detail::sample_request& q,
                                         std::vector<detail::tally>& parts) {
    const clock_pair c;
    const bool whole = tiles(q, parts);
    if (draws > 0) t.fine_tiles = q.tiles, t.fine_whole = whole;
    c.add_to(t.s[draws++ == 0 ? rough : fine]);
    return whole;
  };
  const std::optional<detail::pass_plan> first =
      detail::sampled_plan(pairs.count(), draw, ranks, {});
  all.add_to(t.s[plan]);
  const clock_pair selecting;
  const detail::workers w{set, threads, {}};
  const detail::ranks_result r = detail::select_ranks(
      pairs.count(), ranks,
      [&](const detail::pass_plan& p, detail::pass_result& out) {
        std::vector<std::size_t> bands(pairs.bands());
        for (std::size_t b = 0; b < bands.size(); ++b) bands[b] = b;
        std::atomic<std::size_t> next{0};
        const clock_pair c;
        const bool done =
            detail::tally_bands(pairs, p, detail::in_order(bands, next), w, out);
        c.add_to(t.s[pass]);
        if (t.windows == 0) {
          t.windows = p.windows.size();
          t.hulls = p.hulls.size();
          for (std::size_t j = 0; j < p.windows.size(); ++j) {
            const detail::window& v = p.windows[j];
            if (v.first != detail::bits_of(v.hi))
              t.one_by_one += out.t.inside[j];
            if (j + 1 < p.windows.size()) t.one_by_one += out.t.after[j];
            for (const auto& part : out.kept[j]) t.kept += part.size();
          }
        }
        return done;
      },
      first);
  selecting.add_to(t.s[pick]);
  all.add_to(t.s[total]);
  for (int k = 0; k < 2; ++k) {
    t.s[plan][k] -= t.s[rough][k] + t.s[fine][k];
    t.s[pick][k] -= t.s[pass][k];
  }
  t.passes = r.passes;
  return t;
}

void print_phases(const char* name, unsigned threads, const timing& t) {
  std::printf("%-9s %u thread%s, %u pass%s:", name, threads,
              threads == 1 ? " " : "s", t.passes, t.passes == 1 ? "  " : "es");
  for (int k = 0; k < phases; ++k)
    std::printf("  %s %.3f/%.3f", phase_names[k], t.s[k][0], t.s[k][1]);
  std::printf("\n    %zu windows, %zu hulls; %llu values one by one, %llu kept; "
              "fine sample %llu tiles%s\n",
              t.windows, t.hulls, static_cast<unsigned long long>(t.one_by_one),
              static_cast<unsigned long long>(t.kept),
              static_cast<unsigned long long>(t.fine_tiles),
              t.fine_tiles == 0 ? "" : t.fine_whole ? ", whole" : ", not whole");
}

// Each phase's best (wall, CPU) over the runs, median and quantiles taken
// in turn, on 1 and on 2 threads; then the quantiles' over the median's.
void phases_of(const detail::pair_set& pairs,
               const std::vector<std::uint64_t>& median,
               const std::vector<std::uint64_t>& quantiles, int runs) {
  std::printf("phase: wall/CPU seconds, the best of %d runs each\n", runs);
  for (const unsigned threads : {1u, 2u}) {
    timing best[2];
    for (timing& b : best)
      for (auto& s : b.s) s[0] = s[1] = 1e300;
    for (int r = 0; r < runs; ++r)
      for (int k = 0; k < 2; ++k) {
        const timing t = run_phases(pairs, k == 0 ? median : quantiles, threads);
        best[k].passes = t.passes;
        best[k].windows = t.windows;
        best[k].hulls = t.hulls;
        best[k].one_by_one = t.one_by_one;
        best[k].kept = t.kept;
        best[k].fine_tiles = t.fine_tiles;
        best[k].fine_whole = t.fine_whole;
        for (int p = 0; p < phases; ++p)
          for (int c = 0; c < 2; ++c)
            best[k].s[p][c] = std::min(best[k].s[p][c], t.s[p][c]);
      }
    print_phases("median", threads, best[0]);
    print_phases("quantiles", threads, best[1]);
    std::printf("ratio     %u thread%s:           ", threads,
                threads == 1 ? " " : "s");
    for (int p = 0; p < phases; ++p)
      std::printf("  %s %.2f/%.2f", phase_names[p],
                  best[1].s[p][0] / best[0].s[p][0],
                  best[1].s[p][1] / best[0].s[p][1]);
    std::printf("\n");
  }
}

// A plan of `hulls` windows far above every distance: the vector loop's
// cost with that many hulls, nothing taken one by one.
detail::pass_plan far_plan(std::size_t hulls) {
  detail::pass_plan plan;
  for (std::size_t k = 0; k < hulls; ++k) {
    const double lo = 1e300 * static_cast<double>(1 << (2 * k));
    plan.windows.push_back(detail::window_over(
        detail::bits_of(lo), detail::bits_of(1.5 * lo), detail::unknown_count,
        12));
  }
  detail::plan_hulls(plan);
  return plan;
}

// The first pass alone, on one thread over a few bands in the middle, its
// plan from the sample, median and quantiles in turn with plans of 1 to 4
// hulls far above the distances, RUNS times: the best CPU seconds of each,
// for changes to the pass's kernel.
void kernel_of(const detail::pair_set& pairs,
               const std::vector<std::uint64_t>& median,
               const std::vector<std::uint64_t>& quantiles, int runs) {
  const detail::isa set = detail::best_isa();
  std::vector<detail::pass_plan> plans;
  plans.push_back(*detail::sampled_plan(pairs, set, 2, median, {}));
  plans.push_back(*detail::sampled_plan(pairs, set, 2, quantiles, {}));
  for (std::size_t h = 1; h <= 4; ++h) plans.push_back(far_plan(h));
  const char* const names[] = {"median", "quantiles", "far1",
                               "far2",   "far3",      "far4"};
  std::vector<std::size_t> bands;
  const std::size_t from = pairs.bands() / 3;
  for (std::size_t b = from; b < from + 400 && b < pairs.bands(); ++b)
    bands.push_back(b);
  const detail::workers w{set, 1, {}};
  std::vector<double> best(plans.size(), 1e300);
  std::vector<std::uint64_t> inside(plans.size());
  for (int r = 0; r < runs; ++r)
    for (std::size_t k = 0; k < plans.size(); ++k) {
      detail::pass_result out;
      out.t.reset(plans[k]);
      std::atomic<std::size_t> next{0};
      const double start = clock_pair::cpu_now();
      detail::tally_bands(pairs, plans[k], detail::in_order(bands, next), w,
                          out);
      best[k] = std::min(best[k], clock_pair::cpu_now() - start);
      inside[k] = 0;
      for (const std::uint64_t x : out.t.inside) inside[k] += x;
    }
  for (std::size_t k = 0; k < plans.size(); ++k)
    std::printf("kernel %-9s %zu hulls, %7llu inside: %.4f s, %.3f of far1\n",
                names[k], plans[k].hulls.size(),
                static_cast<unsigned long long>(inside[k]), best[k],
                best[k] / best[2]);
  std::printf("kernel quantiles / median: %.3f\n", best[1] / best[0]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fputs(
        "usage: selection_passes DATAFILE [RUNS [median|quantiles|phases|kernel]]\n",
        stderr);
    return 2;
  }
  const detail::packed p = pack(input(argv[1]), 0);
  const detail::pair_set pairs{&p, nullptr};
  const std::uint64_t m = pairs.count();
  if (m < 2) return 1;
  const int runs = argc >= 3 ? std::atoi(argv[2]) : 1;
  const std::string only = argc == 4 ? argv[3] : "";
  std::vector<std::uint64_t> ranks;
  for (const double q : {0.1, 0.5, 0.9}) {
    const auto low = static_cast<std::uint64_t>(q * static_cast<double>(m - 1));
    if (ranks.empty() || ranks.back() < low) ranks.push_back(low);
    if (low + 1 < m) ranks.push_back(low + 1);
  }
  if (only == "kernel") {
    kernel_of(pairs, {(m - 1) / 2, m / 2}, ranks, runs);
    return 0;
  }
  if (only == "phases") {
    phases_of(pairs, {(m - 1) / 2, m / 2}, ranks, runs);
    return 0;
  }
  measured median, quantiles;
  for (int r = 0; r < runs; ++r) {
    if (only != "quantiles") run(pairs, {(m - 1) / 2, m / 2}, median);
    if (only != "median") run(pairs, ranks, quantiles);
  }
  std::printf("median_passes %u\nquantiles_passes %u\n", median.passes,
              quantiles.passes);
  std::printf("median_seconds %.3f\nquantiles_seconds %.3f\n",
              median.seconds, quantiles.seconds);
}
