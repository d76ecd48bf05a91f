#include "zulfact/output/path_data.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zul/abi.h"
#include "zulfact/host/host.hpp"
#include "zulfact/output/path_diagram.hpp"

namespace zulfact {
namespace {

PathRequest noRequest() {
  PathRequest r{};
  r.alpha = r.factorSize = r.fuzz = r.cover = r.scale = -1;
  r.decp = r.designHeight = r.designWidth = r.textSizeMin = -1;
  return r;
}

PathContext context(int nVars, int nFactors) {
  PathContext c;
  c.nVars = nVars;
  c.nFactors = nFactors;
  return c;
}

TEST(PathSettings, DefaultsFollowTheVariableCountAndArrangement) {
  PathRequest r = noRequest();
  struct Case {
    int arrange, nVars;
    const char* arrangement;
    int height, width;
  } cases[] = {{0, 14, "flow", 800, 450},   {9, 15, "grip", 600, 600},
               {3, 4, "groupedflow", 500, 720}, {4, 4, "grip", 600, 600},
               {2, 40, "flow", 800, 450}};
  for (const Case& c : cases) {
    r.arrange = c.arrange;
    const PathSettings s = pathSettings(r, context(c.nVars, 2));
    EXPECT_EQ(s.arrangement, c.arrangement) << c.arrange << " " << c.nVars;
    EXPECT_EQ(s.designHeight, c.height);
    EXPECT_EQ(s.designWidth, c.width);
  }
  r.designHeight = 300;
  r.designWidth = 200;
  const PathSettings s = pathSettings(r, context(4, 2));
  EXPECT_EQ(s.designHeight, 300);
  EXPECT_EQ(s.designWidth, 200);
  EXPECT_EQ(s.scale, 10);
  EXPECT_EQ(s.decimals, 2);
}

// (The factor size of 1.5, raised to 0.2 from below, and ALPHA=0 testing
// nothing: the path_diagram program.)
TEST(PathSettings, FactorSizeFuzzAndLevel) {
  PathRequest r = noRequest();
  PathContext c = context(4, 2);
  PathSettings s = pathSettings(r, c);
  EXPECT_EQ(s.fuzz, 0.3);
  EXPECT_EQ(s.level, 0.05);
  EXPECT_FALSE(s.tested);  // no standard errors: nothing is tested
  EXPECT_FALSE(s.levelTooSmall);
  // The statement's FUZZ= and ALPHA= stand in for the request's.
  c.stepFuzz = 0.4;
  c.stepLevel = 0.1;
  c.mlWithErrors = true;
  s = pathSettings(noRequest(), c);
  EXPECT_EQ(s.fuzz, 0.4);
  EXPECT_EQ(s.level, 0.1);
  EXPECT_TRUE(s.tested);
  EXPECT_NEAR(s.critical, 1.6448536, 1e-6);
  r = noRequest();
  r.fuzz = 0;
  r.alpha = 1;  // not a percentage: a level of 1 tests at z = 0
  EXPECT_EQ(pathSettings(r, c).fuzz, 0);
  EXPECT_EQ(pathSettings(r, c).level, 1);
  r.alpha = 5;  // above 1: a percentage
  EXPECT_EQ(pathSettings(r, c).level, 0.05);
}

TEST(PathSettings, TextSizeFallsWithTheNodeCount) {
  struct Case {
    int n;
    double size;
  } cases[] = {{70, 0.5}, {69, 0.55}, {60, 0.55}, {59, 0.6}, {50, 0.6},
               {49, 0.65}, {40, 0.65}, {39, 0.7}, {16, 0.8}, {9, 0.85}, {3, 0.85}};
  for (const Case& c : cases) EXPECT_NEAR(defaultTextSizeMin(c.n), c.size, 1e-12) << c.n;
  PathRequest r = noRequest();
  r.textSizeMin = 4;  // tenths of the normal size
  EXPECT_NEAR(pathSettings(r, context(60, 5)).textSizeMin, 0.4, 1e-12);
  r.textSizeMin = 40;
  EXPECT_NEAR(pathSettings(r, context(60, 5)).textSizeMin, 4.0, 1e-12);
}

TEST(PathSettings, LabelsRoundWithoutNegativeZero) {
  EXPECT_EQ(pathLabel(0.7345, 2, false), "0.73");
  EXPECT_EQ(pathLabel(-0.7356, 3, true), "-0.736*");
  EXPECT_EQ(pathLabel(-0.004, 2, false), "0.00");
  EXPECT_EQ(pathLabel(0.6, 0, false), "1");
  EXPECT_EQ(pathLabel(std::nan(""), 2, false), ".");
  EXPECT_EQ(pathLabel(-HUGE_VAL, 2, false), ".");
  EXPECT_EQ(pathLabel(1e300, 2, true), "1.00e+300*");
}

// Two factors, three variables: x loads on both, y on the first, z on the
// second; the factors correlate 0.3.
struct Fixture {
  double loadings[6] = {0.8, 0.7, 0.1, 0.35, 0.2, -0.9};
  double h2[3] = {0.7625, 0.53, 0.82};
  double phi[3] = {1, 0.3, 1};
  double sePattern[6] = {0.1, 0.1, 0.1, 0.4, 0.1, 0.1};  // x on Factor2: 0.4
  double sePhi[3] = {0, 0.05, 0};
  PathSolution solution() {
    PathSolution s;
    s.nVars = 3;
    s.nFactors = 2;
    s.loadings = loadings;
    s.communalities = h2;
    s.varNames = {"x", "y", "z"};
    s.varLabels = {"Ex", "", "Zed"};
    s.factorNames = {"Factor1", "Factor2"};
    return s;
  }
};

// (Node labels from LABEL=, variable labels and names: the path_diagram
// program.)
TEST(PathDiagramData, NodesAndLinksOfAnOrthogonalSolution) {
  Fixture f;
  PathRequest r = noRequest();
  const PathSettings set = pathSettings(r, context(3, 2));
  const PathDiagramData d = pathDiagramData(f.solution(), r, set);
  ASSERT_EQ(d.nodes.size(), 5u);
  EXPECT_EQ(d.nodes[4].priority, 2);  // z loads most on the second factor
  // Loadings above 0.3: x on both, y on the first, z on the second (0.2
  // and 0.1 fuzzed); then 2 factor and 3 error variances.
  ASSERT_EQ(d.links.size(), 4u + 5u);
  EXPECT_EQ(d.links[0].from, 1);
  EXPECT_EQ(d.links[0].to, 3);
  EXPECT_EQ(d.links[0].dir, "Link");
  EXPECT_EQ(d.links[0].label, "0.80");
  EXPECT_EQ(d.links[0].priority, 1);
  EXPECT_EQ(d.links[1].from, 2);
  EXPECT_EQ(d.links[1].priority, 2);  // not x's largest loading
  EXPECT_EQ(d.links[3].label, "-0.90");
  EXPECT_TRUE(zul_is_missing(d.links[3].se));
  EXPECT_EQ(d.links[4].from, d.links[4].to);
  EXPECT_EQ(d.links[4].label, "1.00");
  EXPECT_EQ(d.links[8].to, 5);
  EXPECT_EQ(d.links[8].label, "0.18");
  EXPECT_EQ(d.links[8].dir, "Both");
  for (size_t k = 0; k < d.links.size(); ++k) EXPECT_EQ(d.links[k].id, static_cast<int>(k) + 1);
}

// (NOVARIANCE, and NOESTIM on the loadings: the path_diagram program.)
TEST(PathDiagramData, VarianceAndEstimateOptions) {
  Fixture f;
  PathRequest r = noRequest();
  r.noEstim = true;
  r.noErrVar = true;
  PathDiagramData d = pathDiagramData(f.solution(), r, pathSettings(r, context(3, 2)));
  ASSERT_EQ(d.links.size(), 4u + 2u);
  for (const PathLink& l : d.links) EXPECT_EQ(l.label, "");
  r = noRequest();
  r.noFactorVar = true;
  EXPECT_EQ(pathDiagramData(f.solution(), r, pathSettings(r, context(3, 2))).links.size(), 7u);
}

TEST(PathDiagramData, StarsOnlyForPathsSignificantAtTheLevel) {
  Fixture f;
  PathSolution s = f.solution();
  s.sePattern = f.sePattern;
  s.factorCorr = f.phi;
  s.seFactorCorr = f.sePhi;
  PathContext c = context(3, 2);
  c.mlWithErrors = true;
  PathRequest r = noRequest();
  r.noVariance = true;
  PathDiagramData d = pathDiagramData(s, r, pathSettings(r, c));
  ASSERT_EQ(d.links.size(), 5u);
  EXPECT_EQ(d.links[0].label, "0.80*");
  EXPECT_EQ(d.links[1].label, "0.35");  // 0.35 / 0.4 is below 1.96
  EXPECT_EQ(d.links[1].se, 0.4);
  EXPECT_EQ(d.links[3].label, "-0.90*");
  EXPECT_EQ(d.links[4].dir, "Both");
  EXPECT_EQ(d.links[4].label, "0.30*");
  EXPECT_FALSE(d.intervalFailed);
  // COVER=0.7: a path is starred when significantly beyond +-0.7 only.
  r.cover = 0.7;
  d = pathDiagramData(s, r, pathSettings(r, c));
  EXPECT_EQ(d.links[0].label, "0.80");
  EXPECT_EQ(d.links[2].label, "0.70");
  // A correlation without a usable standard error cannot have its
  // interval: marked -1.
  f.sePhi[1] = 0;
  r.cover = -1;
  d = pathDiagramData(s, r, pathSettings(r, c));
  EXPECT_TRUE(d.intervalFailed);
  EXPECT_EQ(d.links[4].se, -1);
  EXPECT_EQ(d.links[4].label, "0.30");
  // Untested (level too small): no interval is marked as failed.
  r.alpha = 0;
  EXPECT_FALSE(pathDiagramData(s, r, pathSettings(r, c)).intervalFailed);
}

// A report that accepts tables but cannot make graphs: every request to
// create one succeeds without a graph, as a sink without graphics answers.
int32_t noGraphs(void*, int32_t, int32_t, zul_attr*) { return 0; }

// Message 180/363 says a diagram could not be drawn: once when there is
// no solution, once per request when the report makes no graph.
TEST(PathDiagrams, ADiagramThatCannotBeDrawnIsReported) {
  zul_test::FakeHost fake;
  fake.recordMessages();
  fake.provide(ZUL_SINK_DISPATCH, &noGraphs);
  host().attach(fake.vector(), nullptr);
  StepRecord ps;
  std::vector<PathRequest> requests(2, noRequest());
  std::vector<char> names(2 * 33, 0);
  names[0] = 'a';
  names[33] = 'b';
  std::vector<double> loadings = {0.8, 0.6}, h2 = {0.64, 0.36};
  ps.opt.nVars = ps.opt.nAll = 2;
  ps.opt.varNames = names.data();
  ps.opt.plots.pathDiagram = true;
  ps.opt.pathRequests = requests.data();
  ps.opt.nPathRequests = 2;
  ps.opt.fuzz = ps.opt.stdErrLevel = ps.opt.coverValue = zul_missing();
  int sinkObject = 0;
  ps.sink = &sinkObject;
  ps.graphicsEnabled = true;

  pathDiagrams(ps);  // no factors retained
  EXPECT_EQ(fake.messageTexts(), std::vector<std::string>{"180/363"});

  fake.messages.clear();
  ps.factorsRetained = ps.nFactors = 1;
  ps.loadings = loadings.data();
  ps.communalities = h2.data();
  pathDiagrams(ps);
  EXPECT_EQ(fake.messageTexts(), (std::vector<std::string>{"180/363", "180/363"}));
  host().attach(nullptr, nullptr);
}

}  // namespace
}  // namespace zulfact
