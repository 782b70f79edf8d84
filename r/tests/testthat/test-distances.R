# The median and quantiles against R's own median() and quantile() on
# dist(), within one set, pooled and across two, for 1 to 4 threads.

probs <- c(0, 1e-9, 0.1, 0.25, 1 / 3, 0.5, 0.7, 0.9, 0.999, 1 - 1e-15, 1, NA)

test_that("the median and quantiles are R's on dist(x), bit for bit", {
  # the warnings for widths of 0 are the programs' (test-sums.R)
  for (name in names(test_data())) suppressWarnings({
    x <- test_data()[[name]]
    d <- as.vector(dist(x))
    for (threads in 1:4) {
      info <- paste(name, threads, "threads")
      expect_identical(median_width(x, threads = threads),
                       2 * median(d)^2, info = info)
      expect_identical(median_width(x, output = "sigma", threads = threads),
                       median(d), info = info)
      expect_identical(median_width(x, output = "gamma", threads = threads),
                       1 / (2 * median(d)^2), info = info)
      expect_identical(
        distance_quantiles(x, probs, output = "sigma", threads = threads),
        quantile(d, probs, names = FALSE), info = info)
    }
    expect_identical(distance_quantiles(x, probs),
                     2 * quantile(d, probs, names = FALSE)^2, info = name)
  })
})

test_that("pooled and cross distances are those of dist(rbind(x, y))", {
  data <- test_data()
  pairs <- list(c("normal", "grid"), c("grid", "integers"), c("n2", "n3"),
                c("huge", "tiny"), c("equal", "mostly_equal"),
                c("n2", "wide"))
  for (p in pairs) {
    x <- data[[p[1]]][, 1:2]
    y <- data[[p[2]]][, 1:2]
    pooled <- as.vector(dist(rbind(x, y)))
    across <- cross_dist(x, y)
    for (threads in c(1, 3)) suppressWarnings({
      info <- paste(p[1], p[2], threads, "threads")
      expect_identical(median_width(x, y, threads = threads),
                       2 * median(pooled)^2, info = info)
      expect_identical(median_width(x, y, cross = TRUE, threads = threads),
                       2 * median(across)^2, info = info)
      expect_identical(
        distance_quantiles(x, probs, y, output = "sigma", threads = threads),
        quantile(pooled, probs, names = FALSE), info = info)
      expect_identical(
        distance_quantiles(x, probs, y, cross = TRUE, output = "sigma",
                           threads = threads),
        quantile(across, probs, names = FALSE), info = info)
    })
  }
})

test_that("the two middle distances are averaged by R's mean, not (a + b) / 2", {
  # R's mean adds in long double: for these two, one rounding fewer than
  # the plain (a + b) / 2. On a line, 0, a / 4, a and -b have the six
  # distances a / 4, 3a / 4, a, b, b + a / 4 and b + a.
  a <- 0x1.0ffd51c4p+0
  b <- 0x1.7916539e3e6e7p+49
  x <- c(0, a / 4, a, -b)
  expect_false(mean(c(a, b)) == (a + b) / 2)
  expect_identical(median_width(x, output = "sigma"), mean(c(a, b)))
  expect_identical(median_width(x), 2 * median(dist(x))^2)
})

test_that("no pairs give NA as median() does; NaN distances give NaN", {
  one <- matrix(c(1, 2), 1)
  expect_identical(median_width(one), 2 * median(dist(one))^2)
  expect_identical(median_width(one), NA_real_)
  expect_identical(distance_quantiles(one, c(0.5, 1)), c(NA_real_, NA_real_))
  expect_error(median_width(one, one[0, , drop = FALSE], cross = TRUE),
               "^no samples$")
  w <- warnings_of(median_width(one[0, , drop = FALSE], one))
  expect_identical(w$value, NA_real_)
  expect_identical(w$messages, "x: no samples")
  expect_identical(distance_quantiles(one, numeric()), numeric())
  # dist() would leave the column out; the arithmetic gives NaN, as the
  # programs do.
  x <- rbind(c(0, 0), c(NaN, 1), c(3, 4))
  expect_true(is.nan(median_width(x)))
  expect_true(all(is.nan(distance_quantiles(x, c(0, 0.5, 1)))))
  inf <- rbind(c(Inf, 0), c(Inf, 1), c(0, 0))
  expect_true(is.nan(median_width(inf)))
  expect_identical(median_width(rbind(c(0, 0), c(Inf, 1))), Inf)
})

test_that("counts past 2^31 pairs stay exact: the program's cross median", {
  skip_if(!nzchar(programs()) ||
          !file.exists(file.path(programs(), "median_kernel_width")),
          "KERNEL_WIDTH_PROGRAMS does not name the built programs")
  # 46,341^2 = 2,147,488,281 pairs, past R's integers; an odd count, so
  # the median is one distance, the program's, and the quantile at 0.5.
  n <- 46341
  x <- cbind(((1:n) * 0.6180339887498949) %% 1, ((1:n) * 0.1) %% 0.7)
  y <- cbind(((1:n) * 0.7548776662466927) %% 1 * 3, (1:n) %% 5)
  program <- run_program("median_kernel_width", x, "--cross", y = y)
  expect_identical(program[["pairs"]], "2147488281")
  sigma <- median_width(x, y, cross = TRUE, output = "sigma")
  expect_identical(as_printed(sigma), program[["median"]])
  expect_identical(as_printed(2 * sigma^2), program[["width"]])
  expect_identical(
    distance_quantiles(x, 0.5, y, cross = TRUE, output = "sigma"), sigma)
})
