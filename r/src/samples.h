// R's samples (a numeric matrix or vector, or a data frame's columns) as
// the library reads them: rows of doubles, one after another.
#pragma once

#include <Rcpp.h>

#include <cstddef>
#include <string>
#include <vector>

#include "kernel_width/kernel_width.h"

struct row_major {
  std::vector<double> values;
  std::size_t rows = 0;
  std::size_t cols = 0;

  kernel_width::matrix_view view() const {
    return {values.data(), rows, cols, cols};
  }
};

// samples: the list that the package's R side makes of x, y or a table:
// data, a numeric vector holding a matrix column by column or a list of
// numeric columns; rows and cols; names, the column names or NULL; what, the
// argument's name; skip, a column (from 1; 0 for none) left out and never
// read. An NA, a column that holds no numbers (a factor, text) or a column
// of another length is an R error naming the argument, the row and the
// column.
row_major rows_of(SEXP samples);
