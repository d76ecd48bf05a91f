// ProcState: the record of a procedure step, made of parts by lifetime.
//
// The procedure entry zeroes it at the start of every step; the statement
// parser fills the options and allocates the per-run arrays from the host
// pool; every BY group then overwrites its data and its solution. The same
// field names (`nVars`, `corrMatrix`) are used in comments throughout the
// module. Arrays are host pool blocks owned by the step, never freed one by
// one except the rotation work arrays, which each rotation frees itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "zul/abi.h"

namespace zulfact {

// Method codes (METHOD=).
enum MethodCode : int32_t {
  kMethodPrincipal = 1,
  kMethodUls = 2,
  kMethodPrinit = 3,
  kMethodAlpha = 4,
  kMethodMl = 5,
  kMethodGls = 6,
  kMethodFuller = 7,
  kMethodHarris = 8,
  kMethodImage = 9,
  kMethodPattern = 10,
  kMethodScore = 11,
};

// PRIORS= codes.
enum PriorsCode : int32_t {
  kPriorsNone = 0,
  kPriorsSmc = 1,
  kPriorsInput = 2,
  kPriorsMax = 3,
  kPriorsAsmc = 4,
  kPriorsOne = 5,
  kPriorsRandom = 6,
  kPriorsNumeric = 7,
};

// NORM= codes.
enum NormCode : int32_t { kNormKaiser = 1, kNormWeight = 2, kNormRaw = 3, kNormCov = 4, kNormNone = 8 };

// Rotation codes shared by ROTATE=, PREROTATE= and finalRotation.
enum RotationCode : int32_t {
  kRotQuartimax = 1, kRotVarimax = 2, kRotBiquartimax = 3, kRotEquamax = 4,
  kRotParsimax = 5, kRotFactorParsimax = 6, kRotNone = 10, kRotPromax = 11,
  kRotHk = 12, kRotProcrustes = 13, kRotQuartimin = 20, kRotBiquartimin = 21,
  kRotCovarimin = 22, kRotObquartimax = 23, kRotObvarimax = 24,
  kRotObbiquartimax = 25, kRotObequamax = 26, kRotObparsimax = 27,
  kRotObfactorParsimax = 28, kRotOrthomax = 30, kRotOblimin = 31,
  kRotOrthcf = 32, kRotOblicf = 33, kRotOrthgencf = 34, kRotObligencf = 35,
};

// The six observation counts of the data pass, in this order.
struct ObsCounts {
  double recordsRead;
  double recordsUsed;
  double freqRead;
  double freqUsed;
  double weightsRead;
  double weightsUsed;
};

// In-database scoring of OUT= (filled by its set-up before the first BY
// group, when the input lives in a database): what the scoring statement
// does and what the step's closing note reports.
struct IndbOutput {
  bool used;            // the step processes its input inside the database
  bool echo;            // each generated statement is printed to the log
  bool notes;           // the rows written are noted for each BY group
  double rowsInserted;  // rows written, summed over the BY groups
  char tableName[65];   // the OUT= table, for messages
  int dialect;          // zul_db_dialect of DATA= when it is processed in its database
  bool lowerNames;      // the OUT= table's columns are named in lower case
  char inputRef[520];   // DATA= and the OUT= table being written, as SQL names them
  char outputRef[520];
};

// Keyword options without a value, and derived flags. One bool each: the
// parser copies the statement's flag bits into them (bit numbers are the
// grammar's business).
struct OptionFlags {
  bool covariance;     // COV
  bool all;            // ALL
  bool simple;         // SIMPLE
  bool corr;           // CORR
  bool eigenvectors;   // EIGENVECTORS
  bool print;          // PRINT
  bool msa;            // MSA
  bool score;          // SCORE
  bool scree;          // SCREE
  bool test;           // TEST
  bool weightOption;   // WEIGHT (weighted analysis)
  bool reorder;        // REORDER
  bool residuals;      // RESIDUALS
  bool count;          // COUNT
  bool ultraHeywood;   // ULTRAHEYWOOD
  bool heywood;        // HEYWOOD
  bool noint;          // NOINT
  bool round;          // ROUND
  bool nocorr;         // NOCORR
  bool noprint;        // NOPRINT
  bool stderrRequested;  // STDERR
  bool noPromaxNorm;   // NOPROMAXNORM
  bool oneTail;        // ONETAIL
  bool twoTail;        // TWOTAIL
  bool plot;           // PLOT
  bool preplot;        // PREPLOT
  bool plotref;        // PLOTREF
  bool parallelOption; // PARALLEL (display only)
  bool mapOption;      // MAP (display only)
  // derived
  bool roundMode;          // ROUND, or FLAG= above 0
  bool rotationRequested;
  bool oblique;
  bool rawInput;
  bool noIntercept;
  bool correlationNeeded;
  bool outRequested;
  bool outstatRequested;
  bool targetGiven;
  bool weighted;
  bool shortNames;         // VALIDVARNAME=V6
  bool promaxNorm;
  bool needStdErr;
  bool confidenceDisplay;
  bool testsOneSided;      // HYPVALUE= tests one-sided (parser)
};

// Options of one loadings graph: those of its PLOTS= request joined with
// the global ones of PLOTS=.
struct LoadingsPlotOptions {
  bool flip;         // the first factor of a pair on the vertical axis
  bool vector;       // each variable drawn as a vector from the origin
  bool plotref;      // oblique: the reference structure on rectangular axes
  int32_t nPlot;     // NPLOT= of PLOTS=, 0 when not given
  int32_t nCircles;  // reference circles, at most four
  double circles[4]; // their radii, above 0 and at most 1
};

// Graph requests after the checks of the parser (PLOTS=, PATHDIAGRAM).
struct PlotRequests {
  bool scree;
  bool loadings;      // the rotated pattern
  bool initLoadings;  // the unrotated pattern
  bool preLoadings;   // the prerotated pattern
  bool map2;          // MAP plot of the squared criterion
  bool map4;          // MAP plot of the fourth-power criterion
  bool parallel;
  bool pathDiagram;   // PLOTS=PATHDIAGRAM or a PATHDIAGRAM statement
  bool unpack;        // scree and variance explained as two graphs
  LoadingsPlotOptions initial, prerotated, rotated;
};

// One path diagram as requested: a PATHDIAGRAM statement, or the defaults
// when PLOTS=PATHDIAGRAM stands alone. A number not given is -1; texts
// point into the host's parsed record, which lives as long as the step.
struct PathRequest {
  int32_t arrange;       // 2 flow, 3 grouped flow, 4 grip; 9 or 0 automatic
  int32_t nodeLabel;     // 0 not given, 1 names, 2 variable labels
  double alpha;          // ALPHA=
  double factorSize;     // FACTORSIZE=
  double fuzz;           // FUZZ=
  double cover;          // COVER=
  double scale;          // DIAGRAMSCALE=
  int32_t decp;          // DECP=
  int32_t designHeight;  // DESIGNHEIGHT=
  int32_t designWidth;   // DESIGNWIDTH=
  int32_t textSizeMin;   // TEXTSIZEMIN=
  bool noEstim, noVariance, noErrVar, noFactorVar, noTitle;
  const zul_pair* labels;  // LABEL= pairs
  int32_t nLabels;
  const char* diagramLabel;  // DIAGRAMLABEL=, null when not given
  const char* title;         // TITLE=, null when not given
};

// The step's record, in parts by lifetime. ProcState is their
// composition, the options read through `ps.opt`; a function that needs
// one part takes that part (`const StepOptions&`, `const GroupData&`).
//
// Keep every part a plain aggregate: the record is zeroed part by part
// with memset (ProcState::clearRecord). Add a field to the part whose lifetime it has.

// The step's options: written by the statement parser, then only read.
// Nothing after parsing changes them; what a BY group decides for itself
// (the priors it ended up with, whether its parallel analysis ran) lives
// in GroupData or Solution.
struct StepOptions {
  // ---- tables (parser) ----
  zul_table* mainInput;
  zul_table* indbInput;     // in-database input, used in place of mainInput
  zul_table* outTable;
  zul_table* outstatTable;
  zul_table* targetTable;
  int32_t bySyncMode;       // 0..2
  char inputType[9];        // 8 characters, blank padded
  int32_t typeVarNumber;    // _TYPE_, 0 when absent
  int32_t nameVarNumber;    // _NAME_
  int32_t interceptVarNumber;
  const zul_parsed* parsed; // host-owned parsed statement

