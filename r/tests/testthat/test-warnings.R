# The warnings for a width of 0, each cause at its boundary and one step
# past it, and the empty second set of samples. (test-sums.R holds the same
# warnings against the programs'.)

# A distance in one column is sqrt(d^2): D = 2^-537 is the smallest that
# stays positive (D^2 the smallest subnormal), sqrt(2) D the next one.
D <- 2^-537
table <- cbind(1, 2)
# the distances 0, 0, 0, t, t, t: 2.0 * p + 1 lands on rank 3, the last 0
# (p = 0.4), or just past it (the next double)
last_zero <- 0.4
past_zero <- 0.4 + 2^-54

# Each call and its warnings (none: character()), in order.
zero_width_cases <- list(
  # the median: the mean of the middle two, 0 and a distance t, is t / 2,
  # whose square underflows for t = D and not for the next distance
  list(quote(median_width(c(0, 0, 0, D))),
       "the width is 0: 2 * median^2 underflowed"),
  list(quote(median_width(c(0, 0, 0, D), output = "sigma")),
       "the width is 0: 2 * median^2 underflowed"),
  list(quote(median_width(c(0, 0, 0, sqrt(2) * D))), character()),
  list(quote(median_width(matrix(1.5, 3, 2), output = "gamma")),
       "the width is 0: every distance is 0 (all samples coincide)"),
  # half of the pairs at 0 (the median between 0 and 1), then more
  list(quote(median_width(c(0, 0, 0, 1))), character()),
  list(quote(median_width(c(0, 0, 0, 0, 1))),
       "the width is 0: 6 of the 10 pairs are at distance 0"),
  list(quote(median_width(c(0, 0), c(0, 0, 1))),
       "the width is 0: 6 of the 10 pairs are at distance 0"),
  # counts in full, never 1e+05
  list(quote(median_width(rep(0, 400), c(rep(0, 249), 1), cross = TRUE)),
       "the width is 0: 99600 of the 100000 pairs are at distance 0"),
  list(quote(median_width(5)), character()),
  # the quantiles: rank 3 is the last 0; just past it the interpolation
  # gives 2^-51 t, whose square underflows for t = 2^-487, not 2^-486
  list(quote(distance_quantiles(c(0, 0, 0, 1), c(last_zero, past_zero))),
       "the width for p = 0.4 is 0: 3 of the 6 pairs are at distance 0"),
  list(quote(distance_quantiles(c(0, 0, 0, 2^-486), past_zero)), character()),
  list(quote(distance_quantiles(c(0, 0, 0, 2^-487),
                                c(NA, 0.9, past_zero, 0, last_zero))),
       c("the width for p = 0.4 is 0: 2 * q^2 underflowed",
         "the width for p = 0, 0.4 is 0: 3 of the 6 pairs are at distance 0")),
  # three probabilities listed, a fourth as ", ..."
  list(quote(distance_quantiles(c(0, 0, 0, 0, 1), c(0, 0.1, 0.2, 0.9))),
       paste("the width for p = 0, 0.1, 0.2 is 0:",
             "6 of the 10 pairs are at distance 0")),
  list(quote(distance_quantiles(c(0, 0, 0, 0, 1), c(0, 0.1, 0.2, 0.3),
                                output = "sigma")),
       paste("the width for p = 0, 0.1, 0.2, ... is 0:",
             "6 of the 10 pairs are at distance 0")),
  list(quote(distance_quantiles(matrix(1, 2, 2), c(0.5, 1 / 3))),
       paste("the width for p = 0.5, 0.333333 is 0:",
             "every distance is 0 (all samples coincide)")),
  list(quote(distance_quantiles(5, c(0, 0.5))), character()),
  # labelled: the mean of 0, t, t over three samples is 2t / 3
  list(quote(labelled_width(c(0, 0, D), NULL)),
       "the width is 0: 2 * mean^2 underflowed"),
  list(quote(labelled_width(c(0, 0, sqrt(2) * D), NULL)), character()),
  list(quote(labelled_width(c(0, D), NULL)), character()),
  list(quote(labelled_statistics(cbind(1:3, 7, 7))),
       "the width is 0: every distance is 0 (all samples coincide)"),
  list(quote(labelled_width(cbind(1, 7), output = "gamma")), character()),
  # form, at each rule
  list(quote(form_width(c(2, 2, 2), table)),
       "the width is 0: every distance is 0 (all samples coincide)"),
  list(quote(form_width(c(0, D), table)),
       "the width is 0: the variance is zero"),
  list(quote(form_width(c(rep(0, 300), sqrt(200) * D), table)),
       "the width is 0: variance / 2.6 underflowed"),
  list(quote(form_width(c(rep(0, 300), sqrt(300) * D), table)), character()),
  # variance 2^-1002: over 2^72 the smallest subnormal, over 2^73 half of it
  list(quote(form_width(c(0, 2^-500), cbind(1, 2^72))), character()),
  list(quote(form_width(c(0, 2^-500), cbind(1, 2^73), output = "sigma")),
       "the width is 0: variance / divisor underflowed"),
  list(quote(form_width(c(0, 2^-500), cbind(c(1, 5), c(Inf, 2)))),
       "the width is 0: the divisor on row 1 is infinite"),
  list(quote(form_width(c(0, 2^-500), cbind(c(5, 1), c(2, -2^73)))),
       "the width is 0: the divisor on row 2 is negative"),
  list(quote(form_width(5, table)), character()),
  list(quote(form_statistics(c(2, 2, 2))), character())
)

