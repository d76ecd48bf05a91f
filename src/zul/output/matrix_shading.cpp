#include "zul/output/matrix_shading.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include <fmt/format.h>

namespace zul::output {

namespace {

const std::set<std::string> kUnitScale = {
    "Corr",           "FactorPattern", "OrthRotFactPat",    "ObliqueRotFactPat",
    "FactorStructure", "ReferenceStructure", "InterFactorCorr", "ReferenceAxisCorr",
    "PrerotFactPat", "PartialCorr"};
const std::set<std::string> kResidualScale = {"ResCorrUniqueDiag", "ParCorrControlFactor",
                                              "ParCorrControlVar"};

// Column j of a matrix table holds a number whose row is the diagonal when
// the column's name is the row's label (the first text cell).
bool onDiagonal(const Item& item, size_t j, size_t r) {
  const auto& row = item.rows[r];
  for (const Value& v : row)
    if (v.isText()) return v.text == item.columns[j].name;
  return false;
}

}  // namespace

std::string shadeColour(double v, double scale) {
  const double t = scale > 0 ? std::min(1.0, std::fabs(v) / scale) * 0.7 : 0;
  // Blue (33, 102, 172) and red (178, 24, 43), mixed with white.
  const int rgb[2][3] = {{33, 102, 172}, {178, 24, 43}};
  const int* c = rgb[v < 0 ? 1 : 0];
  auto mix = [&](int k) { return static_cast<int>(std::lround(255 * (1 - t) + c[k] * t)); };
  return fmt::format("#{:02x}{:02x}{:02x}", mix(0), mix(1), mix(2));
}

MatrixShading matrixShading(const Item& item) {
  MatrixShading s;
  if (kUnitScale.count(item.name)) {
    s.scale = 1;
  } else if (kResidualScale.count(item.name)) {
    for (size_t r = 0; r < item.rows.size(); ++r)
      for (size_t j = 0; j < item.columns.size() && j < item.rows[r].size(); ++j) {
        const Value& v = item.rows[r][j];
        const Column& c = item.columns[j];
        // Rounded columns show 100 times the value; their originals count.
        if (c.isCharacter || c.role == Role::RoundFuzzVal || c.role == Role::Flag) continue;
        if (v.isNumber() && !onDiagonal(item, j, r))
          s.scale = std::max(s.scale, std::fabs(v.number));
      }
  }
  return s;
}

std::string MatrixShading::style(const Item& item, size_t column, size_t row) const {
  if (scale <= 0 || row >= item.rows.size() || column >= item.rows[row].size()) return {};
  const Column& c = item.columns[column];
  if (c.isCharacter || c.role == Role::Flag) return {};
  const Value& v = item.rows[row][column];
  if (!v.isNumber()) return {};
  return " style=\"background:" + shadeColour(v.number, scale) + "\"";
}

}  // namespace zul::output