  // ---- counts ----
  int32_t nBy;
  int32_t nVars;
  int32_t nPartial;
  int32_t nAll;
  int32_t* varNumbers;      // nAll variable numbers in DATA=, analysis order
  int32_t freqVarNumber;    // 0 when no FREQ
  int32_t weightVarNumber;  // 0 when no WEIGHT

  // ---- options ----
  OptionFlags flags;
  int32_t method;
  int32_t priorsMethod;     // PRIORS=; a group's own is Solution::priorsUsed
  double* priorValues;      // nVars values of a PRIORS statement (NUMERIC): every
                            // group starts from them, whatever an earlier one left
  int32_t norm;
  int32_t nFactorsRequested;
  double minEigen;
  double proportion;
  int32_t parallelCriterion;  // parallel analysis decides the factor count
  int32_t mapVariant;       // 0; 2 or 4: MAP (squared or 4th power) decides it
  int32_t parallelRun;      // asked for; a group's own is GroupData::groupParallel
  int32_t mapRun;           // asked for; a group's own is GroupData::groupMap
  double parallelLevel;
  int32_t nSims;
  int32_t parallelSeed;
  double convergence;
  int32_t maxIter;
  double singularity;
  int32_t rotationMaxIter;
  double rotationConvergence;
  int32_t prerotation;
  double prerotationParams[4];
  int32_t prerotationParamCount;
  int32_t* rotationList;
  int32_t rotationListLength;  // entries, NONE included
  int32_t rotationCount;       // entries other than NONE
  double* rotationParams;      // values ...
  int32_t* rotationParamPositions;  // ... with the 1-based list position
  int32_t rotationParamCount;
  int32_t finalRotation;
  double gamma, tau, power, hkPower;
  int32_t threadCount;
  bool threadsGiven;
  double nObsOption;
  double fuzz;
  double flagThreshold;
  double hypValue;
  double stdErrLevel;       // ALPHA=
  double coverValue;        // COVER=
  int32_t plotCount;        // NPLOT=
  int32_t plotNameLength;   // PLOTCHAR=
  char vardef[9];           // "DF" blank padded
  char parPrefix[33];
  int32_t parPrefixLength;
  char scorePrefix[33];
  int32_t scorePrefixLength;
  char* varNames;           // nAll names of 33 bytes (NUL terminated)
  char* varLabels;          // nAll labels of 257 bytes, "" when none
  int32_t longestName;
  int32_t longestLabel;
  int32_t nInputVars;       // variables of DATA= (parser, with OUT=)
  int32_t nameWidth;        // width of the OUTSTAT= _NAME_ column (parser)
  int32_t nScoreColumns;    // score columns declared in OUT= (parser)
  PlotRequests plots;       // parser
  PathRequest* pathRequests;  // parser: one at least when plots.pathDiagram
  int32_t nPathRequests;
};

// A BY group's data: written by the data pass (arrays allocated once by
// the parser), then only read until the next group's pass.
struct GroupData {
  double* means;            // nAll
  double* stdDevs;          // nAll
  double* rawMeans;         // nAll, OUT= with partial variables
  double* rawStdDevs;
  double* residualScale;    // nVars, OUT= with partial variables: sqrt(1 - R^2)
                            // of each analysis variable on the partial ones
  double* groupCorr;        // R of the group (packed order nVars): every later
                            // step reads R here, none writes it
  double nObs;
  double sumWeights;
  double varianceDivisor;
  double nPartialUsed;
  ObsCounts obsCounts;
  int32_t readThreads;      // threads the data pass read with (1: none beside)
  int32_t* varOrder;        // nVars, REORDER
  bool groupParallel;       // parallel analysis / MAP results are this group's
  bool groupMap;            // (the options, unless too few observations)
};

// The solution of a BY group: what the priors, the extraction, the
// rotations and the scoring compute. Arrays are allocated once by the
// parser; each group overwrites them.
struct Solution {
  int32_t factorsRetained;  // negative: group not analysed
  int32_t nFactors;         // factors of the solution in hand
  int32_t priorsUsed;       // the group's priors (ONE when its PRIORS row is missing)

