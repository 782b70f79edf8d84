// The package's calls into the library: R's samples copied into rows, the
// computation on its own thread (interruptible), and the results as R
// lists, or an R error in the library's words.
#include <Rcpp.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "interruptible.h"
#include "kernel_width/kernel_width.h"
#include "samples.h"

#ifdef __FAST_MATH__
#error "the widths are exact only without -ffast-math"
#endif

namespace kw = kernel_width;

namespace {

void check(kw::error e) {
  if (e != kw::error::none) Rcpp::stop(kw::describe(e));
}

double count(std::uint64_t n) { return static_cast<double>(n); }

}  // namespace

// [[Rcpp::export(.library_version)]]
std::string library_version() { return kw::version(); }

// form's statistics of x and, when table is not NULL, the width from them.
// [[Rcpp::export(.form)]]
Rcpp::List form(SEXP x, SEXP table, int threads) {
  const row_major samples = rows_of(x);
  const kw::form_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::form(samples.view(), threads, cancel);
      });
  check(s.status);
  Rcpp::List out = Rcpp::List::create(
      Rcpp::Named("n") = count(s.n), Rcpp::Named("columns") = count(s.columns),
      Rcpp::Named("mean") = s.mean, Rcpp::Named("variance") = s.variance,
      Rcpp::Named("ratio") = s.ratio);
  if (Rf_isNull(table)) return out;
  const row_major rows = rows_of(table);
  const kw::form_width_result r = kw::form_width(s, rows.view());
  check(r.status);
  out["width"] = r.width;
  out["sigma"] = r.sigma;
  out["gamma"] = r.gamma;
  // which rule gave the width, for the R side's warning about a width of 0
  out["rule"] = r.rule == kw::form_rule::low_ratio    ? "low_ratio"
                : r.rule == kw::form_rule::high_ratio ? "high_ratio"
                                                      : "table";
  const bool table_rule = r.rule == kw::form_rule::table;
  out["row"] = table_rule ? count(r.row) + 1 : NA_REAL;
  out["divisor"] =
      table_rule ? rows.values[r.row * rows.cols + 1] : NA_REAL;
  return out;
}

// labelled's statistics over x's columns, its label column left out by
// the R side (x's skip).
// [[Rcpp::export(.labelled)]]
Rcpp::List labelled(SEXP x, int threads) {
  const row_major samples = rows_of(x);
  const kw::labelled_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::labelled(samples.view(), 0, threads, cancel);
      });
  check(s.status);
  return Rcpp::List::create(
      Rcpp::Named("n") = count(s.n), Rcpp::Named("columns") = count(s.columns),
      Rcpp::Named("total") = s.total,
      Rcpp::Named("pairs") = static_cast<double>(s.pairs),
      Rcpp::Named("mean") = s.mean, Rcpp::Named("width") = s.width,
      Rcpp::Named("sigma") = s.sigma, Rcpp::Named("gamma") = s.gamma);
}

// The distances at the given ranks (from 0) among the sorted distances
// within x (kind 0), of x and y pooled (1) or across them (2).
// [[Rcpp::export(.order_statistics)]]
Rcpp::List order_statistics(SEXP x, SEXP y, int kind,
                            Rcpp::NumericVector ranks, int threads) {
  std::vector<std::uint64_t> wanted(ranks.size());
  for (R_xlen_t k = 0; k < ranks.size(); ++k) {
    if (!(ranks[k] >= 0 && ranks[k] < 0x1p63) ||
        ranks[k] != std::floor(ranks[k]))
      Rcpp::stop("bad rank");
    wanted[k] = static_cast<std::uint64_t>(ranks[k]);
  }
  const row_major first = rows_of(x);
  const row_major second = kind == 0 ? row_major{} : rows_of(y);
  const kw::sample_pairs pairs =
      kind == 0 ? kw::sample_pairs(first.view())
                : kw::sample_pairs(first.view(), second.view(),
                                   kind == 1 ? kw::pairing::pooled
                                             : kw::pairing::cross);
  Rcpp::NumericVector values(ranks.size());
  const kw::selection s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::order_statistics(pairs, wanted.data(), wanted.size(),
                                    values.begin(), threads, cancel);
      });
  check(s.status);
  return Rcpp::List::create(Rcpp::Named("values") = values,
                            Rcpp::Named("pairs") = count(s.pairs),
                            Rcpp::Named("nan_pairs") = count(s.nan_pairs),
                            Rcpp::Named("zero_pairs") = count(s.zero_pairs));
}

