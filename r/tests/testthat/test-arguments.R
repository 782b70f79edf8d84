# What the functions take: matrices, data frames, vectors, labels by number
# or name; and the errors, each an R error with a short message.

test_that("a data frame, an integer matrix and a vector give the matrix's numbers", {
  m <- as.matrix(iris[1:4])
  expect_identical(median_width(iris[1:4]), median_width(m))
  expect_identical(labelled_width(iris, "Species"), labelled_width(iris, 5))
  expect_identical(labelled_width(iris[c(5, 1:4)]), labelled_width(m, NULL))
  expect_identical(labelled_width(m), labelled_width(m[, 2:4], NULL))
  g <- matrix(c(0L, 3L, 7L, 0L, 4L, 1L), 3)
  expect_identical(distance_quantiles(g, 0.3), distance_quantiles(g + 0, 0.3))
  expect_identical(median_width(1:4), 2 * median(dist(1:4))^2)
  expect_identical(form_statistics(data.frame(a = 1:3, b = c(0, 2.5, 1))),
                   form_statistics(cbind(1:3, c(0, 2.5, 1))))
  # The label column is never read: NA and text are fine there.
  labels <- data.frame(id = c(NA, "b", "c"), v = c(1, 4, 9))
  expect_identical(labelled_width(labels, "id"), labelled_width(c(1, 4, 9), NULL))
})

test_that("bad input is an R error naming what is wrong", {
  x <- as.matrix(iris[1:4])
  na <- x
  na[7, 3] <- NA
  cases <- list(
    list(quote(median_width(iris)), "column 5 \\(\"Species\"\\) holds a factor"),
    list(quote(labelled_width(iris, NULL)), "column 5 \\(\"Species\"\\)"),
    list(quote(median_width(na)), "NA in x at row 7, column 3 \\(\"Petal.Length\"\\)"),
    list(quote(labelled_width(na, 1)), "NA in x at row 7, column 3"),
    list(quote(median_width(x, na)), "NA in y at row 7"),
    list(quote(median_width(c(1, NA_integer_))), "NA in x at row 2, column 1$"),
    list(quote(form_width(x, cbind(1, NA))), "NA in table at row 1, column 2"),
    list(quote(median_width(letters)), "x must hold numbers, not text"),
    list(quote(median_width(matrix(TRUE, 2, 2))), "not logical"),
    list(quote(median_width(NULL)), "x must be a numeric matrix or a data frame, not NULL"),
    list(quote(median_width(list(1, 2))), "not list"),
    list(quote(median_width(array(1, c(2, 2, 2)))), "not array"),
    list(quote(median_width(x, x[, 1:3])), "different numbers of columns \\(4 and 3\\)"),
    list(quote(median_width(x, cross = TRUE)), "cross = TRUE needs y"),
    list(quote(median_width(x, cross = NA)), "cross must be TRUE or FALSE"),
    list(quote(median_width(x[0, ])), "^no samples$"),
    list(quote(labelled_width(x[0, ])), "^no samples$"),
    list(quote(form_statistics(x[0, ])), "^no samples$"),
    list(quote(median_width(matrix(numeric(), 3, 0))), "no feature values"),
    list(quote(labelled_width(x[, 1, drop = FALSE])), "no feature values"),
    list(quote(form_width(x, matrix(numeric(), 0, 2))), "no rows to search"),
    list(quote(form_width(x, matrix(1, 1, 1))), "no divisor after the key"),
    list(quote(labelled_width(x, 0)), "label must be a column of x \\(1 to 4\\)"),
    list(quote(labelled_width(x, 5)), "label must be a column of x"),
    list(quote(labelled_width(x, 1.5)), "label must be a column of x"),
    list(quote(labelled_width(x, "Species")), "no column named \"Species\""),
    list(quote(median_width(x, threads = 1025)), "threads must be 0 \\(every core\\) to 1024"),
    list(quote(median_width(x, threads = -1)), "threads must be"),
    list(quote(median_width(x, threads = "2")), "threads must be"),
    list(quote(median_width(x, threads = 1:2)), "threads must be"),
    list(quote(distance_quantiles(x, 1 + 1e-13)), "probs must be numbers in \\[0, 1\\]"),
    list(quote(distance_quantiles(x, -1e-13)), "probs must be numbers"),
    list(quote(distance_quantiles(x, "0.5")), "probs must be numbers"),
    list(quote(median_width(x, output = "width2")), "should be one of")
  )
  for (case in cases) {
    e <- tryCatch(eval(case[[1]]), error = identity)
    expect_s3_class(e, "error")
    expect_match(conditionMessage(e), case[[2]], info = deparse(case[[1]]))
    # the caller's call, not an internal one
    if (!grepl("should be one of", case[[2]]))
      expect_identical(conditionCall(e), case[[1]], info = deparse(case[[1]]))
  }
  # the edges that are accepted (iris repeats a sample: p = 0 gives 0)
  expect_identical(
    suppressWarnings(distance_quantiles(x, c(1 + 1e-14, -1e-14))),
    suppressWarnings(distance_quantiles(x, c(1, 0))))
  expect_identical(labelled_width(x, 4), labelled_width(x[, 1:3], NULL))
  expect_identical(median_width(x, threads = 1024), median_width(x))
})
