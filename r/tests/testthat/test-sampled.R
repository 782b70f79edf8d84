# Sampled widths (sample, seed, confidence): the same numbers as the
# library gives every front end (values the Python tests check too), the
# intervals around the exact results, the thread count, and the arguments.

golden_x <- function() outer(0:29, 0:2, function(i, c) ((i * 7 + c * 13) %% 17) / 4 + i / 100)
golden_y <- function() outer(0:11, 0:2, function(i, c) ((i * 5 + c * 3) %% 11) / 2)

test_that("the same seed gives the library's numbers, bit for bit", {
  x <- golden_x()
  y <- golden_y()
  expected <- list(
    c(0.5196152422706631, 3.498471094635484, 3.9367245268115982,
      0.450333209967908, 3.4830733555295676, 3.8681003089371924,
      0.5196152422706636, 3.5206959539272913, 4.047925394569421),
    c(0.8660254037844386, 3.50406459882105, 4.527692569068709,
      0.744781847254617, 3.477038970158373, 4.5,
      1.0392304845413265, 3.5362409420173844, 4.716990566028302),
    c(2.012883503832251, 3.409545424246464, 5.21272946105405,
      1.9525624189766635, 3.1832687602525804, 4.5136681313539215,
      2.138270329027647, 3.5346428390998716, 5.234023309080692))
  calls <- list(list(), list(y = y), list(y = y, cross = TRUE))
  for (k in 1:3) {
    r <- do.call(distance_quantiles,
                 c(list(x, c(0.1, 0.5, 0.9)), calls[[k]],
                   list(output = "sigma", sample = 1000, seed = 42,
                        interval = TRUE)))
    expect_identical(c(r$estimate, r$low, r$high), expected[[k]], info = k)
  }
  s <- labelled_statistics(x, label = NULL, sample = 500, seed = 7)
  expect_identical(c(s$mean, s$low$sigma, s$high$sigma, s$low$width,
                     s$high$gamma),
                   c(2.722847807051608, 2.3138433385618473, 3.131852275541374,
                     10.707741990814071, 0.09339037127135462))
  expect_identical(
    median_width(x, sample = 777, seed = "18446744073709551615"), 24.4786)
})

test_that("the intervals contain the exact results", {
  x <- test_data()$normal
  probs <- c(0, 0.1, 0.5, 0.9, 1)
  exact <- distance_quantiles(x, probs, output = "sigma")
  exact_mean <- labelled_statistics(x, label = NULL)$mean
  missed <- 0
  for (seed in 1:30) {
    r <- distance_quantiles(x, probs, output = "sigma", sample = 500,
                            seed = seed, confidence = 0.999, interval = TRUE)
    expect_true(all(r$low <= r$high))
    missed <- missed + sum(r$low > exact | exact > r$high)
    w <- distance_quantiles(x, probs, sample = 500, seed = seed,
                            confidence = 0.999, interval = TRUE)
    g <- distance_quantiles(x, probs, output = "gamma", sample = 500,
                            seed = seed, confidence = 0.999, interval = TRUE)
    expect_identical(w$low, 2 * r$low^2)
    expect_identical(g$low, 1 / w$high)  # gamma reverses the order
    s <- labelled_statistics(x, label = NULL, sample = 500, seed = seed,
                             confidence = 0.999)
    missed <- missed + !(s$low$sigma <= exact_mean && exact_mean <= s$high$sigma)
  }
  expect_lte(missed, 2)
})

test_that("the thread count changes nothing", {
  x <- matrix(rnorm(3000), 1000)
  one <- distance_quantiles(x, c(0.2, 0.5), sample = 50000, threads = 1,
                            interval = TRUE)
  for (threads in 2:3)
    expect_identical(distance_quantiles(x, c(0.2, 0.5), sample = 50000,
                                        threads = threads, interval = TRUE),
                     one)
  expect_identical(labelled_width(x, NULL, sample = 50000, threads = 1),
                   labelled_width(x, NULL, sample = 50000, threads = 3))
})

test_that("probabilities keep their places, NA included", {
  x <- test_data()$normal
  r <- distance_quantiles(x, c(0.5, NA, 1), sample = 100, interval = TRUE)
  expect_identical(names(r), c("p", "estimate", "low", "high"))
  expect_true(is.na(r$estimate[2]) && is.na(r$low[2]) && is.na(r$high[2]))
  expect_identical(r$estimate[1], median_width(x, sample = 100))
  # one draw: the median's interval is the trivial one
  one <- distance_quantiles(x, 0.5, output = "sigma", sample = 1,
                            interval = TRUE)
  expect_identical(one$low, 0)
  expect_gte(one$high, one$estimate)
})

test_that("bad sampling arguments are errors naming them", {
  x <- test_data()$normal
  bad <- list(
    list(sample = 0, "sample must be a whole number of pairs, 1 to 2\\^63"),
    list(sample = 2^63 * 1.01, "sample must be"),
    list(sample = 1.5, "sample must be"),
    list(sample = "5", "sample must be"),
    list(sample = 5, seed = -1, "seed must be a whole number"),
    list(sample = 5, seed = 2^53 + 2, "seed must be a whole number"),
    list(sample = 5, seed = "18446744073709551616", "seed must be at most"),
    list(sample = 5, seed = "0x10", "seed must be"),
    list(sample = 5, confidence = 0, "confidence must lie strictly"),
    list(sample = 5, confidence = 1, "confidence must lie strictly"),
    list(sample = 5, confidence = NA, "confidence must lie strictly"),
    list(seed = 3, "seed needs sample"),
    list(confidence = 0.9, "confidence needs sample"))
  for (b in bad) {
    message <- b[[length(b)]]
    arguments <- b[-length(b)]
    expect_error(do.call(median_width, c(list(x), arguments)), message)
    expect_error(do.call(labelled_width, c(list(x, NULL), arguments)), message)
    expect_error(do.call(distance_quantiles, c(list(x, 0.5), arguments)),
                 message)
  }
  expect_error(distance_quantiles(x, 0.5, interval = TRUE),
               "interval = TRUE needs sample")
  expect_error(distance_quantiles(x, 0.5, sample = 3, interval = NA),
               "interval must be TRUE or FALSE")
  expect_error(median_width(x, sample = 2^63), "out of memory")
})
