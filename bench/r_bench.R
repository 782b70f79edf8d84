#!/usr/bin/env Rscript
# The R package against R's own route through dist() and against the
# programs, each run in an R process of its own.
#
# Usage: R_LIBS=build/r/library Rscript bench/r_bench.R [--quick] [--runs N]
#                                                          [PROGRAMS]
#
# PROGRAMS: the directory of the built programs (default build/programs);
# /usr/bin/time measures their memory.
# Prints two Markdown tables: at n = 5,000, d = 16 each function against
# the same numbers from dist(x) (R's median, quantile and mean of it); at
# n = 100,000, d = 16 (5,000 with --quick) each function against its
# program on the same values, with whether the widths are the same bits.
# Times are wall seconds, the best of N (3) runs taken in turns with what they
# are compared with; memory is the peak resident size
# above the process's own with the data in it (R's copy of the data into
# rows included; the peak is reset through /proc/self/clear_refs after the
# data is made). The median and quantiles at n = 100,000 run only when
# the median of 5,000 samples takes under 2 s (the exact selection; a
# plain sort of the distances would need 40 GB there).

args <- commandArgs(trailingOnly = TRUE)

# Clustered samples, the same for a given n and d in every process.
samples <- function(n, d) {
  set.seed(n + d)
  centres <- matrix(runif(5 * d, -10, 10), 5)
  matrix(rnorm(n * d, 0, 3), n) + centres[sample(5, n, TRUE), ]
}

# The process's resident size (VmRSS) or its peak (VmHWM), in MiB.
resident_mib <- function(field) {
  line <- grep(paste0("^", field, ":"), readLines("/proc/self/status"),
               value = TRUE)
  as.numeric(sub("[^0-9]*([0-9]+).*", "\\1", line)) / 1024
}

table_rows <- as.matrix(read.table(file.path("examples",
                                             "form_of_relationship.txt")))

# What one measurement runs, by name.
computations <- list(
  median = function(x) kernelwidth::median_width(x),
  median_dist = function(x) 2 * median(dist(x))^2,
  quantiles = function(x) kernelwidth::distance_quantiles(x, c(0.1, 0.5, 0.9)),
  quantile_median = function(x) kernelwidth::distance_quantiles(x, 0.5),
  quantiles_dist = function(x)
    2 * quantile(as.vector(dist(x)), c(0.1, 0.5, 0.9), names = FALSE)^2,
  labelled = function(x) kernelwidth::labelled_width(x),
  labelled_dist = function(x) 2 * mean(dist(x[, -1]))^2,
  form = function(x) kernelwidth::form_width(x, table_rows),
  form_dist = function(x) {
    d <- dist(x)
    n <- nrow(x)
    mean <- 2 * sum(d) / (n * n)
    c(mean, (2 * sum((d - mean)^2) + n * mean^2) / (n * n))
  }
)

# In a child process: time one computation, print seconds, MiB, value.
if (length(args) == 4 && args[1] == "--child") {
  x <- samples(as.integer(args[3]), as.integer(args[4]))
  loadNamespace("kernelwidth")
  invisible(gc())
  # The peak from here on: making the samples had a higher one.
  cat("5", file = "/proc/self/clear_refs")
  base <- resident_mib("VmRSS")
  start <- Sys.time()
  value <- computations[[args[2]]](x)
  seconds <- as.numeric(Sys.time() - start, units = "secs")
  cat(seconds, resident_mib("VmHWM") - base, sprintf("%.17g", value[1]), "\n")
  quit(save = "no")
}

rscript <- file.path(R.home("bin"), "Rscript")
script <- sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))
quick <- "--quick" %in% args
runs <- 3
if ("--runs" %in% args) {
  at <- match("--runs", args)
  runs <- as.integer(args[at + 1])
  args <- args[-c(at, at + 1)]
}
programs <- c(args[args != "--quick"], "build/programs")[1]

run_child <- function(what, n, d) {
  out <- system2(rscript, c(script, "--child", what, n, d), stdout = TRUE)
  fields <- strsplit(trimws(out[length(out)]), " ")[[1]]
  list(seconds = as.numeric(fields[1]), mib = as.numeric(fields[2]),
       value = fields[3])
}

