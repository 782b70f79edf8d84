#include "samples.h"

#include <cmath>
#include <new>

namespace {

std::string column_name(SEXP names, R_xlen_t c) {
  std::string text = "column " + std::to_string(c + 1);
  if (TYPEOF(names) == STRSXP && c < Rf_xlength(names) &&
      STRING_ELT(names, c) != NA_STRING)
    text += " (\"" + std::string(Rf_translateCharUTF8(STRING_ELT(names, c))) +
            "\")";
  return text;
}

// What a column that holds no numbers is, for the message.
std::string kind_of(SEXP column) {
  if (Rf_isFactor(column)) return "a factor";
  switch (TYPEOF(column)) {
    case STRSXP:
      return "text";
    case LGLSXP:
      return "logical values";
    case CPLXSXP:
      return "complex numbers";
    default:
      return std::string("of type ") + Rf_type2char(TYPEOF(column));
  }
}

// A column as the messages name it: the argument, and column c of names.
struct column_label {
  const std::string& what;
  SEXP names;
  R_xlen_t c;
};

[[noreturn]] void missing_value(const column_label& at, std::size_t row) {
  Rcpp::stop("NA in " + at.what + " at row " + std::to_string(row + 1) +
             ", " + column_name(at.names, at.c));
}

// The values of column at.c, out.rows of them from `first` in `column`,
// into column `to` of out, refusing NA.
void copy_column(SEXP column, R_xlen_t first, row_major& out, std::size_t to,
                 const column_label& at) {
  double* target = out.values.data() + to;
  if (TYPEOF(column) == REALSXP) {
    const double* v = REAL(column) + first;
    for (std::size_t r = 0; r < out.rows; ++r, target += out.cols) {
      if (R_IsNA(v[r])) missing_value(at, r);
      *target = v[r];
    }
  } else {
    const int* v = INTEGER(column) + first;
    for (std::size_t r = 0; r < out.rows; ++r, target += out.cols) {
      if (v[r] == NA_INTEGER) missing_value(at, r);
      *target = v[r];
    }
  }
}

bool numeric(SEXP column) {
  return TYPEOF(column) == REALSXP ||
         (TYPEOF(column) == INTSXP && !Rf_isFactor(column));
}

}  // namespace

row_major rows_of(SEXP samples) {
  const Rcpp::List fields(samples);
  SEXP data = fields["data"];
  SEXP names = fields["names"];
  const auto what = Rcpp::as<std::string>(fields["what"]);
  const auto rows = Rcpp::as<double>(fields["rows"]);
  const auto skip = Rcpp::as<int>(fields["skip"]);
  if (!(rows >= 0) || rows != std::floor(rows))
    Rcpp::stop("bad row count for " + what);
  const auto n = static_cast<R_xlen_t>(rows);
  const bool list = TYPEOF(data) == VECSXP;
  if (!list && !numeric(data))
    Rcpp::stop(what + " must hold numbers, not " + kind_of(data));
  const auto total = static_cast<R_xlen_t>(Rcpp::as<double>(fields["cols"]));
  if ((list ? total : total * n) != Rf_xlength(data))
    Rcpp::stop(what + " holds " + std::to_string(Rf_xlength(data)) +
               (list ? " columns, not " : " values, not ") +
               std::to_string(total) + (list ? "" : " x " + std::to_string(n)));
  row_major out;
  out.rows = static_cast<std::size_t>(n);
  out.cols = static_cast<std::size_t>(total - (skip >= 1 && skip <= total));
  for (R_xlen_t c = 0; list && c < total; ++c) {
    SEXP column = VECTOR_ELT(data, c);
    if (c + 1 == skip) continue;
    if (!numeric(column))
      Rcpp::stop(what + " must hold numbers: " + column_name(names, c) +
                 " holds " + kind_of(column));
    if (Rf_xlength(column) != n)
      Rcpp::stop(what + ": " + column_name(names, c) + " holds " +
                 std::to_string(Rf_xlength(column)) + " values, not " +
                 std::to_string(n));
  }
  try {
    out.values.resize(out.rows * out.cols);
  } catch (const std::bad_alloc&) {
    Rcpp::stop("out of memory for a copy of " + what);
  }
  std::size_t to = 0;
  for (R_xlen_t c = 0; c < total; ++c) {
    if (c + 1 == skip) continue;
    const column_label at{what, names, c};
    if (list)
      copy_column(VECTOR_ELT(data, c), 0, out, to++, at);
    else
      copy_column(data, c * n, out, to++, at);
  }
  return out;
}
