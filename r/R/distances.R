#' Median heuristic, exactly
#'
#' \code{2 * median(dist(x))^2}, bit for bit, without \code{dist(x)}: the
#' library finds the one or two middle distances among the \eqn{n(n-1)/2}
#' (exactly, in a few passes over the pairs and memory that grows only with
#' the data), and R's own \code{median} arithmetic takes it from there (the
#' mean of the two middle values in R's \code{mean}, which adds in long
#' double). Two calls give the same number, unlike an estimate from a
#' random subset of the pairs.
#'
#' @inheritParams form_width
#' @param y Optional second samples with \code{x}'s columns: with
#'   \code{cross = FALSE} the distances within \code{rbind(x, y)}
#'   (pooled), with \code{cross = TRUE} those between each sample of
#'   \code{x} and each of \code{y}.
#' @param cross Whether to take only the distances across \code{x} and
#'   \code{y}.
#' @param output \code{"width"}, \eqn{2 m^2} for the median \eqn{m};
#'   \code{"sigma"}, the median itself (the \eqn{\sigma}{sigma} of
#'   \eqn{\exp(-d^2 / (2 \sigma^2))}{exp(-d^2 / (2 sigma^2))}); or
#'   \code{"gamma"}, \eqn{1 / (2 m^2)}.
#' @param sample \code{NULL} for the exact width, or a number M of pairs
#'   (1 to \eqn{2^{63}}) to draw uniformly, with replacement, from the same
#'   pairs: the result is then the estimate from the drawn distances, in
#'   seconds at any size, the same number as the programs' \code{--sample},
#'   the library and Python give for the same seed (for the median and
#'   quantiles numpy's formula on the drawn distances, R's type 7 up to the
#'   last bit). \code{distance_quantiles(interval = TRUE)} and
#'   \code{labelled_statistics} give the interval around the exact value
#'   (the argument: \code{doc/sampling.md} of the project).
#' @param seed The draws' seed with \code{sample}: a whole number from 0 to
#'   \eqn{2^{53}}, or its digits as a string up to 18446744073709551615. The
#'   same seed draws the same pairs on every front end and thread count.
#' @param confidence With \code{sample}: the probability, strictly between
#'   0 and 1, that the interval contains the exact value.
#' @return One number. Fewer than two samples leave no distances and, as
#'   from \code{median}, \code{NA}; no samples at all, or across an empty
#'   \code{x} or \code{y}, are an error (pooled, an empty one is a warning:
#'   see Warnings). A \code{NaN}
#'   distance (from \code{NaN} or infinities in the data) makes it
#'   \code{NaN}, as in the programs (\code{dist} would leave such columns
#'   out instead).
#' @section Warnings:
#' A width of 0 is a warning, whatever \code{output} asks (a sigma of 0
#' or a gamma of \code{Inf} is no more use), that names its cause in the
#' programs' words: \code{"the width is 0: every distance is 0 (all samples
#' coincide)"}; \code{"the width is 0: K of the N pairs are at distance
#' 0"}, when so many pairs coincide that the median is 0 (\code{K} and
#' \code{N} in full); or \code{"the width is 0: 2 * median^2
#' underflowed"}, when the median is positive but its square below the
#' smallest double. Fewer than two samples give \code{NA} without it.
#' Pooled, an empty \code{y} is the warning \code{"y: no samples"} and
#' the result that of \code{x} alone (an empty \code{x} likewise
#' \code{"x: no samples"}, and \code{y} alone).
#' @examples
#' median_width(iris[1:4])
#' 2 * median(dist(iris[1:4]))^2
#' median_width(iris[1:4], output = "sigma")
#' # the distances between the first two species only
#' median_width(iris[1:50, 1:4], iris[51:100, 1:4], cross = TRUE)
#' # coinciding samples: a width of 0, with a warning naming the cause
#' median_width(matrix(1, 3, 2))
#' @export
median_width <- function(x, y = NULL, cross = FALSE,
                         output = c("width", "sigma", "gamma"), threads = 0L,
                         sample = NULL, seed = 0, confidence = 0.99) {
  output <- match.arg(output)
  call <- sys.call()
  how <- sampling_arg(sample, seed, confidence,
                      c(!missing(seed), !missing(confidence)), call = call)
  p <- pairs_arg(x, y, cross, call = call)
  if (!is.null(how)) {
    s <- sampled_at(p, 0.5, how, threads_arg(threads, call = call), call)
    if (zero(s$estimate$width))
      caution(call, "the width is 0: ",
              sampled_zero_doubt(s$estimate$sigma, "median"))
    return(s$estimate[[output]])
  }
  m <- p$pairs
  # stats:::median.default's ranks and arithmetic
  half <- (m + 1) %/% 2
  ranks <- if (m == 0) numeric() else if (m %% 2 == 1) half else half + 0:1
  found <- distances_at(p, ranks, threads_arg(threads, call = call), call)
  v <- found$values
  middle <- if (m == 0) NA_real_ else if (m %% 2 == 1) v else mean(v)
  r <- parameters(middle)
  if (zero(r$width))
    caution(call, "the width is 0: ",
            zero_distance_doubt(middle, "median", m, found$zero_pairs))
  r[[output]]
}

