# An interrupt (SIGINT, as Ctrl-C sends it) half a second into a long
# computation: the seconds from the signal to the interrupt condition.
# Typically under 0.2 s; the bound below leaves room for a machine busy
# with other work, and is still far below the seconds the computations take.
delay_bound <- 1
interrupt_delay <- function(compute) {
  stamp <- tempfile()
  on.exit(unlink(stamp))
  # all of it in the background (system() adds the &): system() ignores
  # SIGINT while it waits
  system(sprintf("(sleep 0.5; date +%%s.%%N > %s; kill -INT %d)", stamp,
                 Sys.getpid()), wait = FALSE)
  caught <- tryCatch({
    compute()
    NULL
  }, interrupt = function(e) Sys.time())
  if (is.null(caught)) return(Inf)
  as.numeric(caught) - as.numeric(readLines(stamp))
}

test_that("an interrupt stops labelled at once", {
  skip_on_os("windows")
  # n = 100,000 on one thread: seconds of work.
  x <- matrix(rnorm(100000 * 16), ncol = 16)
  expect_lt(interrupt_delay(function() labelled_width(x, NULL, threads = 1)),
            delay_bound)
  # and the session goes on
  expect_identical(labelled_width(x[1:20, ], NULL),
                   labelled_statistics(x[1:20, ], NULL, threads = 2)$width)
})

test_that("an interrupt stops the median at once", {
  skip_on_os("windows")
  # Only where the selection is fast: a plain sort of the distances would
  # need 10 GB at n = 50,000.
  x <- matrix(rnorm(5000 * 16), ncol = 16)
  took <- system.time(median_width(x))[["elapsed"]]
  skip_if(took >= 2, sprintf("the median of 5,000 samples took %.1f s", took))
  x <- matrix(rnorm(50000 * 16), ncol = 16)
  expect_lt(interrupt_delay(function() median_width(x, threads = 1)),
            delay_bound)
  expect_identical(median_width(x[1:20, ]), 2 * median(dist(x[1:20, ]))^2)
})
