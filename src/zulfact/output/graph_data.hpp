// The numbers of the report's graphs, from plain arrays (no host): the
// scree and variance rows, the pairs of factors of the loadings graphs
// with their axes, and the labels of the reference circles.
#pragma once

#include <string>
#include <vector>

namespace zulfact {

// One eigenvalue of the scree and variance-explained graphs: its number
// from 1, the eigenvalue, its share of the sum of all eigenvalues and the
// cumulative share (both missing when that sum is 0).
struct ScreeRow {
  int number = 0;
  double eigenvalue = 0;
  double proportion = 0;
  double cumulative = 0;
};
// Eigenvalues first .. p - 1 (missing ones left out).
std::vector<ScreeRow> screeRows(int p, int first, const double* eigenvalues);

// One loadings graph: the factors (from 0) on the horizontal and vertical
// axes and the angle between the axes.
struct FactorPair {
  int x = 0;
  int y = 1;
};
// Every pair i < j among the first nPlotted factors, i on the vertical
// axis and j on the horizontal one, as in the character plots (both are
// titled "Factor i Against Factor j", the vertical factor first); flip
// swaps the axes.
std::vector<FactorPair> factorPairs(int nPlotted, bool flip);

// The number of factors a loadings graph shows: NPLOT= capped at the
// factors retained, all of them without NPLOT=.
int factorsPlotted(int nPlot, int retained);

// The angle in degrees between two axes whose correlation is r (90 for
// uncorrelated axes); r is clamped to [-1, 1].
double axisAngle(double r);

// The label of a reference circle of radius r: the percentage of a
// variable's variance that a loading of r explains, "%5g%%" of 100 r².
std::string circleLabel(double r);

}  // namespace zulfact
