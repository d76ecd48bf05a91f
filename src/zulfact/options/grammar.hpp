// The FACTOR statement language as data (zul/abi_grammar.h): statements,
// keywords with every spelling, value forms, ranges, and the flag bit or
// value slot each one fills in the parsed-statement record. The host's
// parser reads these tables; parseStatement() reads the record back through
// the numbers below.
#pragma once

#include <string>

#include "zul/abi.h"

namespace zulfact {

// The grammar handed to the parse service.
const zul_grammar& factorGrammar();

// The first spelling of a ROTATE= word ("VARIMAX" for kRotVarimax); "" for
// an unknown code.
std::string rotationWord(int code);

// Flag bits of the parsed-statement record (zul_flag_test).
enum GrammarBit : int {
  // procedure statement options without a value
  kBitCov = 0, kBitAll, kBitSimple, kBitCorr, kBitEigenvectors, kBitPrint, kBitMsa,
  kBitScore, kBitScree, kBitTest, kBitWeight, kBitReorder, kBitResiduals, kBitCount,
  kBitUltraHeywood, kBitHeywood, kBitNoint, kBitRound, kBitNocorr, kBitNoprint,
  kBitStderr, kBitNoPromaxNorm, kBitOneTail, kBitTwoTail, kBitPlot, kBitPreplot,
  kBitPlotref, kBitParallel, kBitMap, kBitCover,
  // number-of-factors criteria (NFACTORS=PARALLEL, MAP or MAP2, MAP4)
  kBitParallelCriterion = 30, kBitMapCriterion2 = 31, kBitMapCriterion4 = 32,
  // statements present
  kBitPriorsStatement = 40, kBitPathDiagramStatement = 41, kBitNotSorted = 42,
  // PLOTS=: the option, its requests, its global options
  kBitPlots = 48, kBitPlotScree, kBitPlotLoadings, kBitPlotInitLoadings,
  kBitPlotPreLoadings, kBitPlotMap, kBitPlotMap2, kBitPlotMap4, kBitPlotParallel,
  kBitPlotPathDiagram, kBitPlotAll, kBitPlotNone,
  kBitPlotsFlip = 60, kBitPlotsVector, kBitPlotsPlotref, kBitPlotsCircle, kBitPlotsUnpack,
  kBitScreeUnpack = 65,
  // loadings options of LOADINGS, INITLOADINGS, PRELOADINGS: base + 0 FLIP,
  // + 1 VECTOR, + 2 PLOTREF, + 3 CIRCLE
  kBitLoadingsOptions = 66, kBitInitLoadingsOptions = 70, kBitPreLoadingsOptions = 74,
  // PATHDIAGRAM statement options without a value
  kBitPathNoEstim = 80, kBitPathNoVariance, kBitPathNoErrVar, kBitPathNoFactorVar,
  kBitPathNoTitle,
};

// Value slots of the parsed-statement record.
enum GrammarSlot : int {
  kSlotMethod = 0, kSlotRotate, kSlotPrerotate, kSlotPriors, kSlotNorm, kSlotVardef,
  kSlotNFactors, kSlotMinEigen, kSlotProportion, kSlotFuzz, kSlotFlag, kSlotSingular,
  kSlotConverge, kSlotMaxIter, kSlotRiter, kSlotRconverge, kSlotGamma, kSlotTau,
  kSlotHkPower, kSlotPower, kSlotNPlot, kSlotPlotChar, kSlotRandom, kSlotNObs,
  kSlotHypValue, kSlotAlpha, kSlotCover, kSlotThreads, kSlotParPrefix, kSlotPrefix,
  kSlotParallelAlpha = 30, kSlotParallelNSims, kSlotParallelSeed,
  kSlotPriorsStatement = 33,
  // PLOTS=: NPLOT= and CIRCLE= of the global options and of each loadings plot
  kSlotPlotsNPlot = 40, kSlotPlotsCircle, kSlotLoadingsNPlot, kSlotLoadingsCircle,
  kSlotInitLoadingsNPlot, kSlotInitLoadingsCircle, kSlotPreLoadingsNPlot,
  kSlotPreLoadingsCircle,
  // PATHDIAGRAM statement
  kSlotPathArrange = 50, kSlotPathNodeLabel, kSlotPathAlpha, kSlotPathLabel,
  kSlotPathDiagramLabel, kSlotPathTitle, kSlotPathFactorSize, kSlotPathDecp,
  kSlotPathFuzz, kSlotPathCover, kSlotPathDesignHeight, kSlotPathDesignWidth,
  kSlotPathTextSizeMin, kSlotPathDiagramScale,
};

// VARDEF= word codes (the slot also holds the word itself).
enum VardefCode : int { kVardefDf = 1, kVardefN, kVardefWeight, kVardefWgt, kVardefWdf };
// NODELABEL= codes.
enum NodeLabelCode : int { kNodeLabelVarName = 1, kNodeLabelVarLabel = 2 };

}  // namespace zulfact