  // ---- priors and extraction ----
  // nVars. PRINIT and ALPHA keep each pass's starting values here, so
  // after them it holds the last pass's estimates: what their OUTSTAT=
  // PRIORS row carries (stored tables rely on it).
  double* priorCommunalities;
  double* communalities;       // nVars
  double* varWeights;          // nVars
  double* eigenvalues;         // nVars
  double* loadings;            // nVars * nFactors (nVars^2 for ML, ULS, GLS)
  double minEigenUsed;
  double proportionUsed;
  int32_t parallelFactors;
  int32_t mapFactors2;
  int32_t mapFactors4;
  bool screeDone;
  bool plotNotesGiven;         // the pattern plots' notes of this group
  bool graphNotesGiven;        // the loadings graphs' NPLOT= note of this group
  bool singularPriors;         // SMC fell back to 1.0: R is singular at SINGULAR=
  double communalTotal;
  int32_t obliqueCount;        // above 0 when the current solution is oblique
  // Iterative methods (PRINIT, ALPHA, ULS, ML, GLS):
  int32_t heywoodStatus;       // 1 none above 1, 0 set to 1, -1 found and not allowed
  int32_t convergenceStatus;   // 0 converged, 1 failed, 3 not converged
  int32_t convergenceReason;   // message number of group 0 that says why

