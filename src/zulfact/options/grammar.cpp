// The FACTOR statement language as data. Each table lists spellings with
// the main one first; '$' marks a spelling that is accepted but not
// offered in messages.
#include "zulfact/options/grammar.hpp"

#include <iterator>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

namespace {

constexpr int kMin = ZUL_CHECK_MIN;
constexpr int kMax = ZUL_CHECK_MAX;
constexpr int kRange = ZUL_CHECK_MIN | ZUL_CHECK_MAX;

template <size_t N>
constexpr int32_t count(const zul_word (&)[N]) {
  return static_cast<int32_t>(N);
}
template <size_t N>
constexpr int32_t count(const zul_keyword (&)[N]) {
  return static_cast<int32_t>(N);
}

// A word that stores its code in the option's slot.
constexpr zul_word code(const char* spellings, double value, int maxParams = 0) {
  return zul_word{spellings, value, -1, 1, maxParams, 0, nullptr};
}
// A word that only sets a flag bit (and may take options in parentheses).
constexpr zul_word bit(const char* spellings, int flagBit, int32_t nOptions = 0,
                       const zul_keyword* options = nullptr) {
  return zul_word{spellings, 0, flagBit, 0, 0, nOptions, options};
}

constexpr zul_keyword flag(const char* spellings, int flagBit) {
  return zul_keyword{spellings, ZUL_VALUE_FLAG, flagBit, -1, 0, 0, 0, 0, nullptr, 0, nullptr};
}
constexpr zul_keyword number(const char* spellings, int slot, int check = 0, double min = 0,
                             double max = 0) {
  return zul_keyword{spellings, ZUL_VALUE_NUMBER, -1, slot, check, min, max, 0, nullptr, 0, nullptr};
}
constexpr zul_keyword integer(const char* spellings, int slot, int check = 0, double min = 0,
                              double max = 0) {
  return zul_keyword{spellings, ZUL_VALUE_INTEGER, -1, slot, check, min, max, 0, nullptr, 0, nullptr};
}
constexpr zul_keyword table(const char* spellings, int ds) {
  return zul_keyword{spellings, ZUL_VALUE_TABLE, -1, ds, 0, 0, 0, 0, nullptr, 0, nullptr};
}
constexpr zul_keyword name(const char* spellings, int slot, int kind = ZUL_VALUE_NAME) {
  return zul_keyword{spellings, kind, -1, slot, 0, 0, 0, 0, nullptr, 0, nullptr};
}
template <size_t N>
constexpr zul_keyword words(const char* spellings, int slot, const zul_word (&w)[N]) {
  return zul_keyword{spellings, ZUL_VALUE_WORD, -1, slot, 0, 0, 0, count(w), w, 0, nullptr};
}

// ---- code tables ----

const zul_word kMethodWords[] = {
    code("PRINCIPAL|PRIN|P", kMethodPrincipal), code("ULS|U", kMethodUls),
    code("PRINIT", kMethodPrinit),              code("ALPHA|A", kMethodAlpha),
    code("ML|M", kMethodMl),                    code("GLS", kMethodGls),
    code("FULLER$|F$", kMethodFuller),          code("HARRIS|H", kMethodHarris),
    code("IMAGE|I", kMethodImage),              code("PATTERN", kMethodPattern),
    code("SCORE", kMethodScore),
};

const zul_word kPriorsWords[] = {
    code("SMC|S", kPriorsSmc), code("INPUT|I", kPriorsInput), code("MAX|M", kPriorsMax),
    code("ASMC|A", kPriorsAsmc), code("ONE|O", kPriorsOne), code("RANDOM|R", kPriorsRandom),
};

const zul_word kNormWords[] = {
    code("KAISER", kNormKaiser), code("WEIGHT", kNormWeight), code("RAW", kNormRaw),
    code("COV", kNormCov),       code("NONE", kNormNone),
};

const zul_word kVardefWords[] = {
    code("DF", kVardefDf),   code("N", kVardefN),     code("WEIGHT", kVardefWeight),
    code("WGT", kVardefWgt), code("WDF", kVardefWdf),
};

// Rotations with the number of parameters each may take in parentheses.
#define ZUL_COMMON_ROTATIONS                                                              \
  code("QUARTIMAX|QMAX|Q", kRotQuartimax), code("VARIMAX|V", kRotVarimax),                \
      code("BIQUARTIMAX|BIQMAX", kRotBiquartimax), code("EQUAMAX|E", kRotEquamax),        \
      code("PARSIMAX|PA", kRotParsimax), code("FACTORPARSIMAX|FPA", kRotFactorParsimax),  \
      code("NONE|N", kRotNone), code("HK|H", kRotHk, 1),                                  \
      code("QUARTIMIN|QMIN", kRotQuartimin), code("BIQUARTIMIN|BIQMIN", kRotBiquartimin), \
      code("COVARIMIN|CVMIN", kRotCovarimin), code("OBQUARTIMAX|OQMAX", kRotObquartimax), \
      code("OBVARIMAX|OV", kRotObvarimax), code("OBBIQUARTIMAX|OBIQMAX", kRotObbiquartimax), \
      code("OBEQUAMAX|OE", kRotObequamax), code("OBPARSIMAX|OPA", kRotObparsimax),        \
      code("OBFACTORPARSIMAX|OFPA", kRotObfactorParsimax),                                \
      code("ORTHOMAX|ORMAX", kRotOrthomax, 1), code("OBLIMIN|OBMIN", kRotOblimin, 1),     \
      code("ORTHCF|ORCF", kRotOrthcf, 2), code("OBLICF|OBCF", kRotOblicf, 2),             \
      code("ORTHGENCF|ORGENCF", kRotOrthgencf, 4), code("OBLIGENCF|OBGENCF", kRotObligencf, 4)

const zul_word kRotateWords[] = {
    ZUL_COMMON_ROTATIONS,
    code("PROMAX|P", kRotPromax, 1),
    code("PROCRUSTES", kRotProcrustes),
};
// PROMAX and PROCRUSTES rotate a rotated solution: not a prerotation.
const zul_word kPrerotateWords[] = {ZUL_COMMON_ROTATIONS};
#undef ZUL_COMMON_ROTATIONS

// ---- NFACTORS= and the parallel analysis ----

const zul_keyword kParallelOptions[] = {
    number("ALPHA", kSlotParallelAlpha, kRange, 0, 1),
    integer("NSIMS", kSlotParallelNSims, kMin, 200),
    integer("SEED", kSlotParallelSeed, kMin, 1),
};

const zul_word kNFactorsWords[] = {
    bit("PARALLEL", kBitParallelCriterion, count(kParallelOptions), kParallelOptions),
    bit("MAP", kBitMapCriterion2),
    bit("MAP2", kBitMapCriterion2),
    bit("MAP4", kBitMapCriterion4),
};

// ---- PLOTS= ----

constexpr zul_keyword circle(int flagBit, int slot) {
  return zul_keyword{"CIRCLE|CIRCLES", ZUL_VALUE_NUMBERS, flagBit, slot,
                     kRange | ZUL_CHECK_OPTIONAL_VALUE, 0, 100, 0, nullptr, 0, nullptr};
}

const zul_keyword kPlotsGlobalOptions[] = {
    flag("FLIP", kBitPlotsFlip),
    flag("VECTOR", kBitPlotsVector),
    flag("PLOTREF", kBitPlotsPlotref),
    integer("NPLOT|NPLOTS|NP", kSlotPlotsNPlot, kRange, 2, 32767),
    circle(kBitPlotsCircle, kSlotPlotsCircle),
    flag("UNPACK|UNPACKPANEL", kBitPlotsUnpack),
};

#define ZUL_LOADINGS_OPTIONS(base, nplot, circ)                                  \
  flag("FLIP", (base)), flag("VECTOR", (base) + 1), flag("PLOTREF", (base) + 2), \
      integer("NPLOT|NPLOTS|NP", (nplot), kRange, 2, 32767), circle((base) + 3, (circ))

const zul_keyword kLoadingsOptions[] = {
    ZUL_LOADINGS_OPTIONS(kBitLoadingsOptions, kSlotLoadingsNPlot, kSlotLoadingsCircle)};
const zul_keyword kInitLoadingsOptions[] = {ZUL_LOADINGS_OPTIONS(
    kBitInitLoadingsOptions, kSlotInitLoadingsNPlot, kSlotInitLoadingsCircle)};
const zul_keyword kPreLoadingsOptions[] = {ZUL_LOADINGS_OPTIONS(
    kBitPreLoadingsOptions, kSlotPreLoadingsNPlot, kSlotPreLoadingsCircle)};
#undef ZUL_LOADINGS_OPTIONS

const zul_keyword kScreeOptions[] = {flag("UNPACK|UNPACKPANEL", kBitScreeUnpack)};

const zul_word kPlotRequests[] = {
    bit("SCREE|EIGEN|EIGENVALUE", kBitPlotScree, count(kScreeOptions), kScreeOptions),
    bit("LOADINGS|LOADING|PATTERN", kBitPlotLoadings, count(kLoadingsOptions), kLoadingsOptions),
    bit("INITLOADINGS|INITLOADING|INITPATTERN", kBitPlotInitLoadings,
        count(kInitLoadingsOptions), kInitLoadingsOptions),
    bit("PRELOADINGS|PRELOADING|PREPATTERN", kBitPlotPreLoadings, count(kPreLoadingsOptions),
        kPreLoadingsOptions),
    bit("MAP", kBitPlotMap),
    bit("MAP2", kBitPlotMap2),
    bit("MAP4", kBitPlotMap4),
    bit("PARALLEL", kBitPlotParallel),
    bit("PATHDIAGRAM", kBitPlotPathDiagram),
    bit("ALL", kBitPlotAll),
    bit("NONE", kBitPlotNone),
};

// ---- the FACTOR statement ----

const zul_keyword kFactorOptions[] = {
    table("DATA", ZUL_DS_DATA),
    table("OUT", ZUL_DS_OUT),
    table("OUTSTAT|STAT", ZUL_DS_OUTSTAT),
    table("TARGET", ZUL_DS_TARGET),
    words("METHOD|M", kSlotMethod, kMethodWords),
    zul_keyword{"ROTATE|R", ZUL_VALUE_CODES, -1, kSlotRotate, 0, 0, 0, count(kRotateWords),
                kRotateWords, 0, nullptr},
    zul_keyword{"PREROTATE|PRE", ZUL_VALUE_CODES, -1, kSlotPrerotate, ZUL_CHECK_SINGLE, 0, 0,
                count(kPrerotateWords), kPrerotateWords, 0, nullptr},
    words("PRIORS|PRIOR", kSlotPriors, kPriorsWords),
    words("NORM", kSlotNorm, kNormWords),
    words("VARDEF", kSlotVardef, kVardefWords),
    zul_keyword{"NFACTORS|NFACTOR|NFACT|N", ZUL_VALUE_INTEGER, -1, kSlotNFactors, 0, 0, 0,
                count(kNFactorsWords), kNFactorsWords, 0, nullptr},
    number("MINEIGEN|MIN", kSlotMinEigen, kMin, 0),
    number("PROPORTION|PERCENT|P", kSlotProportion, kRange, 0, 100),
    number("FUZZ", kSlotFuzz, kMin, 0),
    number("FLAG", kSlotFlag, kMin, 0),
    number("SINGULAR|SING|TOLERANCE|TOL", kSlotSingular, kRange, 0, 1),
    number("CONVERGE|CONV", kSlotConverge, kMin, 0),
    integer("MAXITER|MAXIT", kSlotMaxIter, kRange, 0, 32767),
    integer("RITER", kSlotRiter, kMin, 0),
    number("RCONVERGE|RCONV", kSlotRconverge, kMin, 0),
    number("GAMMA|G", kSlotGamma),
    number("TAU", kSlotTau),
    number("HKPOWER|HKP", kSlotHkPower),
    integer("POWER|K", kSlotPower, kRange, 1, 32767),
    integer("NPLOT|NPLOTS|NP", kSlotNPlot, kRange, 2, 32767),
    integer("PLOTCHAR|PC", kSlotPlotChar),
    integer("RANDOM", kSlotRandom),
    number("NOBS", kSlotNObs, kMin, 0),
    number("HYPVALUE|HYPVAL", kSlotHypValue, kMin, 0),
    number("ALPHA", kSlotAlpha, kRange, 0, 100),
    zul_keyword{"COVER|CI", ZUL_VALUE_NUMBER, kBitCover, kSlotCover,
                kMin | ZUL_CHECK_OPTIONAL_VALUE, 0, 0, 0, nullptr, 0, nullptr},
    integer("THREADS|NTHREADS|NTHREAD|THREAD", kSlotThreads, kMin, 0),
    name("PARPREFIX", kSlotParPrefix),
    name("PREFIX", kSlotPrefix),
    zul_keyword{"PLOTS|PLOT", ZUL_VALUE_REQUESTS, kBitPlots, -1, 0, 0, 0, count(kPlotRequests),
                kPlotRequests, count(kPlotsGlobalOptions), kPlotsGlobalOptions},
    flag("COV|COVARIANCE", kBitCov),
    flag("ALL", kBitAll),
    flag("SIMPLE|S", kBitSimple),
    flag("CORR|C", kBitCorr),
    flag("EIGENVECTORS|EV", kBitEigenvectors),
    flag("PRINT", kBitPrint),
    flag("MSA", kBitMsa),
    flag("SCORE", kBitScore),
    flag("SCREE", kBitScree),
    flag("TEST", kBitTest),
    flag("WEIGHT", kBitWeight),
    flag("REORDER|RE", kBitReorder),
    flag("RESIDUALS|RESIDUAL|RES", kBitResiduals),
    flag("COUNT", kBitCount),
    flag("ULTRAHEYWOOD|ULTRA", kBitUltraHeywood),
    flag("HEYWOOD|HEY", kBitHeywood),
    flag("NOINT", kBitNoint),
    flag("ROUND", kBitRound),
    flag("NOCORR", kBitNocorr),
    flag("NOPRINT|NOP", kBitNoprint),
    flag("STDERR|SE", kBitStderr),
    flag("NOPROMAXNORM|NOPMAXNORM", kBitNoPromaxNorm),
    flag("ONETAIL|ONET", kBitOneTail),
    flag("TWOTAIL|TWOT", kBitTwoTail),
    flag("PLOT", kBitPlot),
    flag("PREPLOT", kBitPreplot),
    flag("PLOTREF", kBitPlotref),
    zul_keyword{"PARALLEL", ZUL_VALUE_FLAG, kBitParallel, -1, 0, 0, 0, 0, nullptr,
                count(kParallelOptions), kParallelOptions},
    flag("MAP", kBitMap),
};

// ---- the PATHDIAGRAM statement ----

const zul_word kArrangeWords[] = {
    code("GRIP", 4), code("FLOW", 2), code("GROUPEDFLOW", 3), code("AUTOMATIC", 9)};
const zul_word kNodeLabelWords[] = {code("VARNAME|VNAME", kNodeLabelVarName),
                                    code("VARLABEL|VLABEL", kNodeLabelVarLabel)};

const zul_keyword kPathDiagramOptions[] = {
    words("ARRANGE|ARRANGEMENT|METHOD", kSlotPathArrange, kArrangeWords),
    words("NODELABEL", kSlotPathNodeLabel, kNodeLabelWords),
    number("ALPHA", kSlotPathAlpha, kRange, 0, 100),
    flag("NOESTIM|NOEST", kBitPathNoEstim),
    flag("NOVARIANCE", kBitPathNoVariance),
    flag("NOERRVAR|NOERRORVARIANCE", kBitPathNoErrVar),
    flag("NOFACTORVAR|NOFACTORVARIANCE", kBitPathNoFactorVar),
    flag("NOTITLE", kBitPathNoTitle),
    name("LABEL|LABELS", kSlotPathLabel, ZUL_VALUE_PAIRS),
    name("DIAGRAMLABEL|DLABEL", kSlotPathDiagramLabel),
    name("TITLE", kSlotPathTitle, ZUL_VALUE_TEXT),
    number("FACTORSIZE|FACTSIZE", kSlotPathFactorSize, kRange, 0, 5),
    integer("DECP", kSlotPathDecp, kRange, 0, 4),
    number("FUZZ", kSlotPathFuzz, kMin, 0),
    number("COVER|SALIENCE", kSlotPathCover, kMin, 0),
    integer("DESIGNHEIGHT|DH", kSlotPathDesignHeight, kRange, 100, 10922),
    integer("DESIGNWIDTH|DW", kSlotPathDesignWidth, kRange, 100, 10922),
    integer("TEXTSIZEMIN", kSlotPathTextSizeMin, kRange, 4, 40),
    number("DIAGRAMSCALE|SCALE", kSlotPathDiagramScale, kRange, 0, 6),
};

const zul_keyword kByOptions[] = {flag("NOTSORTED", kBitNotSorted)};

const zul_statement kStatements[] = {
    {"FACTOR", ZUL_STMT_OPTIONS, -1, -1, ZUL_VARS_ANY, count(kFactorOptions), kFactorOptions, 0,
     nullptr},
    {"VAR|VARIABLES", ZUL_STMT_VARLIST, ZUL_LIST_VAR, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"PARTIAL", ZUL_STMT_VARLIST, ZUL_LIST_PARTIAL, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"PRIORS|PRIOR", ZUL_STMT_PRIORS, kSlotPriorsStatement, kBitPriorsStatement, ZUL_VARS_ANY, 0,
     nullptr, count(kPriorsWords), kPriorsWords},
    {"FREQ|FREQUENCY", ZUL_STMT_ONEVAR, ZUL_LIST_FREQ, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"WEIGHT|WEIGHTS", ZUL_STMT_ONEVAR, ZUL_LIST_WEIGHT, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0,
     nullptr},
    {"BY", ZUL_STMT_BY, ZUL_LIST_BY, -1, ZUL_VARS_ANY, count(kByOptions), kByOptions, 0, nullptr},
    {"PATHDIAGRAM", ZUL_STMT_REPEATED, -1, kBitPathDiagramStatement, ZUL_VARS_ANY,
     count(kPathDiagramOptions), kPathDiagramOptions, 0, nullptr},
};

const zul_grammar kGrammar = {ZUL_GRAMMAR_FORMAT, 0,
                              static_cast<int32_t>(std::size(kStatements)), kStatements};

}  // namespace

const zul_grammar& factorGrammar() { return kGrammar; }

std::string rotationWord(int code) {
  for (const zul_word& w : kRotateWords) {
    if (static_cast<int>(w.code) != code) continue;
    std::string spellings = w.spellings;
    return spellings.substr(0, spellings.find('|'));
  }
  return {};
}

}  // namespace zulfact
