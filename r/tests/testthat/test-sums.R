# labelled's and form's sums against the same sums in R, in the programs'
# order, and against the programs themselves.

table <- cbind(c(0.5, 1.5, 3, 10), c(2, 4, 6, 8))

test_that("labelled and form equal their sums written in R, bit for bit", {
  # the warnings for widths of 0 are the programs' (below)
  for (name in names(test_data())) suppressWarnings({
    x <- test_data()[[name]]
    labelled <- labelled_reference(x)
    form <- form_reference(x, table)
    for (threads in 1:4) {
      info <- paste(name, threads, "threads")
      expect_identical(labelled_statistics(x, NULL, threads = threads),
                       labelled, info = info)
      expect_identical(labelled_width(x, NULL, "sigma", threads),
                       labelled$mean, info = info)
      expect_identical(labelled_width(x, NULL, "gamma", threads),
                       1 / labelled$width, info = info)
      expect_identical(form_statistics(x, threads), form$statistics,
                       info = info)
      expect_identical(form_width(x, table, threads = threads), form$width,
                       info = info)
      expect_identical(form_width(x, table, "sigma", threads),
                       sqrt(form$width / 2), info = info)
      expect_identical(form_width(x, table, "gamma", threads),
                       1 / form$width, info = info)
    }
  })
})

test_that("form reads the table as the programs do", {
  # Two samples at distance 2: mean 1, variance 1, ratio 1. The nearest key
  # wins, the earlier row on a tie, row 1 when none lies within 1,000.
  x <- c(0, 2)
  rows <- list(list(cbind(c(0.5, 1.5), c(2, 4)), 1 / 2),
               list(cbind(c(0.5, 1.5, 1), c(2, 4, 8), 99), 1 / 8),
               list(cbind(c(1002, 1001), c(4, 8)), 1 / 4),
               list(cbind(c(1002, 1000.9), c(4, 8)), 1 / 8),
               list(data.frame(key = c(9, 1), divisor = c(3L, 2L)), 1 / 2))
  for (r in rows) expect_identical(form_width(x, r[[1]]), r[[2]])
  # Outside [0.01, 100] the table is not read, so it may be empty.
  none <- matrix(numeric(), 0, 2)
  data <- test_data()
  expect_identical(form_width(data$simplex, none),
                   form_reference(data$simplex, none)$width)
  expect_identical(form_width(data$outlier, none),
                   form_reference(data$outlier, none)$width)
})

test_that("the package prints what the programs print", {
  skip_if(!nzchar(programs()) ||
          !file.exists(file.path(programs(), "median_kernel_width")),
          "KERNEL_WIDTH_PROGRAMS does not name the built programs")
  table_file <- tempfile()
  writeLines(paste(table[, 1], table[, 2]), table_file)
  on.exit(unlink(table_file))
  for (name in names(test_data())) {
    x <- test_data()[[name]]
    for (threads in c(1, 4)) {
      info <- paste(name, threads, "threads")
      j <- c("-j", threads)
      # each width's warnings (one per call, whatever its output) as the
      # program's, which warns once
      p <- run_program("labelled_kernel_width", x, j)
      w <- warnings_of(list(
        labelled_statistics(x, 1, threads = threads),
        sigma = labelled_width(x, 1, "sigma", threads),
        gamma = labelled_width(x, 1, "gamma", threads)))
      s <- c(w$value[[1]], w$value[-1])
      expect_identical(p[names(s)], vapply(s, as_printed, ""), info = info)
      expect_identical(p[["stdout"]], as_printed(s$width, "%g"), info = info)
      expect_identical(w$messages, zero_warnings(p, 3), info = info)
      p <- run_program("form_kernel_width", x, j, "--table", table_file)
      s <- form_statistics(x, threads)
      w <- warnings_of(for (output in c("width", "sigma", "gamma"))
        s[[output]] <- form_width(x, table, output, threads))
      expect_identical(p[names(s)], vapply(s, as_printed, ""), info = info)
      expect_identical(w$messages, zero_warnings(p, 3), info = info)
      p <- run_program("median_kernel_width", x, j)
      w <- warnings_of({
        s <- list(median = median_width(x, output = "sigma"))
        for (output in c("width", "sigma", "gamma"))
          s[[output]] <- median_width(x, output = output, threads = threads)
      })
      expect_identical(p[names(s)], vapply(s, as_printed, ""), info = info)
      expect_identical(w$messages, zero_warnings(p, 4), info = info)
      # one probability a call, as the program warns for each (the values
      # are R's quantile(), which interpolates otherwise between infinities)
      for (q in c(0, 0.5, 0.9)) {
        p <- run_program("median_kernel_width", x, j, "-q", q)
        w <- warnings_of(distance_quantiles(x, q, threads = threads))
        expect_identical(w$messages, zero_warnings(p), info = info)
      }
    }
  }
  # two sets, pooled and across, as the median program's second file
  data <- test_data()
  for (p in list(c("normal", "grid"), c("n2", "n3"), c("huge", "tiny"),
                 c("mostly_equal", "outlier"))) {
    x <- data[[p[1]]][, 1:2]
    y <- data[[p[2]]][, 1:2]
    info <- paste(p, collapse = " ")
    for (cross in c(FALSE, TRUE)) {
      program <- run_program("median_kernel_width", x,
                             if (cross) "--cross", y = y)
      w <- warnings_of(median_width(x, y, cross = cross))
      expect_identical(program[["width"]], as_printed(w$value), info = info)
      expect_identical(w$messages, zero_warnings(program), info = info)
    }
  }
})