namespace {

// The sampling arguments, list(draws, seed, confidence), checked on the R
// side; the seed as decimal digits (R's doubles hold whole numbers only up
// to 2^53).
kw::sampling sampling_of(const Rcpp::List& how) {
  const auto draws = Rcpp::as<double>(how["draws"]);
  const auto seed = Rcpp::as<std::string>(how["seed"]);
  const auto confidence = Rcpp::as<double>(how["confidence"]);
  if (!(draws >= 1 && draws <= 0x1p63) || draws != std::floor(draws))
    Rcpp::stop("bad sample");
  std::uint64_t value = 0;
  for (const char c : seed) {
    if (c < '0' || c > '9' || value > (UINT64_MAX - (c - '0')) / 10)
      Rcpp::stop("bad seed");
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return {static_cast<std::uint64_t>(draws), value, confidence};
}

// One end of an interval as R's list(sigma, width, gamma); the ranks
// apart.
Rcpp::List end_of(const kw::interval_end& e) {
  return Rcpp::List::create(Rcpp::Named("sigma") = e.value,
                            Rcpp::Named("width") = e.width,
                            Rcpp::Named("gamma") = e.gamma);
}

}  // namespace

// numpy's quantiles of the distances drawn as `how` says (sampling_of())
// within x (kind 0), of x and y pooled (1) or across them (2), with each
// interval: estimate, low and high as lists of numeric vectors (sigma,
// width, gamma), the ranks from 1 (NA for a trivial end), and N.
// [[Rcpp::export(.sampled_quantiles)]]
Rcpp::List sampled_quantiles(SEXP x, SEXP y, int kind,
                             Rcpp::NumericVector probs, Rcpp::List how,
                             int threads) {
  const kw::sampling drawn = sampling_of(how);
  const row_major first = rows_of(x);
  const row_major second = kind == 0 ? row_major{} : rows_of(y);
  const kw::sample_pairs pairs =
      kind == 0 ? kw::sample_pairs(first.view())
                : kw::sample_pairs(first.view(), second.view(),
                                   kind == 1 ? kw::pairing::pooled
                                             : kw::pairing::cross);
  const auto size = static_cast<std::size_t>(probs.size());
  std::vector<kw::sampled_quantile> found(size);
  const kw::sampled_selection s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_quantiles({pairs, drawn}, probs.begin(), size,
                                     found.data(), threads, cancel);
      });
  check(s.status);
  const auto n = static_cast<R_xlen_t>(size);
  Rcpp::NumericVector values(n), widths(n), gammas(n), low_sigma(n),
      low_width(n), low_gamma(n), high_sigma(n), high_width(n),
      high_gamma(n), low_rank(n), high_rank(n);
  for (R_xlen_t k = 0; k < n; ++k) {
    const kw::sampled_quantile& q = found[static_cast<std::size_t>(k)];
    values[k] = q.estimate.value;
    widths[k] = q.estimate.width;
    gammas[k] = q.estimate.gamma;
    low_sigma[k] = q.low.value;
    low_width[k] = q.low.width;
    low_gamma[k] = q.low.gamma;
    high_sigma[k] = q.high.value;
    high_width[k] = q.high.width;
    high_gamma[k] = q.high.gamma;
    low_rank[k] = q.low.trivial ? NA_REAL : count(q.low.rank) + 1;
    high_rank[k] = q.high.trivial ? NA_REAL : count(q.high.rank) + 1;
  }
  const auto triple = [](const Rcpp::NumericVector& sigma,
                         const Rcpp::NumericVector& width,
                         const Rcpp::NumericVector& gamma) {
    return Rcpp::List::create(Rcpp::Named("sigma") = sigma,
                              Rcpp::Named("width") = width,
                              Rcpp::Named("gamma") = gamma);
  };
  return Rcpp::List::create(
      Rcpp::Named("estimate") = triple(values, widths, gammas),
      Rcpp::Named("low") = triple(low_sigma, low_width, low_gamma),
      Rcpp::Named("high") = triple(high_sigma, high_width, high_gamma),
      Rcpp::Named("low_rank") = low_rank, Rcpp::Named("high_rank") = high_rank,
      Rcpp::Named("pairs") = count(s.population));
}

// The mean of the distances drawn as `how` says (sampling_of()) over x's
// columns, with its interval, as labelled_statistics gives it (low and high
// as end_of()).
// [[Rcpp::export(.sampled_mean)]]
Rcpp::List sampled_mean(SEXP x, Rcpp::List how, int threads) {
  const kw::sampling drawn = sampling_of(how);
  const row_major samples = rows_of(x);
  const kw::sampled_labelled s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_mean(samples.view(), 0, drawn, threads, cancel);
      });
  check(s.status);
  return Rcpp::List::create(
      Rcpp::Named("n") = count(s.n), Rcpp::Named("columns") = count(s.columns),
      Rcpp::Named("pairs") = count(s.population), Rcpp::Named("mean") = s.mean,
      Rcpp::Named("width") = s.width, Rcpp::Named("sigma") = s.sigma,
      Rcpp::Named("gamma") = s.gamma, Rcpp::Named("low") = end_of(s.low),
      Rcpp::Named("high") = end_of(s.high),
      Rcpp::Named("draws") = count(s.draws),
      Rcpp::Named("seed") = Rcpp::as<std::string>(how["seed"]),
      Rcpp::Named("confidence") = s.confidence);
}
