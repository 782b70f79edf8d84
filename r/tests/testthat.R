library(testthat)
library(kernelwidth)

test_check("kernelwidth")