#' Quantiles of the distances, exactly
#'
#' \code{quantile(as.vector(dist(x)), probs, names = FALSE)} (R's default,
#' type 7), bit for bit, without \code{dist(x)}: R's own indices are
#' computed here, the library finds the distances at those ranks of the
#' sorted distances exactly, and R's own formula interpolates between them.
#' Any quantile of the distances serves as a width, the median
#' (\code{probs = 0.5}) the most common.
#'
#' @inheritParams median_width
#' @param probs Probabilities in [0, 1] (as \code{quantile} takes them: within
#'   \code{100 * .Machine$double.eps} of it, \code{NA} giving \code{NA}).
#' @param output \code{"width"}, \eqn{2 q^2} for each quantile \eqn{q};
#'   \code{"sigma"}, the quantile itself; or \code{"gamma"},
#'   \eqn{1 / (2 q^2)}.
#' @param interval With \code{sample}: \code{TRUE} returns a data frame of
#'   \code{p} (\code{probs}), \code{estimate}, \code{low} and \code{high},
#'   one row per probability, the interval's ends in the chosen output: the
#'   exact value lies between \code{low} and \code{high} with probability at
#'   least \code{confidence}. For \code{"gamma"} the order reverses (low is
#'   1 / the high end's width). An end that no drawn distance reaches is 0
#'   below, or a bound on every distance above.
#' @return A numeric vector, one value per probability, without names.
#'   Fewer than two samples leave no distances: \code{NA}; no samples, or
#'   across an empty \code{x} or \code{y}, are an error (pooled, an empty
#'   one is a warning: see Warnings). A \code{NaN}
#'   distance makes every value \code{NaN} (where \code{quantile} would
#'   stop).
#' @section Warnings:
#' A width of 0 is a warning, whatever \code{output} asks, one per cause,
#' naming the probabilities it holds for (three at most, as \code{"\%g"}
#' prints them, then \code{", ..."}) and the cause in the programs' words:
#' \code{"the width for p = 0, 0.1, 0.2, ... is 0: CAUSE"}, where CAUSE is
#' \code{"every distance is 0 (all samples coincide)"}, \code{"K of the N
#' pairs are at distance 0"} (\code{K} and \code{N} in full) or
#' \code{"2 * q^2 underflowed"} (a positive quantile whose square is below
#' the smallest double). Pooled, an empty \code{y} is the warning
#' \code{"y: no samples"} and the result that of \code{x} alone (an empty
#' \code{x} likewise).
#' @examples
#' distance_quantiles(mtcars, c(0.1, 0.5, 0.9), output = "sigma")
#' quantile(as.vector(dist(mtcars)), c(0.1, 0.5, 0.9), names = FALSE)
#' # a width per quantile, for a search over kernels
#' distance_quantiles(scale(mtcars), seq(0.1, 0.9, by = 0.2))
#' # three pairs of six at distance 0: a width of 0 up to p = 0.4
#' distance_quantiles(c(0, 0, 0, 2), c(0.2, 0.4, 0.5))
#' # from 20,000 drawn pairs, with a 99% interval around each exact value
#' distance_quantiles(iris[1:4], c(0.1, 0.5, 0.9), output = "sigma",
#'                    sample = 20000, interval = TRUE)
#' @export
distance_quantiles <- function(x, probs, y = NULL, cross = FALSE,
                               output = c("width", "sigma", "gamma"),
                               threads = 0L, sample = NULL, seed = 0,
                               confidence = 0.99, interval = FALSE) {
  output <- match.arg(output)
  call <- sys.call()
  if (!is.numeric(probs) && !all(is.na(probs)))
    fail(call, "probs must be numbers in [0, 1]")
  how <- sampling_arg(sample, seed, confidence,
                      c(!missing(seed), !missing(confidence)), call = call)
  if (!isTRUE(interval) && !isFALSE(interval))
    fail(call, "interval must be TRUE or FALSE")
  if (interval && is.null(how))
    fail(call, "interval = TRUE needs sample")
  p <- pairs_arg(x, y, cross, call = call)
  threads <- threads_arg(threads, call = call)
  if (!is.null(how))
    return(sampled_quantiles_of(p, probs, how, threads, output, interval,
                                call))
  # stats:::quantile.default, type 7, on the m distances
  m <- p$pairs
  eps <- 100 * .Machine$double.eps
  p.ok <- !is.na(probs)
  if (any(p.ok & (probs < -eps | probs > 1 + eps)))
    fail(call, "probs must be numbers in [0, 1]")
  given <- probs
  probs <- pmax(0, pmin(1, probs))
  index <- 1 + max(m - 1, 0) * probs
  lo <- floor(index)
  hi <- ceiling(index)
  ranks <- if (m == 0) numeric() else unique(c(lo, hi)[p.ok])
  found <- distances_at(p, ranks, threads, call)
  at <- function(k) found$values[match(k, ranks)]
  qs <- at(lo)
  i <- which(!p.ok | (index > lo & at(hi) != qs))
  h <- (index - lo)[i]
  qs[i] <- (1 - h) * qs[i] + h * at(hi[i])
  r <- parameters(qs)
  warn_zero_quantiles(r$width, qs, given, m, found$zero_pairs, call)
  r[[output]]
}

