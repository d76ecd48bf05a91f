#include "zulfact/output/path_data.hpp"

#include <strings.h>

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "kernels/packed.hpp"
#include "zulfact/output/intervals.hpp"

namespace zulfact {

namespace {

// Design height and width of each arrangement when the request gives none.
void designSizes(const std::string& arrangement, int& height, int& width) {
  if (arrangement == "flow") {
    height = 800;
    width = 450;
  } else if (arrangement == "groupedflow") {
    height = 500;
    width = 720;
  } else {
    height = width = 600;
  }
}

std::string arrangementOf(int code, int nVars) {
  if (code == 2) return "flow";
  if (code == 3) return "groupedflow";
  if (code == 4) return "grip";
  // Automatic: a flow stays readable up to about fifteen variables.
  return nVars < 15 ? "flow" : "grip";
}

// The request's level, else the statement's, else 5%; above 1 it is a
// percentage.
double levelOf(const PathRequest& r, const PathContext& c) {
  double level = r.alpha >= 0 ? r.alpha : (c.stepLevel >= 0 ? c.stepLevel : 0.05);
  return level > 1 ? level / 100 : level;
}

double at(const double* a, int i, int k, int p) {
  return a[static_cast<size_t>(i) + static_cast<size_t>(k) * static_cast<size_t>(p)];
}

std::string nodeLabel(const PathRequest& r, const std::string& name, const std::string& label) {
  for (int k = 0; k < r.nLabels; ++k)
    if (strcasecmp(r.labels[k].name, name.c_str()) == 0) return r.labels[k].text;
  if (r.nodeLabel == 2 && !label.empty()) return label;
  return name;
}

// The factor on which variable i loads most, from 0.
int primaryFactor(const PathSolution& s, int i) {
  int best = 0;
  for (int k = 1; k < s.nFactors; ++k)
    if (std::fabs(at(s.loadings, i, k, s.nVars)) > std::fabs(at(s.loadings, i, best, s.nVars)))
      best = k;
  return best;
}

void addNodes(const PathSolution& s, const PathRequest& r, const PathSettings& set,
              PathDiagramData& d) {
  for (int k = 0; k < s.nFactors; ++k)
    d.nodes.push_back({k + 1, s.factorNames[k], nodeLabel(r, s.factorNames[k], ""), "oval",
                       set.factorSize, k + 1});
  for (int i = 0; i < s.nVars; ++i)
    d.nodes.push_back({s.nFactors + i + 1, s.varNames[i],
                       nodeLabel(r, s.varNames[i], s.varLabels[i]), "rectangle", 1.0,
                       primaryFactor(s, i) + 1});
}

// A path is significant when its interval at the level lies wholly beyond
// -cover .. cover (with cover 0: excludes zero).
bool significant(const Interval& in, double cover) {
  return in.valid && (in.lower > cover || in.upper < -cover);
}

PathLink link(PathDiagramData& d, int from, int to, const char* dir, double value, double se,
              int priority) {
  PathLink l;
  l.id = static_cast<int>(d.links.size()) + 1;
  l.from = from;
  l.to = to;
  l.dir = dir;
  l.value = value;
  l.se = se;
  l.priority = priority;
  return l;
}

void addLoadingLinks(const PathSolution& s, const PathRequest& r, const PathSettings& set,
                     PathDiagramData& d) {
  for (int i = 0; i < s.nVars; ++i) {
    const int primary = primaryFactor(s, i);
    for (int k = 0; k < s.nFactors; ++k) {
      const double v = at(s.loadings, i, k, s.nVars);
      if (!(std::fabs(v) > set.fuzz)) continue;
      const double se = s.sePattern ? at(s.sePattern, i, k, s.nVars) : zul_missing();
      bool star = false;
      if (set.tested) star = significant(waldInterval(v, se, set.critical, false), set.cover);
      PathLink l = link(d, k + 1, s.nFactors + i + 1, "Link", v, se, k == primary ? 1 : 2);
      if (!r.noEstim) l.label = pathLabel(v, set.decimals, star);
      d.links.push_back(l);
    }
  }
}

// Correlations of oblique factors; an interval that cannot be formed (a
// correlation of +-1, a standard error that is not positive) marks the
// link's standard error -1.
void addCorrelationLinks(const PathSolution& s, const PathRequest& r, const PathSettings& set,
                         PathDiagramData& d) {
  if (!s.factorCorr) return;
  for (int k = 0; k < s.nFactors; ++k) {
    for (int l = k + 1; l < s.nFactors; ++l) {
      const size_t at = kernels::packedIndex(static_cast<size_t>(l), static_cast<size_t>(k));
      const double v = s.factorCorr[at];
      double se = s.seFactorCorr ? s.seFactorCorr[at] : zul_missing();
      bool star = false;
      if (set.tested) {
        const Interval in = waldInterval(v, se, set.critical, true);
        star = significant(in, set.cover);
        if (!in.valid) {
          se = -1;
          d.intervalFailed = true;
        }
      }
      PathLink c = link(d, k + 1, l + 1, "Both", v, se, 3);
      if (!r.noEstim) c.label = pathLabel(v, set.decimals, star);
      d.links.push_back(c);
    }
  }
}

// Variances: 1 - h2 of each variable, 1 for each standardised factor.
void addVarianceLinks(const PathSolution& s, const PathRequest& r, const PathSettings& set,
                      PathDiagramData& d) {
  if (r.noVariance) return;
  if (!r.noFactorVar) {
    for (int k = 0; k < s.nFactors; ++k) {
      PathLink v = link(d, k + 1, k + 1, "Both", 1.0, zul_missing(), 4);
      if (!r.noEstim) v.label = pathLabel(1.0, set.decimals, false);
      d.links.push_back(v);
    }
  }
  if (!r.noErrVar && s.communalities) {
    for (int i = 0; i < s.nVars; ++i) {
      const int id = s.nFactors + i + 1;
      const double u = 1.0 - s.communalities[i];
      PathLink v = link(d, id, id, "Both", u, zul_missing(), 4);
      if (!r.noEstim) v.label = pathLabel(u, set.decimals, false);
      d.links.push_back(v);
    }
  }
}

}  // namespace

double defaultTextSizeMin(int n) {
  if (n > 69) return 0.5;
  if (n > 59) return 0.55;
  if (n > 49) return 0.6;
  // Smaller diagrams keep larger text: 0.05 more for each ten nodes fewer.
  // In hundredths, so that the sizes are the decimals they are written as.
  return (65 + 5 * ((49 - std::max(n, 0)) / 10)) / 100.0;
}

PathSettings pathSettings(const PathRequest& r, const PathContext& c) {
  PathSettings s;
  s.arrangement = arrangementOf(r.arrange, c.nVars);
  if (r.factorSize >= 0) s.factorSize = r.factorSize;
  if (s.factorSize < 0.2) {
    s.factorSize = 0.2;
    s.factorSizeRaised = true;
  }
  s.fuzz = r.fuzz >= 0 ? r.fuzz : (c.stepFuzz > 0 ? c.stepFuzz : 0.3);
  s.level = levelOf(r, c);
  s.cover = r.cover >= 0 ? r.cover : std::max(c.stepCover, 0.0);
  if (c.mlWithErrors) {
    s.tested = s.level > 1e-8;
    s.levelTooSmall = !s.tested;
    if (s.tested) s.critical = normalQuantile(1.0 - std::min(s.level, 1.0) / 2.0);
  }
  if (r.decp >= 0) s.decimals = r.decp;
  designSizes(s.arrangement, s.designHeight, s.designWidth);
  if (r.designHeight > 0) s.designHeight = r.designHeight;
  if (r.designWidth > 0) s.designWidth = r.designWidth;
  // TEXTSIZEMIN= is in tenths of the normal text size.
  s.textSizeMin = r.textSizeMin >= 0 ? std::max(r.textSizeMin / 10.0, 0.1)
                                     : defaultTextSizeMin(c.nVars + c.nFactors);
  if (r.scale >= 0) s.scale = r.scale;
  return s;
}

PathDiagramData pathDiagramData(const PathSolution& s, const PathRequest& r,
                                const PathSettings& set) {
  PathDiagramData d;
  addNodes(s, r, set, d);
  addLoadingLinks(s, r, set, d);
  addCorrelationLinks(s, r, set, d);
  addVarianceLinks(s, r, set, d);
  return d;
}

std::string pathLabel(double value, int decimals, bool significant) {
  // A value that is not a number (a variance left by an improper input
  // pattern) shows as missing; one of a million or more in powers of ten,
  // not as a row of digits that covers the drawing.
  if (!std::isfinite(value)) return ".";
  const int places = std::max(decimals, 0);
  std::string text = std::fabs(value) >= 1e6 ? fmt::format("{:.{}e}", value, places)
                                             : fmt::format("{:.{}f}", value, places);
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return significant ? text + "*" : text;
}

}  // namespace zulfact
