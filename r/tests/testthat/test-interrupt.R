test_that("an interrupt stops a long computation within 0.2 s", {
  skip_on_os("windows")
  # labelled at n = 100,000 on one thread: seconds of work.
  x <- matrix(rnorm(100000 * 16), ncol = 16)
  stamp <- tempfile()
  on.exit(unlink(stamp))
  # all of it in the background (system() adds the &): system() ignores
  # SIGINT while it waits
  system(sprintf("(sleep 0.5; date +%%s.%%N > %s; kill -INT %d)", stamp,
                 Sys.getpid()), wait = FALSE)
  caught <- tryCatch({
    labelled_width(x, NULL, threads = 1)
    NULL
  }, interrupt = function(e) Sys.time())
  expect_false(is.null(caught))
  sent <- as.numeric(readLines(stamp))
  expect_lt(as.numeric(caught) - sent, 0.2)
  # and the session goes on
  expect_identical(labelled_width(x[1:20, ], NULL),
                   labelled_statistics(x[1:20, ], NULL, threads = 2)$width)
})