test_that("a width of 0 is a warning of the caller's call naming its cause", {
  for (case in zero_width_cases) {
    info <- deparse(case[[1]])
    if (length(case[[2]]) == 0) {
      expect_no_warning(eval(case[[1]]))
      next
    }
    w <- warnings_of(eval(case[[1]]))
    expect_identical(w$messages, case[[2]], info = info)
    for (call in w$calls) expect_identical(call, case[[1]], info = info)
  }
  # the boundaries the cases stand on
  expect_identical(median_width(c(0, 0, 0, sqrt(2) * D)), 2^-1073)
  expect_identical(distance_quantiles(c(0, 0, 0, 2^-486), past_zero), 2^-1073)
  expect_identical(form_statistics(c(rep(0, 300), sqrt(200) * D))$variance,
                   2^-1074)
  expect_identical(form_statistics(c(rep(0, 300), sqrt(300) * D))$variance,
                   2^-1073)
  expect_identical(form_width(c(0, 2^-500), cbind(1, 2^72)), 2^-1074)
  negative <- suppressWarnings(
    form_width(c(0, 2^-500), cbind(c(5, 1), c(2, -2^73))))
  expect_identical(1 / negative, -Inf)
})

test_that("an empty y pooled is a warning and x alone; across an error", {
  x <- cbind(c(0, 3, 1, 7), c(2, 2, 5, 1))
  none <- x[0, ]
  expect_warning(w <- median_width(x, none), "y: no samples", fixed = TRUE)
  expect_identical(w, median_width(x))
  expect_warning(w <- distance_quantiles(x, c(0.2, 1), none, output = "gamma"),
                 "y: no samples", fixed = TRUE)
  expect_identical(w, distance_quantiles(x, c(0.2, 1), output = "gamma"))
  # an empty x likewise
  expect_warning(w <- median_width(none, x, output = "sigma"), "x: no samples",
                 fixed = TRUE)
  expect_identical(w, median_width(x, output = "sigma"))
  # with one sample left, no pairs: NA
  expect_warning(w <- median_width(x[1, , drop = FALSE], none),
                 "y: no samples", fixed = TRUE)
  expect_identical(w, NA_real_)
  expect_identical(
    warnings_of(median_width(matrix(0, 2, 2), none))$messages,
    c("y: no samples",
      "the width is 0: every distance is 0 (all samples coincide)"))
  expect_error(median_width(x, none, cross = TRUE), "^no samples$")
  expect_error(median_width(none, x, cross = TRUE), "^no samples$")
  expect_error(distance_quantiles(x, 0.5, none, cross = TRUE), "^no samples$")
  # both empty: no samples at all, an error without a warning
  expect_no_warning(expect_error(median_width(none, none), "^no samples$"))
  expect_silent(median_width(x, x[1:2, ]))
})
