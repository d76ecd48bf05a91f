// The numbers of a path diagram, from plain arrays (no host): the settings
// a request resolves to, and the nodes and links of the "PathDiagramData"
// table. The drawing contract (column by column) is in docs/path-diagram-data.md.
#pragma once

#include <string>
#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// What one diagram is drawn with, after the defaults and limits.
struct PathSettings {
  std::string arrangement;  // "flow", "groupedflow" or "grip"
  double factorSize = 1.5;
  bool factorSizeRaised = false;  // below 0.2: raised, with a note
  double fuzz = 0.3;              // loadings with |value| above it are links
  double level = 0.05;            // significance level of the stars
  bool tested = false;            // ML with standard errors, level above 1e-8
  bool levelTooSmall = false;     // ML with standard errors, level 1e-8 or less
  double critical = 0;            // two-sided normal critical value
  double cover = 0;               // salience: significantly beyond +-cover
  int decimals = 2;
  int designHeight = 0, designWidth = 0;
  double textSizeMin = 0;
  double scale = 10;
};

// What the step supplies beside the request.
struct PathContext {
  int nVars = 0;
  int nFactors = 0;
  double stepFuzz = 0;       // FUZZ= of the statement, 0 when not given
  double stepLevel = -1;     // ALPHA= of the statement, -1 when not given
  double stepCover = 0;      // COVER= of the statement
  bool mlWithErrors = false;  // METHOD=ML and the solution has standard errors
};

PathSettings pathSettings(const PathRequest& r, const PathContext& c);

// The smallest text size for a diagram of n nodes, as a fraction of the
// normal text size.
double defaultTextSizeMin(int n);

// The solution a diagram shows. Arrays by columns (nVars x nFactors);
// factorCorr packed, null for an orthogonal solution; the standard errors
// null when there are none.
struct PathSolution {
  int nVars = 0, nFactors = 0;
  const double* loadings = nullptr;
  const double* communalities = nullptr;
  const double* factorCorr = nullptr;
  const double* sePattern = nullptr;
  const double* seFactorCorr = nullptr;
  std::vector<std::string> varNames, varLabels, factorNames;
};

struct PathNode {
  int id = 0;
  std::string varLabel, nodeLabel, shape;
  double size = 1;
  int priority = 0;
};

struct PathLink {
  int id = 0, from = 0, to = 0;
  std::string dir, label;
  double value = 0, se = 0;  // se missing when there are none
  int priority = 0;
};

struct PathDiagramData {
  std::vector<PathNode> nodes;  // factors first, then variables
  std::vector<PathLink> links;
  bool intervalFailed = false;  // a factor correlation marked -1
};

PathDiagramData pathDiagramData(const PathSolution& s, const PathRequest& r,
                                const PathSettings& set);

// An estimate with `decimals` places, "*" after it when significant; no
// minus sign before a value that rounds to zero.
std::string pathLabel(double value, int decimals, bool significant);

}  // namespace zulfact
