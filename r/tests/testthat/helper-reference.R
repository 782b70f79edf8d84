# The references the package is measured against: R's own arithmetic on
# dist(), the programs' sums written as plain R loops in the programs'
# order, and the programs themselves (when KERNEL_WIDTH_PROGRAMS names
# the directory they were built in).

# Samples with the cases that break selections and sums: exact ties, equal
# points, integer grids, distances whose squares overflow or underflow,
# several panels of columns, and the smallest sample counts.
test_data <- function() {
  set.seed(20261209)
  small <- function(n) matrix(round(rnorm(n * 3), 1), n)
  list(
    normal = matrix(rnorm(130 * 3), 130),
    wide = matrix(rnorm(37 * 19), 37),
    grid = matrix(sample(0:3, 160 * 2, TRUE), 160),
    integers = matrix(sample(-5:5, 90 * 4, TRUE), 90),
    equal = matrix(rep(c(1.5, -2), each = 30), 30),
    mostly_equal = rbind(matrix(0, 21, 2), c(1, 1), c(3, 4)),
    huge = rbind(matrix(rnorm(40 * 2) * 1e200, 40), matrix(rnorm(20), 10)),
    tiny = matrix(rnorm(50 * 2) * 1e-170, 50),
    simplex = diag(110),                  # form's ratio above 100
    outlier = cbind(c(rep(0, 300), 1), 0),  # form's ratio below 0.01
    n2 = small(2), n3 = small(3), n4 = small(4), n5 = small(5)
  )
}

# The distances across x and y, as dist() gives them within rbind(x, y).
cross_dist <- function(x, y) {
  d <- as.matrix(dist(rbind(x, y)))
  as.vector(d[seq_len(nrow(x)), nrow(x) + seq_len(nrow(y))])
}

# labelled's total: the pairs i < l; lane (l - 1) %% 8 of row i adds the
# distances to the later rows in order; the row adds its lanes in order,
# the total the rows in order; doubled.
labelled_reference <- function(x) {
  d <- as.matrix(dist(x))
  n <- as.numeric(nrow(d))
  total <- 0
  for (i in seq_len(n)) {
    lanes <- numeric(8)
    for (l in seq_len(n)[-seq_len(i)]) {
      k <- (l - 1) %% 8 + 1
      lanes[k] <- lanes[k] + d[i, l]
    }
    row <- 0
    for (s in lanes) row <- row + s
    total <- total + row
  }
  total <- 2 * total
  pairs <- n * n - n
  mean <- total / pairs
  list(n = as.numeric(n), columns = as.numeric(ncol(x)), total = total, pairs = pairs, mean = mean,
       width = mean * mean * 2)
}

# form's statistics: all n^2 distances, row by row, one running sum.
form_reference <- function(x, table) {
  d <- as.vector(t(as.matrix(dist(x))))
  n <- nrow(x)
  s <- 0
  for (v in d) s <- s + v
  mean <- s / (n * n)
  s <- 0
  for (v in d) s <- s + (v - mean) * (v - mean)
  variance <- s / (n * n)
  ratio <- mean * mean / variance
  best <- 1e6
  row <- 1
  for (k in seq_len(nrow(table))) {
    e <- (ratio - table[k, 1]) * (ratio - table[k, 1])
    if (!is.na(e) && e < best) {
      best <- e
      row <- k
    }
  }
  width <- if (!is.na(ratio) && ratio < 0.01) variance / 2.6
           else if (!is.na(ratio) && ratio > 100) variance * ratio
           else variance / table[row, 2]
  list(statistics = list(n = as.numeric(n), columns = as.numeric(ncol(x)),
                         mean = mean,
                         variance = variance, ratio = ratio),
       width = width)
}

programs <- function() Sys.getenv("KERNEL_WIDTH_PROGRAMS")

# A program's --verbose numbers as the text it prints them in, and its
# standard output, for x (and y, the program's second file) written with 17
# significant digits (which read back as the same doubles).
run_program <- function(name, x, ..., y = NULL) {
  write_samples <- function(s) {
    file <- tempfile(fileext = ".txt")
    writeLines(apply(s, 1, function(r) paste(sprintf("%.17g", r),
                                             collapse = " ")), file)
    file
  }
  files <- c(write_samples(x), if (!is.null(y)) write_samples(y))
  err <- tempfile()
  on.exit(unlink(c(files, err)))
  out <- system2(file.path(programs(), name),
                 c("--verbose", "--no-progress", ..., files),
                 stdout = TRUE, stderr = err)
  lines <- grep(": ", readLines(err), value = TRUE)
  values <- sub("^[^:]*: ", "", lines)
  names(values) <- sub(":.*", "", lines)
  values <- sub("^-?nan$", "nan", values)
  # "PROGRAM: FILES: warning: TEXT", as TEXT, one a line
  warned <- grep("^[^:]*: [^:]*: warning: ", lines, value = TRUE)
  warnings <- paste(sub("^[^:]*: [^:]*: warning: ", "", warned),
                    collapse = "\n")
  c(values, stdout = out, warnings = warnings)
}

# The warnings a program gave for a width of 0 (of run_program's), each
# `times` over: the package warns once a call.
zero_warnings <- function(p, times = 1) {
  w <- strsplit(p[["warnings"]], "\n", fixed = TRUE)[[1]]
  rep(grep(" is 0: ", w, value = TRUE), times)
}

# expr's value and the messages and calls of the warnings it gave, which
# go no further.
warnings_of <- function(expr) {
  messages <- character()
  calls <- list()
  value <- withCallingHandlers(expr, warning = function(w) {
    messages <<- c(messages, conditionMessage(w))
    calls[[length(calls) + 1]] <<- conditionCall(w)
    invokeRestart("muffleWarning")
  })
  list(value = value, messages = messages, calls = calls)
}

# A number as the programs print it: --verbose's %.17g, standard output's %g.
as_printed <- function(v, format = "%.17g") {
  text <- tolower(sprintf(format, v))
  sub("^-?nan$", "nan", text)
}
