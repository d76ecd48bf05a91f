// The numbered messages, titles and labels the module uses, by name.
//
// A message is known by its group in the message file
// (src/zul/messages/messages.txt) and its number there; the words and the
// arguments live in that file. Code names the message, never the numbers:
//
//   h.message(msg::kTargetLacksVariable, {name});
//   out.title(Text::message(msg::kInitialSolutionLabel));
//
// To add a message: write its text in messages.txt, then one line here in
// the section of its concern, named after what it says (kOutNeedsRawData),
// not after where it is issued. APIs that take a group-180 number alone
// are given `.number`; the matrix printer's title numbers, which also pick
// the table's fuzz threshold, are named in output/matrix_printer.hpp.
#pragma once

#include <cstdint>

namespace zulfact::msg {

struct Id {
  int32_t group;
  int32_t number;
};

// Message groups of the file.
inline constexpr int32_t kGeneralGroup = 0;   // texts shared by procedures
inline constexpr int32_t kByGroup = 153;      // BY groups
inline constexpr int32_t kThreadGroup = 174;  // the thread pool
inline constexpr int32_t kFactorGroup = 180;  // the FACTOR procedure
inline constexpr int32_t kGraphGroup = 210;   // graphs
inline constexpr int32_t kInputGroup = 230;   // data input
inline constexpr int32_t kEigenGroup = 271;   // the eigen solver

constexpr Id general(int32_t n) { return {kGeneralGroup, n}; }
constexpr Id byGroup(int32_t n) { return {kByGroup, n}; }
constexpr Id thread(int32_t n) { return {kThreadGroup, n}; }
constexpr Id factor(int32_t n) { return {kFactorGroup, n}; }
constexpr Id graph(int32_t n) { return {kGraphGroup, n}; }
constexpr Id input(int32_t n) { return {kInputGroup, n}; }
constexpr Id eigen(int32_t n) { return {kEigenGroup, n}; }

// ---- the statement, its tables and variables ----
inline constexpr Id kNoDataTable = factor(1);
inline constexpr Id kFactorTableLacksVariable = factor(7);   // _TYPE_ or _NAME_
inline constexpr Id kTargetLacksVariable = factor(8);
inline constexpr Id kNoAnalysisVariables = factor(12);
inline constexpr Id kNoIntercept = factor(175);              // NOINT
inline constexpr Id kTargetLacksByVariables = factor(176);
inline constexpr Id kInterceptInVarList = factor(181);
inline constexpr Id kTargetVariableCharacter = factor(182);
inline constexpr Id kTargetGroupMissing = byGroup(5);
inline constexpr Id kArraysTooLarge = factor(91);
inline constexpr Id kFewerEngineThreads = factor(310);

// ---- methods, priors and weights ----
inline constexpr Id kPriorValuesCount = factor(2);
inline constexpr Id kPriorsNotWithMethod = factor(3);
inline constexpr Id kPriorsStatementReplacesOption = factor(1241);
inline constexpr Id kPriorsInputNeedsMatrix = factor(4);
inline constexpr Id kPriorsStatementNotWithMethod = factor(1243);
inline constexpr Id kPriorsStatementInputNeedsMatrix = factor(1244);
inline constexpr Id kWeightNeedsMatrix = factor(5);
inline constexpr Id kStoredSolutionNeeded = factor(6);       // PATTERN, SCORE
inline constexpr Id kUnknownTableType = factor(971);
inline constexpr Id kWeightNotWithMethod = factor(185);
inline constexpr Id kMethodStops = factor(25);
inline constexpr Id kMethodNotAvailable = factor(900);
inline constexpr Id kHeywoodOverridesUltra = factor(299);
inline constexpr Id kStdErrNeedsMl = factor(353);
inline constexpr Id kHypValueZeroTwoSided = factor(354);
inline constexpr Id kHypValueReplacesLimits = factor(1231);
inline constexpr Id kMsaNotWithImage = factor(420);
inline constexpr Id kRandomPriorsSeed = factor(15);
inline constexpr Id kSmcFallback = factor(16);
inline constexpr Id kNoPriorsRow = factor(17);
inline constexpr Id kPriorsFromCommunal = factor(1287);
inline constexpr Id kPriorsNotUsedByStoredSolution = factor(1288);
inline constexpr Id kNoWeightRow = factor(18);
inline constexpr Id kLargestCorrelationsText = factor(160);  // ASMC fallback wording
inline constexpr Id kFeatureNotAvailable = factor(902);
inline constexpr Id kOptionHasNoEffect = factor(905);
inline constexpr Id kInternalFault = factor(903);
inline constexpr Id kOutOfMemory = factor(904);
inline constexpr Id kEngineItemFailed = factor(906);
inline constexpr Id kEngineNotLoaded = factor(907);

// ---- the data pass ----
inline constexpr Id kSingularCorrelations = factor(13);
inline constexpr Id kTooFewObservations = factor(21);
inline constexpr Id kZeroVariance = factor(24);
inline constexpr Id kPartialsUseAllObservations = factor(184);
inline constexpr Id kPartialDivisorNotPositive = factor(1271);
inline constexpr Id kExplainedByPartials = factor(1272);
inline constexpr Id kPartialNotSwept = factor(1273);
inline constexpr Id kParallelNeedsObservations = factor(430);
inline constexpr Id kParallelSkipped = factor(431);
inline constexpr Id kMapSkipped = factor(432);
inline constexpr Id kMapNeedsObservations = factor(433);
inline constexpr Id kParallelClockSeed = factor(434);
inline constexpr Id kSeedIsModulus = factor(435);
inline constexpr Id kParallelNoMemory = factor(436);
inline constexpr Id kNoMapResults = factor(311);
inline constexpr Id kNoParallelResults = factor(312);
inline constexpr Id kCondStdDevTitle = factor(23);
inline constexpr Id kUntypedMatrixReadAsRaw = input(1);
inline constexpr Id kObsOmittedMissing = input(3);
inline constexpr Id kObsOmittedFreqWeight = input(4);
inline constexpr Id kNoObservations = input(5);
inline constexpr Id kNoUsableObservations = input(6);
inline constexpr Id kTooFewUsableObservations = input(7);
inline constexpr Id kVardefDivisorNotPositive = input(8);
inline constexpr Id kValuesTooLarge = input(90);
inline constexpr Id kVarianceTooLarge = input(91);
inline constexpr Id kOnePassShiftTooFar = input(92);
inline constexpr Id kVarianceTooSmall = input(93);
inline constexpr Id kWeightSumTooLarge = input(94);

// ---- stored matrices (arguments: matrix word, library, member, variable,
//      other variable) ----
inline constexpr Id kStoredNoType = input(9);
inline constexpr Id kStoredNoName = input(10);
inline constexpr Id kStoredNRowDiffers = input(11);
inline constexpr Id kStoredSumwgtRowDiffers = input(12);
inline constexpr Id kStoredNameSkipped = input(13);
inline constexpr Id kStoredNameUnusable = input(14);
inline constexpr Id kStoredNoMatrixRows = input(15);
inline constexpr Id kStoredMissingElements = input(16);
inline constexpr Id kStoredNoN = input(17);
inline constexpr Id kStoredRescaled = input(18);
inline constexpr Id kStoredNoTypeMoments = input(19);
inline constexpr Id kStoredTooManyRows = input(21);
inline constexpr Id kStoredDiagonalNotOne = input(22);
inline constexpr Id kStoredNotSymmetric = input(23);
inline constexpr Id kStoredNegativeVariance = input(24);
inline constexpr Id kStoredCorrAboveOne = input(25);
inline constexpr Id kStoredZeroDiagonal = input(26);
inline constexpr Id kStoredNegativeDiagonal = input(27);
inline constexpr Id kStoredAlternativeUsed = input(28);
inline constexpr Id kStoredNoIntercept = input(31);
inline constexpr Id kStoredInterceptNotNumeric = input(32);
inline constexpr Id kStoredNotCharacter = input(33);
inline constexpr Id kStoredNoInterceptSums = input(34);
inline constexpr Id kStoredNoParm = input(35);
inline constexpr Id kStoredNoMeans = input(36);
inline constexpr Id kStoredMeansZero = input(38);
inline constexpr Id kStoredStdOne = input(39);
inline constexpr Id kStoredMissingDiagonal = input(40);
inline constexpr Id kStoredImpossibleElement = input(60);
inline constexpr Id kStoredNBelowOne = input(61);
inline constexpr Id kStoredNotSemidefinite = input(62);
inline constexpr Id kStoredUnknownRowType = input(63);
inline constexpr Id kStoredUnknownRowName = input(64);
inline constexpr Id kStoredMissingCell = input(65);
inline constexpr Id kStoredMissingRow = input(66);
inline constexpr Id kStoredRowRepeated = input(67);
inline constexpr Id kStoredRowGap = input(68);
inline constexpr Id kStoredFactorRepeated = input(69);
inline constexpr Id kStoredNegativeStd = input(70);
inline constexpr Id kStoredSumwgtNotPositive = input(71);
inline constexpr Id kStoredDigitsLost = input(72);
inline constexpr Id kStoredEstNoN = input(73);
inline constexpr Id kStoredZeroStdCorrelated = input(74);
inline constexpr Id kStoredOtherMatrixUsed = input(75);
inline constexpr Id kStoredNRowEmpty = input(76);

// ---- scoring coefficients and residuals ----
inline constexpr Id kScoringHeading = factor(109);
inline constexpr Id kScoringSingular = factor(110);
inline constexpr Id kVarFactorCorrTitle = factor(111);
inline constexpr Id kStdScoreCoefTitle = factor(112);
inline constexpr Id kRmsResidualsText = factor(88);
inline constexpr Id kRmsPartialsText = factor(90);
// The same for two variables: one other each.
inline constexpr Id kRmsResidualsTwoText = factor(1290);
inline constexpr Id kRmsPartialsTwoText = factor(1291);

// ---- the number of factors ----
inline constexpr Id kTwoMapCriteria = factor(77);
inline constexpr Id kParallelOverridesRules = factor(78);
inline constexpr Id kMapOverridesRules = factor(79);
inline constexpr Id kMapAndParallelCriteria = factor(80);
inline constexpr Id kNFactorsBelowMinusOne = factor(1240);
inline constexpr Id kParallelLevelLeavesNone = factor(304);
inline constexpr Id kParallelLevelRange = factor(305);
inline constexpr Id kMapPlotNeedsTwoVariables = factor(308);
inline constexpr Id kMapNeedsTwoVariables = factor(309);
inline constexpr Id kCriterionNotWithMethod = factor(421);
inline constexpr Id kNoEigenvalue = factor(35);
inline constexpr Id kNoDegreesOfFreedom = factor(37);
inline constexpr Id kNoFactorRetained = factor(41);
// "n factors will be retained": the log message, then the listing note.
inline constexpr Id kFactorsRetained = factor(191);
inline constexpr Id kOneFactorRetained = factor(194);
inline constexpr Id kFactorsRetainedNote = factor(36);
inline constexpr Id kOneFactorRetainedNote = factor(188);
inline constexpr Id kParallelFactorsRetained = factor(189);
inline constexpr Id kParallelOneFactorRetained = factor(190);
inline constexpr Id kParallelFactorsRetainedNote = factor(198);
inline constexpr Id kParallelOneFactorRetainedNote = factor(199);
inline constexpr Id kMap2FactorsRetained = factor(289);
inline constexpr Id kMap2OneFactorRetained = factor(290);
inline constexpr Id kMap2FactorsRetainedNote = factor(291);
inline constexpr Id kMap2OneFactorRetainedNote = factor(292);
inline constexpr Id kMap4FactorsRetained = factor(293);
inline constexpr Id kMap4OneFactorRetained = factor(294);
inline constexpr Id kMap4FactorsRetainedNote = factor(295);
inline constexpr Id kMap4OneFactorRetainedNote = factor(296);
// Image component analysis.
inline constexpr Id kSmcTitle = factor(27);
inline constexpr Id kImageCoefSingular = factor(28);
inline constexpr Id kImageUnsweepable = factor(179);
inline constexpr Id kImageEigenCovTitle = factor(113);
inline constexpr Id kImageEigenTitle = factor(187);
// Input factor patterns.
inline constexpr Id kNoFactorRows = factor(31);
inline constexpr Id kTooFewFcorrRows = factor(32);
inline constexpr Id kScoreCorrSingular = factor(57);
// The MAP and parallel-analysis tables.
inline constexpr Id kMissingAveragePartials = factor(297);
inline constexpr Id kParallelAlphaText = factor(302);
inline constexpr Id kMapTitle = factor(960);
inline constexpr Id kMapOnSingular = factor(1223);
inline constexpr Id kParallelTitle = factor(961);
inline constexpr Id kParallelNoneRetainedFootnote = factor(962);
inline constexpr Id kParallelRetainedFootnote = factor(963);

// ---- iterative methods (PRINIT, ALPHA, ULS, ML, GLS) and fit tests ----
inline constexpr Id kHeywoodCase = factor(42);
inline constexpr Id kHeywoodAdvice = factor(55);
inline constexpr Id kNegativePrior = factor(972);
inline constexpr Id kNegativePriorAdvice = factor(973);
inline constexpr Id kPriorsSetToBounds = factor(974);
inline constexpr Id kPassesNotConverged = factor(73);
inline constexpr Id kUnconvergedAboveVariance = factor(1207);
inline constexpr Id kLoadingsScaledToVariance = factor(1221);
inline constexpr Id kUltraHeywoodImproper = factor(1222);
inline constexpr Id kVariancesBeyondPrecision = factor(1261);
inline constexpr Id kConverged = factor(193);
inline constexpr Id kOptimIterationLimit = factor(117);
inline constexpr Id kOptimNoImprovement = factor(118);
inline constexpr Id kOptimRidgeLimit = factor(119);
inline constexpr Id kOptimHessianNotPositive = factor(120);
inline constexpr Id kOptimNotConverged = factor(192);
inline constexpr Id kOptimNotConvergedNote = factor(126);
inline constexpr Id kSingularForLikelihood = factor(124);
inline constexpr Id kEigenvectorsNotPrinted = factor(351);   // some psi <= 0
inline constexpr Id kPreliminaryEigenTitle = factor(114);    // PRINIT, ALPHA
inline constexpr Id kPreliminaryFitEigenTitle = factor(173); // ULS, ML, GLS
inline constexpr Id kAlphaCoefTitle = factor(76);
inline constexpr Id kCanCorrTitle = factor(136);
inline constexpr Id kSignifTestsTitle = factor(127);
inline constexpr Id kFitTestsTooFewObservations = factor(970);
inline constexpr Id kNoCommonFactorTest = factor(128);
inline constexpr Id kSomeCommonFactorAlternative = factor(129);
inline constexpr Id kFactorsSufficientTest = factor(131);
inline constexpr Id kOneFactorSufficientTest = factor(186);
inline constexpr Id kMoreFactorsAlternative = factor(132);
inline constexpr Id kIterHistoryTitle = general(203);
inline constexpr Id kConvergenceStatusTitle = general(300);
inline constexpr Id kFitMeasuresTitle = general(204);
inline constexpr Id kDiscrepancyLabel = general(180);
inline constexpr Id kDiscrepancyAboutZeroLabel = general(181);
inline constexpr Id kAkaikeLabel = general(133);
inline constexpr Id kSchwarzLabel = general(134);
inline constexpr Id kTuckerLewisLabel = general(135);
inline constexpr Id kFitIndicesTitle = factor(981);
inline constexpr Id kRmseaLabel = factor(982);
inline constexpr Id kRmseaLowerLabel = factor(983);
inline constexpr Id kRmseaUpperLabel = factor(984);
inline constexpr Id kCloseFitLabel = factor(985);
inline constexpr Id kCfiLabel = factor(986);
inline constexpr Id kSrmrLabel = factor(987);
inline constexpr Id kFitIndicesChiSquareNote = factor(988);
inline constexpr Id kFitIndicesNoFactor = factor(989);
inline constexpr Id kFitIndicesNoDf = factor(990);
inline constexpr Id kFitIndicesNoMultiplier = factor(991);
// The same three under NOINT, whose crossproducts keep N degrees of freedom.
inline constexpr Id kFitTestsTooFewObservationsAboutZero = factor(1262);
inline constexpr Id kFitIndicesChiSquareNoteAboutZero = factor(1263);
inline constexpr Id kFitIndicesNoMultiplierAboutZero = factor(1264);
// Reasons of the convergence status (group 0; their numbers are kept in
// ProcState::convergenceReason).
inline constexpr Id kReasonConverged = general(75);
inline constexpr Id kReasonNotConverged = general(73);
inline constexpr Id kReasonOptimConverged = general(125);
inline constexpr Id kReasonIterationLimit = general(117);
inline constexpr Id kReasonNoImprovement = general(118);
inline constexpr Id kReasonRidgeLimit = general(119);
inline constexpr Id kReasonHessianNotPositive = general(120);
inline constexpr Id kReasonHeywood = general(42);

// ---- rotations and the solution ----
inline constexpr Id kProcrustesNeedsTarget = factor(115);
inline constexpr Id kPromaxPowerRange = factor(945);
inline constexpr Id kPowerNotUsed = factor(1242);
inline constexpr Id kEmptyFactorDropped = factor(58);
inline constexpr Id kAllFactorsEmpty = factor(59);
inline constexpr Id kHkPowerNotOblique = factor(100);
inline constexpr Id kRotationOneFactor = factor(102);
inline constexpr Id kRotationNoFactor = factor(103);
inline constexpr Id kRotationNotConverged = factor(178);

// ---- standard errors (ML) ----
inline constexpr Id kRotatedErrorsSingular = factor(355);
inline constexpr Id kInformationSingular = factor(356);
inline constexpr Id kFactorCorrErrorsSingular = factor(357);
inline constexpr Id kErrorsNoMemory = factor(358);
inline constexpr Id kErrorsNotForTargetRotation = factor(359);
inline constexpr Id kErrorsNotForNorm = factor(360);
inline constexpr Id kErrorsHeywood = factor(361);
// Titles and footnotes of the confidence limits, tests and coverage.
inline constexpr Id kPatternLimitsTitle = factor(371);
inline constexpr Id kRotatedPatternLimitsTitle = factor(372);
inline constexpr Id kFactorCorrLimitsTitle = factor(373);
inline constexpr Id kStructureLimitsTitle = factor(374);
inline constexpr Id kCoverageDisplaysTitle = factor(375);
inline constexpr Id kCoverageLegendWithValue = factor(376);
inline constexpr Id kCoverageLegend = factor(377);
inline constexpr Id kHypothesisOneSidedFootnote = factor(992);
inline constexpr Id kHypothesisTwoSidedFootnote = factor(993);
inline constexpr Id kRotationNoOptimum = factor(195);
inline constexpr Id kRotationEngineFailed = factor(196);
inline constexpr Id kRotationNoIterations = factor(197);
inline constexpr Id kRotationStalled = factor(301);
inline constexpr Id kRotationMethodUnknown = factor(500);
inline constexpr Id kRotationFactorsCollapse = factor(501);
inline constexpr Id kFactorCorrSingular = factor(53);
inline constexpr Id kTargetTooFewRows = factor(81);
inline constexpr Id kTargetExtraRows = factor(82);
inline constexpr Id kTargetPatternSingular = factor(84);
inline constexpr Id kTargetValueHuge = factor(183);
// The name of each rotation method in its heading (rotate/rotation_codes).
inline constexpr Id kHarrisKaiserName = factor(252);
inline constexpr Id kQuartimaxName = factor(253);
inline constexpr Id kVarimaxName = factor(254);
inline constexpr Id kBiquartimaxName = factor(255);
inline constexpr Id kEquamaxName = factor(256);
inline constexpr Id kParsimaxName = factor(257);
inline constexpr Id kFactorParsimaxName = factor(258);
inline constexpr Id kProcrustesName = factor(260);
inline constexpr Id kPromaxName = factor(261);
inline constexpr Id kQuartiminName = factor(263);
inline constexpr Id kBiquartiminName = factor(264);
inline constexpr Id kCovariminName = factor(265);
inline constexpr Id kObquartimaxName = factor(266);
inline constexpr Id kObvarimaxName = factor(267);
inline constexpr Id kObbiquartimaxName = factor(268);
inline constexpr Id kObequamaxName = factor(269);
inline constexpr Id kObparsimaxName = factor(270);
inline constexpr Id kObfactorParsimaxName = factor(271);
inline constexpr Id kOrthomaxName = factor(272);
inline constexpr Id kObliminName = factor(273);
inline constexpr Id kOrthcfName = factor(274);
inline constexpr Id kOblicfName = factor(275);
inline constexpr Id kOrthgencfName = factor(276);
inline constexpr Id kObligencfName = factor(277);

// ---- output tables and graphs ----
inline constexpr Id kOutNeedsRawData = factor(9);
inline constexpr Id kOutNeedsNFactors = factor(10);
inline constexpr Id kScoreNameClash = factor(352);
inline constexpr Id kResidualNameClash = factor(1205);
inline constexpr Id kOutColumnsClash = factor(1274);
inline constexpr Id kAlphaGivesNoLimits = factor(1206);
inline constexpr Id kTooManyCircles = factor(1232);
inline constexpr Id kOutstatLabel = factor(157);
inline constexpr Id kTypeColumnLabel = factor(158);
inline constexpr Id kNameColumnLabel = factor(159);
inline constexpr Id kTitleShortened = factor(174);
inline constexpr Id kPlotNotWithMethod = factor(422);
inline constexpr Id kPlotsNone = graph(1100);
inline constexpr Id kGraphsNeedPrinting = graph(1102);
inline constexpr Id kGraphicsOff = graph(1104);

// ---- graphs of the report: labels, titles, axis texts ----
inline constexpr Id kGraphNumber = factor(167);
inline constexpr Id kGraphEigenvalue = factor(168);
inline constexpr Id kGraphRefStructure = factor(95);
inline constexpr Id kGraphFactorPattern = factor(96);
inline constexpr Id kGraphRefAxisCorr = factor(97);
inline constexpr Id kGraphFactorCorr = factor(98);
inline constexpr Id kGraphFactorPair = factor(390);
inline constexpr Id kInitPatternTitle = factor(392);
inline constexpr Id kInitRefStructureTitle = factor(393);
inline constexpr Id kPrePatternTitle = factor(394);
inline constexpr Id kPreRefStructureTitle = factor(395);
inline constexpr Id kRotPatternTitle = factor(396);
inline constexpr Id kRotRefStructureTitle = factor(397);
inline constexpr Id kPatternPlotsLabel = factor(407);
inline constexpr Id kRefStructurePlotsLabel = factor(408);
inline constexpr Id kScreePlotLabel = factor(410);
inline constexpr Id kVarianceLabel = factor(411);
inline constexpr Id kScreeAndVarianceLabel = factor(412);
inline constexpr Id kVariancePlotLabel = factor(413);
inline constexpr Id kParallelPlotLabel = graph(1201);
inline constexpr Id kMapPlotLabel = graph(1202);
inline constexpr Id kGraphProportion = graph(1203);
inline constexpr Id kGraphCumulative = graph(1204);
inline constexpr Id kGraphObserved = graph(1205);
inline constexpr Id kGraphMeanSimulated = graph(1206);
inline constexpr Id kGraphCriticalSimulated = graph(1207);
inline constexpr Id kGraphComponentsRemoved = graph(1208);
inline constexpr Id kGraphAveragePartial2 = graph(1209);
inline constexpr Id kGraphAveragePartial4 = graph(1210);
inline constexpr Id kGraphVariable = graph(1211);

// ---- character plots (SCREE, PLOT, PREPLOT, NPLOT=, PLOTCHAR=) ----
inline constexpr Id kScreePlotSetUpFailed = factor(39);
inline constexpr Id kScreePlotCharTitle = factor(40);
inline constexpr Id kScreeNumberAxis = factor(167);
inline constexpr Id kScreeEigenvalueAxis = factor(168);
inline constexpr Id kScreePlotCharLabel = factor(410);
inline constexpr Id kFactorPairTitle = factor(390);
inline constexpr Id kRefStructurePlotLine = factor(95);
inline constexpr Id kPatternPlotLine = factor(96);
inline constexpr Id kRefAxisCorrLine = factor(97);
inline constexpr Id kFactorCorrLine = factor(98);
inline constexpr Id kPlotCountAboveFactors = factor(1200);
inline constexpr Id kPatternPlotNeedsTwoFactors = factor(1201);
inline constexpr Id kPlotCharTooLarge = factor(1202);
inline constexpr Id kPlotCharNegative = factor(1203);

// ---- path diagrams (PATHDIAGRAM, PLOTS=PATHDIAGRAM) ----
inline constexpr Id kPathDiagramNumberedLabel = factor(382);
inline constexpr Id kPathDiagramLabel = factor(383);
inline constexpr Id kPathDiagramsLabel = factor(384);
inline constexpr Id kPathFactorSizeRaised = factor(362);
inline constexpr Id kPathDiagramFailed = factor(363);
inline constexpr Id kPathCorrIntervalFailed = factor(364);
inline constexpr Id kPathLevelTooSmall = factor(367);
inline constexpr Id kPathLabelUnknownName = factor(1204);

// ---- titles, headings and footnotes of the listing ----
inline constexpr Id kOverallMsaTitle = factor(14);
inline constexpr Id kPriorsSmcTitle = factor(19);
inline constexpr Id kPriorsTitle = factor(20);
inline constexpr Id kEigenvalueTotalsTitle = factor(33);
inline constexpr Id kOneEigenvalueTitle = factor(1289);
inline constexpr Id kNoEigenvalueTitle = factor(34);
inline constexpr Id kVarExplainedTitle = factor(44);
inline constexpr Id kVarExplainedIgnoringTitle = factor(45);
inline constexpr Id kVarExplainedEliminatingTitle = factor(46);
inline constexpr Id kFinalCommunWeightsTitle = factor(47);
inline constexpr Id kTotalCommunWeightedTitle = factor(48);
inline constexpr Id kTotalCommunTitle = factor(49);
inline constexpr Id kRoundFlagFootnote = factor(50);
inline constexpr Id kFuzzFootnote = factor(51);
inline constexpr Id kRoundFlagFuzzFootnote = factor(52);
inline constexpr Id kInitialMethodHeading = factor(249);
inline constexpr Id kPrerotationHeading = factor(250);
inline constexpr Id kRotationHeading = factor(251);
inline constexpr Id kInitialSolutionLabel = factor(378);
inline constexpr Id kPrerotatedSolutionLabel = factor(379);
inline constexpr Id kRotatedSolutionLabel = factor(380);
// Titles of the Eigenvalues table: which matrix, reduced or not.
inline constexpr Id kEigenCovTitle = factor(63);
inline constexpr Id kEigenReducedCovTitle = factor(64);
inline constexpr Id kEigenWeightedCorrTitle = factor(65);
inline constexpr Id kEigenWeightedReducedCorrTitle = factor(66);
inline constexpr Id kEigenCorrTitle = factor(67);
inline constexpr Id kEigenReducedCorrTitle = factor(68);
// The heading word of each extraction method.
inline constexpr Id kPrincipalComponentsName = factor(61);
inline constexpr Id kPrincipalFactorsName = factor(62);
inline constexpr Id kPrinitName = factor(69);
inline constexpr Id kAlphaName = factor(70);
inline constexpr Id kFullerName = factor(72);
inline constexpr Id kMlName = factor(121);
inline constexpr Id kUlsName = factor(122);
inline constexpr Id kGlsName = factor(123);
inline constexpr Id kHarrisName = factor(60);
inline constexpr Id kImageName = factor(26);
inline constexpr Id kInputPatternName = factor(29);
inline constexpr Id kInputScoringName = factor(30);

// ---- the eigen solver ----
inline constexpr Id kEigenBisection = eigen(1);
inline constexpr Id kEigenBadArguments = eigen(2);
inline constexpr Id kEigenIncomplete = eigen(3);
inline constexpr Id kEigenSlowVector = eigen(4);
inline constexpr Id kEigenVerySlowVector = eigen(5);
inline constexpr Id kEigenNoVector = eigen(6);
inline constexpr Id kEigenSeveralProblems = eigen(100);

}  // namespace zulfact::msg
