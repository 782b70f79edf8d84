# The checks of the arguments every function shares, and the samples in
# the form the C++ side reads (src/samples.h). Errors name the caller's
# call, not these helpers'.

fail <- function(call, ...) stop(simpleError(paste0(...), call))

# A warning of the caller's call, as fail() gives errors.
caution <- function(call, ...) warning(simpleWarning(paste0(...), call))

# x (or y, or a table) as list(data, rows, cols, names, what, skip): a data
# frame's columns as they are, a matrix or a plain vector (one column, as
# dist() takes it) as its values; column skip (from 1) left out. rows and
# cols are doubles, so that the pair counts made from them cannot overflow
# R's integers (46,341 rows a side already do).
samples_arg <- function(x, what, skip = 0L, call = sys.call(-1)) {
  if (is.data.frame(x))
    return(list(data = x, rows = as.numeric(nrow(x)),
                cols = as.numeric(length(x)), names = names(x), what = what,
                skip = skip))
  if (is.null(x) || !is.atomic(x) || length(dim(x)) > 2)
    fail(call, what, " must be a numeric matrix or a data frame, not ",
         if (is.null(x)) "NULL" else class(x)[1])
  if (is.null(dim(x)))
    return(list(data = x, rows = as.numeric(length(x)), cols = 1,
                names = NULL, what = what, skip = skip))
  list(data = x, rows = as.numeric(nrow(x)), cols = as.numeric(ncol(x)),
       names = colnames(x), what = what, skip = skip)
}

# threads: 0 (every core) to 1024. Under R CMD check with
# _R_CHECK_LIMIT_CORES_ set, as CRAN's checks run, 0 means 2.
threads_arg <- function(threads, call = sys.call(-1)) {
  if (!is.numeric(threads) || length(threads) != 1 || is.na(threads) ||
      threads != round(threads) || threads < 0 || threads > 1024)
    fail(call, "threads must be 0 (every core) to 1024")
  limit <- Sys.getenv("_R_CHECK_LIMIT_CORES_", "")
  if (threads == 0 && nzchar(limit) && limit != "false") 2L
  else as.integer(threads)
}

# The label column of x (from 1), or 0 for none.
label_arg <- function(label, x, call = sys.call(-1)) {
  if (is.null(label)) return(0L)
  s <- samples_arg(x, "x", call = call)
  if (is.character(label) && length(label) == 1 && !is.na(label)) {
    k <- match(label, s$names)
    if (is.na(k)) fail(call, "label: x has no column named \"", label, "\"")
    return(k)
  }
  if (!is.numeric(label) || length(label) != 1 || is.na(label) ||
      label != round(label) || label < 1 || label > s$cols)
    fail(call, "label must be a column of x (1 to ", s$cols,
         "), a column name or NULL")
  as.integer(label)
}

# The pairs a median or quantile runs over: list(kind, pairs, x, y), kind 0
# within x, 1 x and y pooled, 2 across x and y (the C++ side's numbers);
# pairs a double. Pooled, an empty x or y is a warning and the pairs are
# those within the other one; across, it is the library's error.
pairs_arg <- function(x, y, cross, call = sys.call(-1)) {
  if (!isTRUE(cross) && !isFALSE(cross))
    fail(call, "cross must be TRUE or FALSE")
  sx <- samples_arg(x, "x", call = call)
  within <- function(s) list(kind = 0L, pairs = s$rows * (s$rows - 1) / 2,
                             x = s, y = NULL)
  if (is.null(y)) {
    if (cross) fail(call, "cross = TRUE needs y")
    return(within(sx))
  }
  sy <- samples_arg(y, "y", call = call)
  if (sx$cols != sy$cols)
    fail(call, "x and y have different numbers of columns (", sx$cols,
         " and ", sy$cols, ")")
  if (cross) return(list(kind = 2L, pairs = sx$rows * sy$rows, x = sx, y = sy))
  if (xor(sx$rows == 0, sy$rows == 0)) {
    empty <- if (sx$rows == 0) sx else sy
    caution(call, empty$what, ": no samples")
    return(within(if (sx$rows == 0) sy else sx))
  }
  n <- sx$rows + sy$rows
  list(kind = 1L, pairs = n * (n - 1) / 2, x = sx, y = sy)
}

# The library's errors (and the C++ side's) as errors of the caller's call.
rethrow <- function(value, call = sys.call(-1)) {
  force(call)
  tryCatch(value, error = function(e) fail(call, conditionMessage(e)))
}

# Why a width is 0, in the programs' words.
coincide <- "every distance is 0 (all samples coincide)"

# A count as the programs print it, every digit.
count_text <- function(k) sprintf("%.0f", k)

# Why the width 2 v^2 of a distance v (the median, or a quantile: name
# "q") is 0, given the pairs and those at distance 0 (counted by the
# library when a distance it found is 0).
zero_distance_doubt <- function(v, name, pairs, zero_pairs) {
  if (v != 0) return(paste0("2 * ", name, "^2 underflowed"))
  if (zero_pairs == pairs) return(coincide)
  if (zero_pairs == 0) return("at least half of the pairs are at distance 0")
  paste(count_text(zero_pairs), "of the", count_text(pairs),
        "pairs are at distance 0")
}

# TRUE for a width of exactly 0 (or -0); FALSE for NA and NaN too.
zero <- function(width) !is.na(width) & width == 0

# A distance d (a median or quantile) as each of the kernel's parameters.
parameters <- function(d) {
  width <- 2 * d^2
  list(width = width, sigma = d, gamma = 1 / width)
}

# sample, seed and confidence as list(draws, seed, confidence), the seed as
# its decimal digits; NULL for the exact computation (then seed and
# confidence must not be given: given says which were).
sampling_arg <- function(sample, seed, confidence, given,
                         call = sys.call(-1)) {
  if (is.null(sample)) {
    if (any(given))
      fail(call, c("seed", "confidence")[given][1], " needs sample")
    return(NULL)
  }
  if (!is.numeric(sample) || length(sample) != 1 || is.na(sample) ||
      sample != round(sample) || sample < 1 || sample > 2^63)
    fail(call, "sample must be a whole number of pairs, 1 to 2^63")
  digits <- if (is.character(seed) && length(seed) == 1 && !is.na(seed) &&
                grepl("^[0-9]{1,20}$", seed)) {
    seed
  } else if (is.numeric(seed) && length(seed) == 1 && !is.na(seed) &&
             seed == round(seed) && seed >= 0 && seed <= 2^53) {
    sprintf("%.0f", seed)
  } else {
    fail(call, "seed must be a whole number from 0 to 2^53, or its ",
         "digits as a string (up to 18446744073709551615)")
  }
  if (nchar(digits) == 20 && digits > "18446744073709551615")
    fail(call, "seed must be at most 18446744073709551615")
  if (!is.numeric(confidence) || length(confidence) != 1 ||
      is.na(confidence) || confidence <= 0 || confidence >= 1)
    fail(call, "confidence must lie strictly between 0 and 1")
  list(draws = as.numeric(sample), seed = digits,
       confidence = as.numeric(confidence))
}

# The library's sampled quantiles of the pairs p (pairs_arg) for probs.
sampled_at <- function(p, probs, how, threads, call) {
  rethrow(.sampled_quantiles(p$x, p$y, p$kind, probs, how, threads),
          call = call)
}

# The warning for a sampled width of 0 (a drawn distance of 0 or a square
# that underflowed).
sampled_zero_doubt <- function(v, name) {
  if (v != 0) paste0("2 * ", name, "^2 underflowed")
  else "the drawn pairs give a distance of 0"
}