  // ---- parallel analysis and MAP results ----
  double* parallelMean;        // nVars
  double* parallelCritical;
  double* observedEigen;
  double* mapSquared;          // nVars
  double* mapFourth;

  // ---- rotation ----
  double* transform;           // nFactors^2
  double* factorCorr;          // packed nFactors
  double* structure;           // nVars * nFactors
  double* refStructure;
  double* refAxisCorr;         // packed nFactors, identity at parse time
  double* factorVector;        // factor scales of the oblique solution
  bool rotated;                // the solution in hand was rotated (oblique step)
  bool targetEntered;          // a TARGET= table without BY groups was entered
  bool unknownTypeNoted;       // a stored row with an unknown _TYPE_ was quoted
  bool communalPriorsNoted;    // PRIORS=INPUT said it reads a COMMUNAL row
  double* scoreCoefficients;   // nVars * nFactors, when scores are kept
  bool scoresReady;            // scoreCoefficients hold the current solution's
  bool groupRowsCopied;        // the BY group's rows went to OUT= (scored or not)
  // The numbers of variables and factors, d vec(pattern) / d vec(unrotated
  // pattern) of a rotated solution ((nVars * nFactors)^2) and the pattern
  // it belongs to (nVars * nFactors): what a PROMAX after it needs for its
  // standard errors. Null when none; see rotate/rotated_errors.hpp.
  double* patternJacobian;
  // Standard errors of the current solution, left by the step that
  // computes them (null when there are none): the pattern and structure
  // (nVars * nFactors) and the factor correlations (packed nFactors).
  double* stdErrPattern;
  double* stdErrStructure;
  double* stdErrFactorCorr;
  // Kept by the unrotated ML standard-error step for the rotations of the
  // same BY group (null when none, released when the next group starts):
  // the covariance of vec(Lambda), loading (i, k) at index k*nVars + i,
  // FULL (nVars*m)^2 column-major and already divided by the variance
  // divisor; the unrotated pattern (nVars * m) it belongs to; and m.
  // See inference/unrotated_errors.hpp.
  double* unrotatedCov;
  double* unrotatedCopy;
  int32_t unrotatedCovFactors;
};

// Scratch of the numeric steps: no value here outlives the step that
// wrote it.
struct WorkArrays {
  double* corrMatrix;       // packed order nAll: the data pass's crossproducts and
                            // R; then the reduced matrix the extraction works on
  double* scaleVector;      // max(nAll, 10 * nVars)
  char* sweepFlags;         // nAll characters '0'/'1'
  double* rotWork[3];       // released before each rotation
};

// What the step talks to and reports through, and its outcome.
struct OutputContext {
  int32_t completionCode;
  int32_t maxFactorsRetained;
  int32_t seed;             // the random stream, advanced by RANDOM priors
  double missing;           // the host's missing double
  void* factorEngine;       // zul_engine* (zul/abi_engine.h)
  void* engineExtension;    // zul_extension*
  void* sink;               // output-table sink object; null with NOPRINT
  bool graphicsEnabled;
  int32_t factorNameWidth;  // the factors' names in the tables: the parser's,
  char* factorNames;        // or an input solution's (factorNameWidth * nFactors)
  IndbOutput indb;          // in-database scoring
  bool outScored;           // some BY group's OUT= rows hold scores
  zul_workfile workFile;    // host work file, 256-byte descriptor
};

// Everything after the parser reads the options through `opt`, a const
// view: the compiler refuses a write. The parser works on a StepRecord,
// whose `opt` is writable. Both start zeroed, part by part (the entry
// once per step; the tests per case through clearRecord).
struct ProcState : GroupData, Solution, WorkArrays, OutputContext {
  ProcState() : opt(storage()) { clearRecord(); }
  ProcState(const ProcState&) = delete;
  ProcState& operator=(const ProcState&) = delete;

