# Sampled widths against the programs for the same seed: pooled and
# across, each output, a confidence other than the default and seeds up
# to 2^64 - 1; labelled's mean and its ends.

faults_x <- function() outer(0:39, 0:2, function(i, c) ((i * 7 + c * 13) %% 17) / 4 + i / 100)
faults_y <- function() outer(0:14, 0:2, function(i, c) ((i * 5 + c * 3) %% 11) / 2)

test_that("sampled quantiles and their ends are the program's", {
  skip_if(programs() == "", "programs not built")
  x <- faults_x()
  y <- faults_y()
  cases <- list(
    list(y = NULL, cross = FALSE, output = "width", seed = "0", conf = 0.99),
    list(y = y, cross = FALSE, output = "gamma", seed = "3", conf = 0.9),
    list(y = y, cross = TRUE, output = "sigma",
         seed = "18446744073709551615", conf = 0.5),
    list(y = y, cross = TRUE, output = "gamma", seed = "11", conf = 0.999))
  for (k in seq_along(cases)) {
    c <- cases[[k]]
    args <- c("--sample", "700", "--seed", c$seed, "--output", c$output,
              "-q", "0.3", "--confidence", format(c$conf, digits = 17),
              if (c$cross) "--cross")
    p <- run_program("median_kernel_width", x, args, y = c$y)
    r <- distance_quantiles(x, 0.3, y = c$y, cross = c$cross,
                            output = c$output, sample = 700, seed = c$seed,
                            confidence = c$conf, interval = TRUE)
    expect_identical(r$low, as.numeric(p[["low"]]), info = k)
    expect_identical(r$high, as.numeric(p[["high"]]), info = k)
    expect_identical(r$estimate, as.numeric(p[[c$output]]), info = k)
    expect_true(r$low <= r$estimate && r$estimate <= r$high, info = k)
    expect_identical(p[["seed"]], c$seed, info = k)
  }
})

test_that("the sampled mean and its ends are the program's", {
  skip_if(programs() == "", "programs not built")
  x <- faults_x()
  for (seed in c("5", "18446744073709551615")) {
    p <- run_program("labelled_kernel_width", cbind(0, x), "--sample", "400",
                     "--seed", seed, "--confidence", "0.9")
    s <- labelled_statistics(x, label = NULL, sample = 400, seed = seed,
                             confidence = 0.9)
    expect_identical(s$mean, as.numeric(p[["mean"]]), info = seed)
    expect_identical(s$low$width, as.numeric(p[["low"]]), info = seed)
    expect_identical(s$high$width, as.numeric(p[["high"]]), info = seed)
    # gamma reverses the order: the low gamma is the high width's
    expect_identical(s$low$gamma, 1 / s$high$width, info = seed)
    expect_true(s$low$gamma <= s$high$gamma, info = seed)
  }
})
