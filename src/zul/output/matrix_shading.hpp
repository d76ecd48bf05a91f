// Shading of the report's matrices of correlations, loadings and
// residuals: each number's cell gets a background on a diverging scale
// (blue above 0, red below, white at 0), so that the structure shows at a
// glance. The numbers stay as they are; the darkest background is light
// enough for black text, and in grey the shade still grows with |value|.
#pragma once

#include <string>

#include "zul/output/model.hpp"

namespace zul::output {

struct MatrixShading {
  double scale = 0;  // the |value| of the darkest shade; 0: no shading
  // ' style="background:#rrggbb"' for the value in row r of column j, ""
  // for a cell not shaded.
  std::string style(const Item& item, size_t column, size_t row) const;
};

// Correlations and loadings are shaded on a scale of 1; residual and
// partial correlations on the largest value off the diagonal, which is
// small when the factors fit.
MatrixShading matrixShading(const Item& item);

// The colour of value v on a scale of `scale`, "#rrggbb".
std::string shadeColour(double v, double scale);

}  // namespace zul::output