  const StepOptions& opt;

  // Every part back to zero, as at the start of a step.
  void clearRecord();

  // The column types each in-database scoring probe found, by its
  // statement: asked once per step, as the input table and its columns do
  // not change within a step (zulfact/indb/indb_score.cpp).
  std::map<std::string, std::vector<int32_t>> indbProbes;

 protected:
  StepOptions& storage() { return options_; }  // byvalue-options: held

 private:
  // byvalue-options: storage
  StepOptions options_;
};

// The record as the statement parser sees it: the same record, with the
// options writable.
struct StepRecord : ProcState {
  StepRecord() : opt(storage()) {}
  StepOptions& opt;
};

inline void ProcState::clearRecord() {
  // Each part is a plain aggregate; the references above stay as they are.
  std::memset(static_cast<void*>(&storage()), 0, sizeof(StepOptions));
  std::memset(static_cast<void*>(static_cast<GroupData*>(this)), 0, sizeof(GroupData));
  std::memset(static_cast<void*>(static_cast<Solution*>(this)), 0, sizeof(Solution));
  std::memset(static_cast<void*>(static_cast<WorkArrays*>(this)), 0, sizeof(WorkArrays));
  std::memset(static_cast<void*>(static_cast<OutputContext*>(this)), 0, sizeof(OutputContext));
  indbProbes.clear();
}

// Whether the solution's variance is weighted: a solution read from the
// input table (METHOD=PATTERN, SCORE) has no weights.
inline bool weightedSolution(const StepOptions& o) {
  return o.flags.weighted && o.method != kMethodPattern && o.method != kMethodScore;
}

}  // namespace zulfact