# The distances at ranks (from 1) of the sorted distances of pairs p, as
# list(values, pairs, zero_pairs).
distances_at <- function(p, ranks, threads, call) {
  r <- rethrow(.order_statistics(p$x, p$y, p$kind, ranks - 1, threads),
               call = call)
  if (r$pairs != p$pairs) fail(call, "internal error: ", r$pairs, " pairs")
  r
}

# One warning per cause of the widths of 0 among the quantiles qs, naming
# the first three of their probabilities (probs as given).
warn_zero_quantiles <- function(widths, qs, probs, pairs, zero_pairs, call) {
  k <- which(zero(widths))
  why <- vapply(qs[k], zero_distance_doubt, "", "q", pairs, zero_pairs)
  for (cause in unique(why)) {
    shown <- unique(sprintf("%g", probs[k][why == cause]))
    listed <- paste(shown[seq_len(min(3, length(shown)))], collapse = ", ")
    if (length(shown) > 3) listed <- paste0(listed, ", ...")
    caution(call, "the width for p = ", listed, " is 0: ", cause)
  }
}

# distance_quantiles from drawn pairs: the library's estimates (numpy's
# formula on the drawn distances), and with interval a data frame of
# probs, estimate, low and high in the chosen output.
sampled_quantiles_of <- function(p, probs, how, threads, output, interval,
                                 call) {
  eps <- 100 * .Machine$double.eps
  known <- !is.na(probs)
  if (any(known & (probs < -eps | probs > 1 + eps)))
    fail(call, "probs must be numbers in [0, 1]")
  s <- sampled_at(p, pmax(0, pmin(1, probs[known])), how, threads, call)
  pick <- function(part) {
    out <- rep(NA_real_, length(probs))
    out[known] <- s[[part]][[output]]
    out
  }
  estimate <- pick("estimate")
  at <- zero(s$estimate$width)
  why <- vapply(s$estimate$sigma[at], sampled_zero_doubt, "", "q")
  for (cause in unique(why)) {
    shown <- unique(sprintf("%g", probs[known][at][why == cause]))
    listed <- paste(shown[seq_len(min(3, length(shown)))], collapse = ", ")
    if (length(shown) > 3) listed <- paste0(listed, ", ...")
    caution(call, "the width for p = ", listed, " is 0: ", cause)
  }
  if (!interval) return(estimate)
  data.frame(p = probs, estimate = estimate, low = pick("low"),
             high = pick("high"))
}
