#' Width from the mean distance
#'
#' The width that \code{labelled_kernel_width} computes, \eqn{2 m^2} for
#' the mean \eqn{m} of the Euclidean distances between different samples,
#' over every column but the label column. The distances are summed in a
#' fixed order of plain double additions (each row's distances to the later
#' rows in 8 interleaved sums, added in order, the rows' sums in row order,
#' doubled), so the result is the same, bit for bit, for every thread count
#' and equals the program's.
#'
#' @inheritParams form_width
#' @inheritParams median_width
#' @param x The samples, one per row: a numeric matrix, a data frame (its
#'   label column may hold anything, a factor or text too; every other
#'   column numbers), or a numeric vector. \code{NA} outside the label column
#'   is an error naming its row and column; \code{NaN} makes the width
#'   \code{NaN} and an infinity makes it infinite.
#' @param label The label column, left out: its number, its name, or
#'   \code{NULL} when every column is a feature.
#' @return \code{labelled_width}: one number, the width, or as
#'   \code{output} asks the mean distance itself (\code{"sigma"}) or
#'   \eqn{1 / (2 m^2)} (\code{"gamma"}). \code{labelled_statistics}: a list
#'   of \code{n}, \code{columns} (the features), \code{total} (the sum over
#'   ordered pairs), \code{pairs} (\eqn{n^2 - n}), \code{mean} and
#'   \code{width}, the numbers \code{labelled_kernel_width --verbose} prints.
#'   One sample leaves no pairs: \code{NaN}. With \code{sample}: the
#'   mean of the drawn distances (added in draw order), and a list of
#'   \code{n}, \code{columns}, \code{pairs} (\eqn{n(n-1)/2}, the pairs drawn
#'   from), \code{mean}, \code{width}, \code{low} and \code{high} (each a
#'   list of \code{sigma}, \code{width} and \code{gamma}: the exact mean,
#'   width and gamma lie between them with probability at least
#'   \code{confidence}, gamma in reverse order), \code{draws}, \code{seed}
#'   (its digits) and \code{confidence}.
#' @section Warnings:
#' A width of 0 from two samples or more is a warning, whatever
#' \code{output} asks (from \code{labelled_statistics} too), that names its
#' cause in the program's words: \code{"the width is 0: every distance is 0
#' (all samples coincide)"}, \code{"the width is 0: the mean distance
#' underflowed"} (a positive total over so many pairs that the mean is 0)
#' or \code{"the width is 0: 2 * mean^2 underflowed"}.
#' @examples
#' labelled_width(iris, label = "Species")
#' labelled_width(iris[1:4], label = NULL, output = "sigma")
#' labelled_statistics(iris, label = 5)
#' # the same formula on dist(), which holds n(n-1)/2 distances
#' # (R sums them in another order, so the last bits may differ)
#' 2 * mean(dist(iris[1:4]))^2
#' # coinciding samples: a width of 0, with a warning naming the cause
#' labelled_width(cbind(1:3, 5), label = 1)
#' # from 5,000 drawn pairs, with the interval around the exact mean
#' str(labelled_statistics(iris, label = 5, sample = 5000))
#' @export
labelled_width <- function(x, label = 1L, output = c("width", "sigma", "gamma"),
                           threads = 0L, sample = NULL, seed = 0,
                           confidence = 0.99) {
  output <- match.arg(output)
  how <- sampling_arg(sample, seed, confidence,
                      c(!missing(seed), !missing(confidence)))
  if (!is.null(how)) return(sampled_labelled_of(x, label, threads, how)[[output]])
  labelled_statistics_of(x, label, threads)[[output]]
}

#' @rdname labelled_width
#' @export
labelled_statistics <- function(x, label = 1L, threads = 0L, sample = NULL,
                                seed = 0, confidence = 0.99) {
  how <- sampling_arg(sample, seed, confidence,
                      c(!missing(seed), !missing(confidence)))
  if (!is.null(how))
    return(sampled_labelled_of(x, label, threads, how)[
      c("n", "columns", "pairs", "mean", "width", "low", "high", "draws",
        "seed", "confidence")])
  labelled_statistics_of(x, label, threads)[c("n", "columns", "total",
                                              "pairs", "mean", "width")]
}

# The mean of drawn distances and its interval, over labelled's columns.
sampled_labelled_of <- function(x, label, threads, how, call = sys.call(-1)) {
  skip <- label_arg(label, x, call = call)
  s <- rethrow(.sampled_mean(samples_arg(x, "x", skip, call = call), how,
                             threads_arg(threads, call = call)), call = call)
  if (zero(s$width))
    caution(call, "the width is 0: ", sampled_zero_doubt(s$mean, "mean"))
  s
}

labelled_statistics_of <- function(x, label, threads, call = sys.call(-1)) {
  skip <- label_arg(label, x, call = call)
  s <- rethrow(.labelled(samples_arg(x, "x", skip, call = call),
                         threads_arg(threads, call = call)), call = call)
  if (s$n >= 2 && zero(s$width))
    caution(call, "the width is 0: ", labelled_zero_doubt(s))
  s
}

# Why labelled's width is 0 for two samples or more.
labelled_zero_doubt <- function(s) {
  if (s$total == 0) coincide
  else if (s$mean == 0) "the mean distance underflowed"
  else "2 * mean^2 underflowed"
}
