#' Width from the spread of all distances
#'
#' The width that \code{form_kernel_width} computes: over all \eqn{n^2}
#' ordered pairs of samples, the diagonal's zeros included, the mean
#' \eqn{m} and variance \eqn{v} of the Euclidean distances, summed row by
#' row in plain double arithmetic, and their ratio \eqn{r = m^2 / v}. The
#' width is \eqn{v / 2.6} below a ratio of 0.01, \eqn{v r} above 100, and
#' otherwise \eqn{v} divided by the divisor of the table row whose key lies
#' nearest to \eqn{r} (the earlier row on ties; row 1 when no key lies
#' within 1,000 of \eqn{r} or \eqn{r} is not a number). The table is read
#' only when that search runs.
#'
#' @param x The samples, one per row: a numeric matrix, a data frame of
#'   numeric columns, or a numeric vector (one column). \code{NA} is an error
#'   naming its row and column; \code{NaN} and infinities follow the
#'   arithmetic (a \code{NaN} makes the mean, variance and ratio \code{NaN}).
#' @param table The keys (spread ratios) and their divisors: a numeric
#'   matrix or data frame of two columns, one row each; further columns are
#'   ignored.
#' @param output What to return: \code{"width"}, the \eqn{w} of
#'   \eqn{\exp(-d^2 / w)}{exp(-d^2 / w)}; \code{"sigma"},
#'   \eqn{\sqrt{w / 2}}{sqrt(w / 2)}, of
#'   \eqn{\exp(-d^2 / (2 \sigma^2))}{exp(-d^2 / (2 sigma^2))}; or
#'   \code{"gamma"}, \eqn{1 / w}, of
#'   \eqn{\exp(-\gamma d^2)}{exp(-gamma d^2)}.
#' @param threads The threads that compute: 0 for every core the process
#'   may use, or 1 to 1024. The result is the same for every count.
#' @return \code{form_width}: one number. \code{form_statistics}: a list
#'   of \code{n} (samples), \code{columns}, \code{mean}, \code{variance} and
#'   \code{ratio}, the numbers \code{form_kernel_width --verbose} prints.
#'   Without samples, or with a table the search cannot use (no rows, one
#'   column), an error in the program's words.
#' @section Warnings:
#' A width of 0 from two samples or more is a warning of
#' \code{form_width}, whatever \code{output} asks, that names its cause in
#' the program's words: \code{"the width is 0: every distance is 0 (all
#' samples coincide)"}; \code{"... the variance is zero"} (it underflowed);
#' \code{"... variance / 2.6 underflowed"} or \code{"... variance * ratio
#' underflowed"} (the ratio outside [0.01, 100]); for the table's row
#' \code{K}, \code{"... the divisor on row K is infinite"} (or
#' \code{negative}, for a width of -0) or \code{"... variance / divisor
#' underflowed"}. One sample's width of 0 is no warning.
#' @examples
#' table <- cbind(key = c(0.5, 1.5, 10), divisor = c(2, 4, 8))
#' form_width(iris[1:4], table)
#' form_statistics(iris[1:4])
#' form_width(iris[1:4], table, output = "gamma")
#' # a divisor so large that the width underflows to 0, with a warning
#' form_width(c(0, 2^-500), cbind(1, 1e300))
#' @export
form_width <- function(x, table, output = c("width", "sigma", "gamma"),
                       threads = 0L) {
  output <- match.arg(output)
  call <- sys.call()
  r <- rethrow(.form(samples_arg(x, "x", call = call),
                     samples_arg(table, "table", call = call),
                     threads_arg(threads, call = call)), call = call)
  # one sample's width is 0 too, but there are no distances to doubt
  if (r$n >= 2 && zero(r$width))
    caution(call, "the width is 0: ", form_zero_doubt(r))
  r[[output]]
}

# Why form's width is 0 for two samples or more: the rule that gave it and,
# for the table's rule, the chosen row (from 1) and its divisor.
form_zero_doubt <- function(r) {
  if (r$mean == 0) return(coincide)
  if (r$variance == 0) return("the variance is zero")
  if (r$rule == "low_ratio") return("variance / 2.6 underflowed")
  if (r$rule == "high_ratio") return("variance * ratio underflowed")
  where <- paste0("the divisor on row ", count_text(r$row), " is ")
  d <- r$divisor
  if (is.nan(d)) paste0(where, "not a number")
  else if (d == 0) paste0(where, "0")
  else if (d < 0) paste0(where, "negative")
  else if (is.infinite(d)) paste0(where, "infinite")
  else "variance / divisor underflowed"
}

#' @rdname form_width
#' @export
form_statistics <- function(x, threads = 0L) {
  rethrow(.form(samples_arg(x, "x"), NULL, threads_arg(threads)))
}
