#' kernelwidth: exact kernel widths from all pairwise distances
#'
#' Widths for the Gaussian kernel \eqn{\exp(-d^2 / w)}{exp(-d^2 / w)} from
#' the Euclidean distances \eqn{d} between every pair of samples, computed
#' exactly, in memory that grows only with the data (the samples and a
#' copy of them, never the \eqn{n(n-1)/2} distances that \code{dist(x)}
#' holds), on every core:
#' \itemize{
#'   \item \code{\link{median_width}}: the median heuristic,
#'     \code{2 * median(dist(x))^2}, bit for bit;
#'   \item \code{\link{distance_quantiles}}: any quantiles of the
#'     distances, \code{quantile(as.vector(dist(x)), probs, names = FALSE)}
#'     bit for bit;
#'   \item \code{\link{labelled_width}}: twice the squared mean distance,
#'     a label column left out;
#'   \item \code{\link{form_width}}: a width chosen from the spread of all
#'     \eqn{n^2} distances and a table of divisors.
#' }
#' Each gives the same numbers as the project's programs
#' (\code{median_kernel_width}, \code{labelled_kernel_width},
#' \code{form_kernel_width}) for the same values, for every thread count.
#' An interrupt (Ctrl-C) stops a computation within a fraction of a second.
#' A width of 0 is a warning that names its cause in the programs' words.
#'
#' @keywords internal
#' @useDynLib kernelwidth, .registration = TRUE
#' @importFrom Rcpp evalCpp
"_PACKAGE"