# The best of `runs` runs of each of two measurements, taken in turns so
# that both see the same load on a shared machine.
in_turns <- function(first, second) {
  taken <- lapply(seq_len(runs), function(k) list(first(), second()))
  best <- function(j) {
    r <- lapply(taken, `[[`, j)
    r[[which.min(vapply(r, `[[`, 0, "seconds"))]]
  }
  list(best(1), best(2))
}

# A program on the samples written to a file: wall seconds, its --verbose
# width and its peak resident size (/usr/bin/time) in MiB.
program <- function(name, file, ...) {
  err <- tempfile()
  peak <- tempfile()
  on.exit(unlink(c(err, peak)))
  command <- c(file.path(programs, name), "--verbose", "--no-progress", ...,
               file)
  start <- Sys.time()
  system2("/usr/bin/time", c("-f", "%M", "-o", peak, command), stdout = FALSE,
          stderr = err)
  seconds <- as.numeric(Sys.time() - start, units = "secs")
  width <- sub("^width: ", "", grep("^width: ", readLines(err), value = TRUE))
  list(seconds = seconds, value = width,
       mib = as.numeric(readLines(peak)[1]) / 1024)
}

d <- 16
small <- 5000
cat(sprintf("Load average at start: %s\n\n",
            paste(scan("/proc/loadavg", "", 3, quiet = TRUE), collapse = " ")))
cat(sprintf("Against dist(x): n = %d, d = %d, best of %d in turns\n\n", small,
            d, runs))
cat("| computation | package s | package MiB | dist s | dist MiB | dist / package | same value |\n")
cat("|---|---:|---:|---:|---:|---:|---|\n")
median_seconds <- NA
for (what in c("median", "quantiles", "labelled", "form")) {
  r <- in_turns(function() run_child(what, small, d),
                function() run_child(paste0(what, "_dist"), small, d))
  ours <- r[[1]]
  theirs <- r[[2]]
  if (what == "median") median_seconds <- ours$seconds
  same <- if (what %in% c("form", "labelled")) "(other sums)" else
    if (ours$value == theirs$value) "yes" else "no"
  cat(sprintf("| %s | %.3f | %.1f | %.3f | %.1f | %.1f | %s |\n", what,
              ours$seconds, ours$mib, theirs$seconds, theirs$mib,
              theirs$seconds / ours$seconds, same))
}

big <- if (quick) small else 100000
file <- tempfile(fileext = ".txt")
x <- samples(big, d)
writeLines(apply(x, 1, function(r) paste(sprintf("%.17g", r), collapse = " ")),
           file)
rm(x)
table_file <- normalizePath(file.path("examples", "form_of_relationship.txt"))
cat(sprintf("\nAgainst the programs: n = %d, d = %d (%.1f MiB of doubles), best of %d in turns; the program's peak is all it holds, the file's reading included\n\n",
            big, d, big * d * 8 / 2^20, runs))
cat("| computation | program | package s | program s | package / program | package MiB | program MiB | same width |\n")
cat("|---|---|---:|---:|---:|---:|---:|---|\n")
cases <- list(form = c("form_kernel_width", "--table", table_file),
              labelled = "labelled_kernel_width",
              median = "median_kernel_width",
              quantile_median = "median_kernel_width")
for (what in names(cases)) {
  if (what %in% c("median", "quantile_median") && big > small &&
      median_seconds >= 2) {
    cat(sprintf("| %s | waits for the exact selection (5,000 samples took %.1f s) | | | | | | |\n",
                what, median_seconds))
    next
  }
  r <- in_turns(function() run_child(what, big, d),
                function() do.call(program, c(as.list(cases[[what]][1]), file,
                                              as.list(cases[[what]][-1]))))
  ours <- r[[1]]
  theirs <- r[[2]]
  cat(sprintf("| %s | %s | %.3f | %.3f | %.2f | %.1f | %.1f | %s |\n", what,
              cases[[what]][1], ours$seconds, theirs$seconds,
              ours$seconds / theirs$seconds, ours$mib, theirs$mib,
              if (ours$value == theirs$value) "yes" else "no"))
}
unlink(file)
