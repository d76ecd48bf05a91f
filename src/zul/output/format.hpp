// Numeric display formats of output-table columns.
//
//   "w.d"        fixed: width w, d decimals ("12.5", "6.0", "8.0")
//   "w."         fixed with no decimals
//   "BESTw."     the shortest text of at most w characters
//   "PVALUEw.d"  like w.d, but values below 10^-d print as "<.0001"
//   "rf"         width formatWidth (10 when 0), decimals chosen from the
//                column's largest absolute value (autoDecimals); a small
//                value that would lose its digits gets its own (keepDigits)
//   ""           BEST12.
// A fixed value too long for its width loses decimals, then goes to
// exponent form, but is never cut: a listing must not hide a number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zul/output/model.hpp"

namespace zul::output {

struct NumericFormat {
  enum class Kind { Best, Fixed, PValue };
  Kind kind = Kind::Best;
  int width = 12;
  int decimals = 0;
  bool automatic = false;  // "rf": decimals still to be chosen
  // "rf" resolved over a column: a nonzero value that its decimals would
  // show with fewer than two significant digits (0.023 as 0 beside 1e12)
  // is written in the shortest form that fits instead.
  bool keepDigits = false;

  std::string text() const;  // "10.8", "BEST12.", "PVALUE6.4"
};

// Parses a format text; unknown texts give BEST of formatWidth (or 12).
NumericFormat parseFormat(std::string_view text, int formatWidth);

// Decimals for a column of the given width whose largest absolute value is
// maxAbs: the integer digits of maxAbs are counted from one tenth of it
// (floor(log10(maxAbs / 10)) + 2, at least 1); what is left of the width
// after them, the decimal point and a sign (when the column has a negative
// value) is the number of decimals, at least 0.
int autoDecimals(double maxAbs, bool hasNegative, int width);

// The format of one column with "rf" resolved over its rows.
NumericFormat resolveFormat(const Column& column, const std::vector<std::vector<Value>>& rows,
                            size_t index);

// The text of x under the format, without padding; "" for missing.
std::string formatNumber(double x, const NumericFormat& format);

}  // namespace zul::output
