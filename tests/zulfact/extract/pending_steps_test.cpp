// What a pattern plot or loadings graph will draw: the section named by the
// solution and its obliqueness, and the factors NPLOT= lets through.
#include "zulfact/extract/pending_steps.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace zulfact {
namespace {

TEST(PatternPlotRequest, SectionByTheSolutionAndItsAxesFactorsByNplot) {
  StepRecord ps;
  ps.clearRecord();
  ps.factorsRetained = 3;
  struct Case {
    int index;
    bool oblique;
    const char* section;
  } cases[] = {
      {kInitialSolution, false, "InitPatternPlot"},
      {kInitialSolution, true, "InitRefStructurePlot"},
      {kPrerotatedSolution, false, "PrePatternPlot"},
      {kPrerotatedSolution, true, "PreRefStructurePlot"},
      {5, false, "PatternPlot"},  // a rotation's own index
      {5, true, "RefStructurePlot"},
  };
  for (const Case& c : cases) {
    PatternPlotRequest r = patternPlotRequest(ps, c.oblique, c.index);
    EXPECT_EQ(r.section, c.section) << c.index << " " << c.oblique;
    EXPECT_EQ(r.solutionIndex, c.index);
    EXPECT_EQ(r.oblique, c.oblique);
  }
  // NPLOT= bounds the factors plotted.
  EXPECT_EQ(patternPlotRequest(ps, false, kInitialSolution).nFactorsPlotted, 3);  // no NPLOT=
  ps.opt.plotCount = 2;
  EXPECT_EQ(patternPlotRequest(ps, false, kInitialSolution).nFactorsPlotted, 2);
  ps.opt.plotCount = 32767;
  ps.opt.flags.plotref = true;
  PatternPlotRequest r = patternPlotRequest(ps, false, kInitialSolution);
  EXPECT_EQ(r.nFactorsPlotted, 3);
  EXPECT_TRUE(r.plotref);
}

}  // namespace
}  // namespace zulfact
