// Character plots for the listing: the scree plot of the eigenvalues and
// the factor pattern plots, laid out line by line.
//
// The layout functions are host-free (plain values in, lines out); the
// print functions hand the lines to the host as a listing-only text block
// (TableWriter::beginTextBlock), so that the HTML report, which draws the
// graphs, never sees them.
//
// Pattern grid: 41 rows by 64 columns. Rows are numbered from 0: row r
// holds the vertical loadings y with 0.975 - 0.05 r <= y < 1.025 - 0.05 r
// (row 0 open above, row 40 open below), so 1.0 falls in row 0 and 0 in
// row 20, the horizontal axis. A horizontal loading x falls in column
// max(1, min(64, trunc(30 x + 33))): 0 in column 33 (the vertical axis),
// 1.0 in column 63. A cell keeps the first symbol drawn in it.
//
// Scree plot: 21 rows (the first eigenvalue in row 0, min(0, smallest) in
// row 20) and one column per number, up to 5 columns apart, the numbers
// squeezed into 61 columns when there are more than 61 of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

inline constexpr int kPatternRows = 41;
inline constexpr int kPatternColumns = 64;
inline constexpr int kScreeRows = 21;
inline constexpr int kScreeMaxColumns = 61;
inline constexpr int kLegendEntryWidth = 14;
// PLOTCHAR= writes at most this many characters of a name into the grid.
inline constexpr int kMaxPlotNameLength = 8;

// Grid row (0 to 40) of a vertical loading and grid column (1 to 64) of a
// horizontal one.
int patternRow(double y);
int patternColumn(double x);

// The symbol of variable i (from 0): the letter i mod 26 of A to Z, or,
// when nameLength is above 0, the first nameLength characters of the name.
std::string patternSymbol(int i, std::string_view name, int nameLength);

struct PlotPoint {
  double x = 0;        // horizontal loading
  double y = 0;        // vertical loading
  std::string symbol;  // one letter, or a name written centred on its column
};

// The grid with its axis names and scales: the vertical axis name, 41 grid
// rows (a 3-character scale label, a blank, the 64 cells; the horizontal
// axis name after row 20), the horizontal scale. Points that are not
// finite are left out.
std::vector<std::string> patternPlotLines(const std::vector<PlotPoint>& points,
                                          std::string_view verticalName,
                                          std::string_view horizontalName);

// "A=Name" entries of 14 characters (a longer entry takes the next
// multiple of 14), as many on a line as lineWidth allows (at least one).
std::vector<std::string> legendLines(const std::vector<std::string>& symbols,
                                     const std::vector<std::string>& names, int lineWidth);

// The scree plot of values[0 .. count-1], the eigenvalues numbered from
// firstNumber, each drawn with the last digit of its number. Returns no
// lines when the plot cannot be set up (nothing to plot, a value that is
// not finite, or no vertical range).
std::vector<std::string> screePlotLines(const double* values, int count, int firstNumber,
                                        std::string_view verticalLabel,
                                        std::string_view horizontalLabel);

// The character scree plot of the eigenvalues from index first (SCREE).
void printScreePlot(ProcState& ps, int first);

// The character pattern plots of the current solution, one page for each
// pair of the first nPlotted factors: the pattern, or for an oblique
// solution with PLOTREF the reference structure.
void printPatternPlots(ProcState& ps, bool oblique, int nPlotted);

}  // namespace zulfact
