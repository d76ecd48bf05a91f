// Statement parsing and validation: the host parses the step with the
// module's grammar (options/grammar.cpp); this file copies the parsed
// record into ProcState with every default, derives the implied options,
// checks the combinations, allocates the per-run arrays, declares the
// columns of OUT= and OUTSTAT=, and creates the numeric engine.
//
// Checks never stop half way: each raises ps.completionCode with max() and
// the step ends after the table checks (above 999) or at the very end.
// Only a missing DATA=, a parse status, a method-against-criterion
// conflict, memory, the toolkit and the engine end the step at once.
#include "zulfact/options/parse_statement.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/host/messages.hpp"
#include "zulfact/options/grammar.hpp"
#include "zulfact/linalg/linalg.hpp"
#include "zulfact/options/seed.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/table_writer.hpp"

namespace zulfact {

namespace {

constexpr uint32_t kPoolFlags = 0x3006;
constexpr uint32_t kGrammarPoolFlags = 8196;

// An integer option as int32: values beyond its range are held at its
// ends (the grammar checks integrality, not every bound).
int32_t toInt(double v) {
  if (!(v > -2147483648.0)) return INT32_MIN;
  if (!(v < 2147483647.0)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

[[noreturn]] void stop(ProcState& ps, int code) {
  raiseCode(ps, code);
  host().endStep(ps.completionCode, 0);
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string trimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
// Copies text into an n-character field, blank padded, NUL after it.
void setPadded(char* field, size_t n, std::string_view text) {
  std::memset(field, ' ', n);
  std::memcpy(field, text.data(), std::min(n, text.size()));
  field[n] = 0;
}

// Read access to the parsed-statement record.
class Parsed {
 public:
  explicit Parsed(const zul_parsed& r) : r_(r) {}
  bool bit(int b) const { return zul_flag_test(r_.flags, b) != 0; }
  bool given(int s) const { return r_.slots[s].given != 0; }
  double number(int s, double dflt) const { return given(s) ? r_.slots[s].v.number : dflt; }
  std::string text(int s) const {
    const zul_slot& sl = r_.slots[s];
    if (!sl.given || !sl.data) return {};
    return std::string(static_cast<const char*>(sl.data), static_cast<size_t>(sl.count));
  }
  const zul_code_list* codes(int s) const {
    return given(s) ? static_cast<const zul_code_list*>(r_.slots[s].data) : nullptr;
  }
  const zul_varlist& list(int l) const { return r_.lists[l]; }
  const zul_slot& slot(int s) const { return r_.slots[s]; }

 private:
  const zul_parsed& r_;
};

// Host pool arrays of the step. A size of 2,147,483,647 bytes or more is
// never requested: it raises the completion code to 1016 instead, as does
// a pool that cannot give the block.
class Arrays {
 public:
  explicit Arrays(ProcState& ps) : ps_(ps) {}
  template <class T>
  T* get(double count) {
    double bytes = std::max(count, 1.0) * static_cast<double>(sizeof(T));
    if (!(bytes < kMaxAllocationBytes)) {
      raiseCode(ps_, kCodeMemory);
      return nullptr;
    }
    void* p = host().alloc(bytes, kPoolFlags);
    if (!p) raiseCode(ps_, kCodeMemory);
    return static_cast<T*>(p);
  }

 private:
  ProcState& ps_;
};

bool isStoredMatrixType(const std::string& type) {
  static const char* const kTypes[] = {"CORR", "COV", "UCORR", "UCOV", "FACTOR", "SSCP", "ACE", "EST"};
  for (const char* t : kTypes)
    if (type == t) return true;
  return false;
}

// Classification for the oblique flag: the engine-oblique set answers yes
// and sets the flag; HK sets the flag but answers no (its obliqueness is
// settled by the later entries); any other code clears it.
bool classifyOblique(int code, bool& oblique) {
  bool engineOblique = code == kRotPromax || code == kRotProcrustes ||
                       (code >= kRotQuartimin && code <= kRotObfactorParsimax) ||
                       code == kRotOblimin || code == kRotOblicf || code == kRotObligencf;
  if (engineOblique) {
    oblique = true;
    return true;
  }
  oblique = code == kRotHk;
  return false;
}

int decimalDigits(int n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

// Host threading: off when the THREADS option says so (NOTHREADS, 0, NO).
int hostThreadCount() {
  std::string v;
  if (host().systemOption("THREADS", v)) {
    std::string u = upper(v);
    if (u == "0" || u == "NO" || u == "OFF" || u == "NOTHREADS" || u == "FALSE") return 1;
  }
  if (host().systemOption("NOTHREADS", v)) return 1;
  if (host().systemOption("CPUCOUNT", v)) {
    int n = std::atoi(v.c_str());
    if (n >= 1) return n;
  }
  unsigned hw = std::thread::hardware_concurrency();
  return hw >= 1 ? static_cast<int>(hw) : 1;
}

// The default VAR list: every numeric variable of DATA= that no other
// statement names, without _TYPE_, _NAME_ and (for an SSCP table) the
// intercept variable.
std::vector<int32_t> defaultVarList(const ProcState& ps, const Parsed& rec, int leaveOut) {
  std::vector<int32_t> used;
  for (int l : {ZUL_LIST_BY, ZUL_LIST_PARTIAL, ZUL_LIST_FREQ, ZUL_LIST_WEIGHT}) {
    const zul_varlist& vl = rec.list(l);
    used.insert(used.end(), vl.numbers, vl.numbers + vl.count);
  }
  std::vector<int32_t> out;
  int n = host().varCount(ps.mainInput);
  for (int v = 1; v <= n; ++v) {
    if (v == leaveOut || v == ps.typeVarNumber || v == ps.nameVarNumber) continue;
    if (std::find(used.begin(), used.end(), v) != used.end()) continue;
    zul_var_desc d{};
    if (host().varDesc(ps.mainInput, v, d) != 0 || d.type != 1) continue;
    out.push_back(v);
  }
  return out;
}

// "-zparse": the options as the parser left them, one log line each group.
// A double option as the log shows it: "." when missing.
std::string shown(double x) { return zul_is_missing(x) ? std::string(".") : fmt::format("{}", x); }

void logOptions(const ProcState& ps) {
  Host& h = host();
  auto line = [&](const std::string& s) { h.logLine(ZUL_LOG_NOTE, "zparse: " + s); };
  line(fmt::format("inputType={} raw={} nVars={} nPartial={} nBy={} method={} priorsMethod={} "
                   "norm={} vardef={}",
                   trimRight(ps.inputType), int(ps.flags.rawInput), ps.nVars, ps.nPartial, ps.nBy,
                   ps.method, ps.priorsMethod, ps.norm, trimRight(ps.vardef)));
  line(fmt::format("nFactorsRequested={} nFactors={} minEigen={} proportion={} "
                   "parallelCriterion={} mapVariant={} parallelRun={} mapRun={} parallelLevel={} "
                   "nSims={} parallelSeed={} seed={}",
                   ps.nFactorsRequested, ps.nFactors, shown(ps.minEigen), shown(ps.proportion),
                   ps.parallelCriterion, ps.mapVariant, ps.parallelRun, ps.mapRun,
                   shown(ps.parallelLevel), ps.nSims, ps.parallelSeed, ps.seed));
  std::string list;
  for (int i = 0; i < ps.rotationListLength; ++i)
    list += (i ? "," : "") + std::to_string(ps.rotationList[i]);
  std::string params;
  for (int i = 0; i < ps.rotationParamCount; ++i)
    params += fmt::format("{}{}@{}", i ? "," : "", ps.rotationParams[i],
                          ps.rotationParamPositions[i]);
  line(fmt::format("prerotation={} finalRotation={} rotationList=[{}] rotationParams=[{}] "
                   "rotationCount={} rotationRequested={} oblique={} gamma={} tau={} power={} "
                   "hkPower={} rotationMaxIter={} rotationConvergence={}",
                   ps.prerotation, ps.finalRotation, list, params, ps.rotationCount,
                   int(ps.flags.rotationRequested), int(ps.flags.oblique), shown(ps.gamma), shown(ps.tau),
                   shown(ps.power), shown(ps.hkPower), ps.rotationMaxIter, shown(ps.rotationConvergence)));
  line(fmt::format("convergence={} maxIter={} singularity={} fuzz={} flagThreshold={} "
                   "roundMode={} heywood={} ultraHeywood={} weighted={} correlationNeeded={} "
                   "outRequested={} outstatRequested={} threadCount={} factorNameWidth={}",
                   shown(ps.convergence), ps.maxIter, shown(ps.singularity), shown(ps.fuzz), shown(ps.flagThreshold),
                   int(ps.flags.roundMode), int(ps.flags.heywood), int(ps.flags.ultraHeywood),
                   int(ps.flags.weighted), int(ps.flags.correlationNeeded),
                   int(ps.flags.outRequested), int(ps.flags.outstatRequested), ps.threadCount,
                   ps.factorNameWidth));
  line(fmt::format("hypValue={} stdErrLevel={} coverValue={} needStdErr={} confidenceDisplay={} "
                   "testsOneSided={} plot={} preplot={} plotCount={} plots=scree:{} loadings:{} "
                   "init:{} pre:{} map2:{} map4:{} parallel:{} path:{}",
                   shown(ps.hypValue), shown(ps.stdErrLevel), shown(ps.coverValue), int(ps.flags.needStdErr),
                   int(ps.flags.confidenceDisplay), int(ps.flags.testsOneSided),
                   int(ps.flags.plot), int(ps.flags.preplot), ps.plotCount,
                   int(ps.plots.scree), int(ps.plots.loadings), int(ps.plots.initLoadings),
                   int(ps.plots.preLoadings), int(ps.plots.map2), int(ps.plots.map4),
                   int(ps.plots.parallel), int(ps.plots.pathDiagram)));
}

}  // namespace

void parseStatement(ProcState& ps) {
  Host& h = host();

  // 1. VALIDVARNAME=V6 asks for names of at most 8 characters.
  std::string optionValue;
  if (h.systemOption("VALIDVARNAME", optionValue)) {
    std::string v = upper(optionValue.size() >= 2 ? optionValue.substr(0, 2) : optionValue);
    ps.flags.shortNames = v == "V6";
  }

  // 2. The host parses the statement with a copy of the grammar taken from
  //    the pool; the DEBUG switches SYN and SEM go along as flags 2 and 1.
  ps.missing = zul_missing();
  const double missing = ps.missing;
  ps.completionCode = 0;
  auto* grammar = static_cast<zul_grammar*>(h.alloc(sizeof(zul_grammar), kGrammarPoolFlags));
  if (!grammar) stop(ps, kCodeMemory);
  *grammar = factorGrammar();
  uint32_t debugFlags = debugSwitches(h).parseFlags();
  const zul_parsed* parsedRecord = nullptr;
  int status = h.parse(grammar, debugFlags, &parsedRecord) & 0xFFFF;
  if (status != 0 || !parsedRecord) stop(ps, status != 0 ? status : kCodeInternal);
  ps.parsed = parsedRecord;
  const Parsed rec(*parsedRecord);

  // 3. Tables.
  ps.mainInput = parsedRecord->tables[ZUL_DS_DATA];
  if (!ps.mainInput) {
    h.message(180, 1);
    stop(ps, kCodeNotAllowed);
  }
  ps.outTable = parsedRecord->tables[ZUL_DS_OUT];
  ps.outstatTable = parsedRecord->tables[ZUL_DS_OUTSTAT];
  ps.targetTable = parsedRecord->tables[ZUL_DS_TARGET];
  ps.flags.outRequested = ps.outTable != nullptr;
  ps.flags.outstatRequested = ps.outstatTable != nullptr;
  ps.flags.targetGiven = ps.targetTable != nullptr;

  // 4. (In-database processing is not offered by this host's tables.)

  // 5. What DATA= holds.
  std::string type = h.tableType(ps.mainInput);
  setPadded(ps.inputType, 8, type);
  std::string inputType = upper(trimRight(std::string(ps.inputType)));
  if (ps.flags.outRequested) ps.nInputVars = h.varCount(ps.mainInput);
  ps.flags.rawInput = !isStoredMatrixType(inputType);
  ps.typeVarNumber = h.varNumber(ps.mainInput, "_TYPE_");
  ps.interceptVarNumber = h.varNumber(ps.mainInput, "INTERCEPT");
  if (ps.interceptVarNumber == 0) ps.interceptVarNumber = h.varNumber(ps.mainInput, "INTERCEP");
  ps.nameVarNumber = h.varNumber(ps.mainInput, "_NAME_");

  // 6. The intercept row and column of an SSCP table.
  const zul_varlist& varList = rec.list(ZUL_LIST_VAR);
  std::vector<int32_t> vars(varList.numbers, varList.numbers + varList.count);
  bool sscpIntercept = ps.interceptVarNumber != 0 && inputType == "SSCP";
  if (!varList.given) {
    vars = defaultVarList(ps, rec, sscpIntercept ? ps.interceptVarNumber : 0);
  } else if (sscpIntercept &&
             std::find(vars.begin(), vars.end(), ps.interceptVarNumber) != vars.end()) {
    ps.flags.noIntercept = true;
    ps.flags.noint = true;
    h.message(180, 181);
  }
  if (rec.bit(kBitNoint)) {
    ps.flags.noIntercept = true;
    ps.flags.noint = true;
    h.message(180, 175);
  }

  // 7. Counts and the variables to read.
  const zul_varlist& partial = rec.list(ZUL_LIST_PARTIAL);
  ps.nBy = rec.list(ZUL_LIST_BY).count;
  ps.nVars = static_cast<int32_t>(vars.size());
  ps.nPartial = partial.count;
  ps.nAll = ps.nVars + ps.nPartial;
  Arrays arrays(ps);
  ps.varNumbers = arrays.get<int32_t>(ps.nAll);
  if (!ps.varNumbers) stop(ps, kCodeMemory);
  std::copy(vars.begin(), vars.end(), ps.varNumbers);
  std::copy(partial.numbers, partial.numbers + partial.count, ps.varNumbers + ps.nVars);
  ps.freqVarNumber = rec.list(ZUL_LIST_FREQ).count > 0 ? rec.list(ZUL_LIST_FREQ).numbers[0] : 0;
  ps.weightVarNumber =
      rec.list(ZUL_LIST_WEIGHT).count > 0 ? rec.list(ZUL_LIST_WEIGHT).numbers[0] : 0;
  const int p = ps.nVars;

  // 8. Method, NOBS=, tests, rotation parameters and lists.
  ps.method = static_cast<int32_t>(
      rec.number(kSlotMethod, inputType.rfind("FAC", 0) == 0 ? kMethodPattern : kMethodPrincipal));
  ps.nObsOption = rec.number(kSlotNObs, missing);

  // 8a. Tests and intervals.
  const bool hypGiven = rec.given(kSlotHypValue);
  ps.hypValue = rec.number(kSlotHypValue, missing);
  ps.flags.oneTail = rec.bit(kBitOneTail);
  ps.flags.twoTail = rec.bit(kBitTwoTail);
  if (hypGiven) {
    ps.stdErrLevel = missing;
    ps.coverValue = missing;
    if (ps.hypValue == 0.0) {
      ps.flags.testsOneSided = false;
      if (ps.flags.oneTail) h.message(180, 354);
    } else {
      ps.flags.testsOneSided = !(ps.flags.twoTail && !ps.flags.oneTail);
    }
  } else {
    ps.coverValue = rec.number(kSlotCover, missing);
    ps.stdErrLevel = rec.number(kSlotAlpha, missing);
    if (!zul_is_missing(ps.stdErrLevel) && ps.stdErrLevel > 1) ps.stdErrLevel /= 100;
  }
  ps.flags.confidenceDisplay = (rec.bit(kBitCover) || rec.given(kSlotAlpha)) && !hypGiven;
  ps.flags.stderrRequested = rec.bit(kBitStderr);
  ps.flags.needStdErr = ps.flags.stderrRequested || hypGiven || ps.flags.confidenceDisplay;
  if (ps.flags.confidenceDisplay) {
    if (zul_is_missing(ps.stdErrLevel)) ps.stdErrLevel = 0.05;
    if (zul_is_missing(ps.coverValue)) ps.coverValue = 0;
  }
  ps.flags.noPromaxNorm = rec.bit(kBitNoPromaxNorm);
  ps.flags.promaxNorm = !ps.flags.noPromaxNorm;

  ps.gamma = rec.number(kSlotGamma, missing);
  ps.tau = rec.number(kSlotTau, missing);
  ps.power = rec.number(kSlotPower, missing);
  ps.hkPower = rec.number(kSlotHkPower, missing);
  ps.rotationMaxIter = toInt(rec.number(kSlotRiter, std::max(100, 10 * p)));
  ps.rotationConvergence = rec.number(kSlotRconverge, 1e-9);
  const bool prerotationGiven = rec.given(kSlotPrerotate);
  if (const zul_code_list* pre = rec.codes(kSlotPrerotate)) {
    ps.prerotation = pre->codes[0];
    ps.prerotationParamCount = std::min(pre->nParams, 4);
    std::copy(pre->params, pre->params + ps.prerotationParamCount, ps.prerotationParams);
  }
  // A ROTATE= given more than once keeps only its last list.
  std::vector<int32_t> rotations;
  std::vector<double> rotationParams;
  std::vector<int32_t> rotationPositions;
  if (const zul_code_list* rot = rec.codes(kSlotRotate)) {
    int boundary = rot->nBoundaries > 0 ? rot->boundaries[rot->nBoundaries - 1] : 0;
    rotations.assign(rot->codes + boundary, rot->codes + rot->count);
    for (int k = 0; k < rot->nParams; ++k) {
      if (rot->paramPositions[k] <= boundary) continue;
      rotationParams.push_back(rot->params[k]);
      rotationPositions.push_back(rot->paramPositions[k] - boundary);
    }
  }
  ps.rotationListLength = static_cast<int32_t>(rotations.size());
  ps.rotationList = arrays.get<int32_t>(ps.rotationListLength);
  ps.rotationParamCount = static_cast<int32_t>(rotationParams.size());
  ps.rotationParams = arrays.get<double>(ps.rotationParamCount);
  ps.rotationParamPositions = arrays.get<int32_t>(ps.rotationParamCount);
  if (!ps.rotationList || !ps.rotationParams || !ps.rotationParamPositions) {
    h.message(180, 91);
    stop(ps, kCodeMemory);
  }
  std::copy(rotations.begin(), rotations.end(), ps.rotationList);
  std::copy(rotationParams.begin(), rotationParams.end(), ps.rotationParams);
  std::copy(rotationPositions.begin(), rotationPositions.end(), ps.rotationParamPositions);

  // 9. The rotation implied by other options, when ROTATE= gave none.
  ps.finalRotation = kRotNone;
  if (rotations.empty()) {
    if (ps.flags.targetGiven) {
      ps.finalRotation = kRotProcrustes;
    } else if (!zul_is_missing(ps.power) || prerotationGiven) {
      ps.finalRotation = kRotPromax;
    } else {
      if (!zul_is_missing(ps.hkPower)) ps.finalRotation = kRotVarimax;
      if (!zul_is_missing(ps.tau)) ps.finalRotation = kRotOblimin;
      if (!zul_is_missing(ps.gamma)) ps.finalRotation = kRotOrthomax;
    }
  }

  // 10. Promax rotates a prerotated solution; no other rotation takes one.
  const int mainRotation = rotations.empty() ? ps.finalRotation : rotations.front();
  if (mainRotation == kRotPromax) {
    if (!prerotationGiven) {
      ps.prerotation = !zul_is_missing(ps.gamma) ? kRotOrthomax
                       : !zul_is_missing(ps.tau) ? kRotOblimin
                                                 : kRotVarimax;
      ps.prerotationParamCount = 0;
    }
  } else {
    ps.prerotation = kRotNone;
    ps.prerotationParamCount = 0;
  }

  // 11. Procrustes needs its target.
  bool procrustes = ps.finalRotation == kRotProcrustes || ps.prerotation == kRotProcrustes ||
                    std::find(rotations.begin(), rotations.end(), kRotProcrustes) != rotations.end();
  if (procrustes && !ps.flags.targetGiven) {
    h.message(180, 115);
    raiseCode(ps, kCodeConflict);
  }

  // 12. Oblique solution.
  bool oblique = false;
  if (!classifyOblique(ps.prerotation, oblique) && !classifyOblique(ps.finalRotation, oblique)) {
    for (int code : rotations)
      if (classifyOblique(code, oblique)) break;
  }
  ps.flags.oblique = oblique;

  // 13. Rotations that do something.
  ps.rotationCount = static_cast<int32_t>(
      std::count_if(rotations.begin(), rotations.end(), [](int c) { return c != kRotNone; }));
  ps.flags.rotationRequested =
      !(ps.prerotation == kRotNone && ps.finalRotation == kRotNone && ps.rotationCount == 0);

  // 14. Priors, VARDEF=, NORM=, FUZZ=, FLAG=, SINGULAR=, NFACTORS=.
  ps.priorsMethod = static_cast<int32_t>(rec.number(kSlotPriors, kPriorsNone));
  std::string vardef = rec.text(kSlotVardef);
  setPadded(ps.vardef, 8, vardef.empty() ? "DF" : vardef);
  setPadded(ps.vardef2, 8, "");
  ps.norm = static_cast<int32_t>(rec.number(kSlotNorm, 0));
  ps.fuzz = rec.number(kSlotFuzz, 0);
  ps.flagThreshold = rec.number(kSlotFlag, 0);
  ps.flags.round = rec.bit(kBitRound);
  ps.flags.roundMode = ps.flags.round || ps.flagThreshold > 0;
  ps.singularity = rec.number(kSlotSingular, 1e-7);
  const bool nFactorsGiven = rec.given(kSlotNFactors);
  ps.nFactorsRequested =
      nFactorsGiven ? toInt(std::min<double>(rec.number(kSlotNFactors, 0), p)) : -99;

  // 15. Number-of-factors criteria.
  ps.parallelCriterion = rec.bit(kBitParallelCriterion) ? 1 : 0;
  const bool map2 = rec.bit(kBitMapCriterion2), map4 = rec.bit(kBitMapCriterion4);
  if (map2 && map4) {
    h.message(180, 77);
    raiseCode(ps, kCodeConflict);
  }
  ps.mapVariant = map4 ? 4 : map2 ? 2 : 0;
  if (ps.mapVariant && ps.parallelCriterion) {
    h.message(180, 80);
    raiseCode(ps, kCodeConflict);
  }
  const bool otherRule =
      nFactorsGiven || rec.given(kSlotMinEigen) || rec.given(kSlotProportion);
  if (ps.parallelCriterion && otherRule) h.message(180, 78);
  if (ps.mapVariant && otherRule) h.message(180, 79);
  ps.flags.parallelOption = rec.bit(kBitParallel);
  ps.flags.mapOption = rec.bit(kBitMap);
  ps.parallelRun = (ps.parallelCriterion || ps.flags.parallelOption) ? 1 : 0;
  ps.mapRun = (ps.mapVariant || ps.flags.mapOption) ? 1 : 0;

  // 16. Factor count, eigenvalue rules, iterations, plots and the seed.
  if (!nFactorsGiven || ps.parallelCriterion || ps.mapVariant)
    ps.nFactors = p;
  else
    ps.nFactors = std::max(0, std::min(toInt(rec.number(kSlotNFactors, 0)), p));
  ps.factorsRetained = ps.nFactors;
  const int m = ps.nFactors;
  ps.minEigen = rec.number(kSlotMinEigen, missing);
  ps.proportion = rec.number(kSlotProportion, missing);
  if (!zul_is_missing(ps.proportion) && ps.proportion > 1) ps.proportion /= 100;
  ps.convergence = rec.number(kSlotConverge, 0.001);
  ps.maxIter = toInt(rec.number(kSlotMaxIter, 30));
  ps.plotCount = toInt(rec.number(kSlotNPlot, 0));
  ps.plotNameLength = toInt(rec.number(kSlotPlotChar, 0));
  {
    double v = rec.number(kSlotRandom, 0);
    if (v < 1) v = 0;
    v = foldSeed(v);
    ps.seed = static_cast<int32_t>(v);
  }
  seedRoutine(0, ps.seed);

  // 17. Keyword options without a value.
  OptionFlags& f = ps.flags;
  f.covariance = rec.bit(kBitCov);
  f.all = rec.bit(kBitAll);
  f.simple = rec.bit(kBitSimple);
  f.corr = rec.bit(kBitCorr);
  f.eigenvectors = rec.bit(kBitEigenvectors);
  f.print = rec.bit(kBitPrint);
  f.msa = rec.bit(kBitMsa);
  f.score = rec.bit(kBitScore);
  f.scree = rec.bit(kBitScree);
  f.test = rec.bit(kBitTest);
  f.weightOption = rec.bit(kBitWeight);
  f.reorder = rec.bit(kBitReorder);
  f.residuals = rec.bit(kBitResiduals);
  f.count = rec.bit(kBitCount);
  f.ultraHeywood = rec.bit(kBitUltraHeywood);
  f.heywood = rec.bit(kBitHeywood);
  f.nocorr = rec.bit(kBitNocorr);
  f.noprint = rec.bit(kBitNoprint);
  f.plot = rec.bit(kBitPlot);
  f.preplot = rec.bit(kBitPreplot);
  f.plotref = rec.bit(kBitPlotref);
  if (!f.preplot && (ps.plotCount > 1 || ps.plotNameLength != 0)) f.plot = true;
  if (f.plot && !f.rotationRequested) f.preplot = true;

  // 18. The output-table sink, unless printing is suppressed.
  ps.sink = nullptr;
  ps.graphicsEnabled = false;
  if (!f.noprint) ps.sink = createSink(ps.graphicsEnabled);

  // 19. Graph requests.
  const bool pathStatement = rec.bit(kBitPathDiagramStatement);
  if (rec.bit(kBitPlots) || pathStatement) {
    if (f.noprint) {
      h.message(210, 1102);
    } else if (rec.bit(kBitPlotNone)) {
      h.message(210, 1100);
    } else if (!ps.graphicsEnabled) {
      h.message(210, 1104);
    } else {
      PlotRequests& g = ps.plots;
      g.scree = rec.bit(kBitPlotScree);
      g.loadings = rec.bit(kBitPlotLoadings);
      g.initLoadings = rec.bit(kBitPlotInitLoadings);
      g.preLoadings = rec.bit(kBitPlotPreLoadings);
      g.pathDiagram = rec.bit(kBitPlotPathDiagram) || pathStatement;
      g.map2 = rec.bit(kBitPlotMap) || rec.bit(kBitPlotMap2);
      g.map4 = rec.bit(kBitPlotMap) || rec.bit(kBitPlotMap4);
      g.parallel = rec.bit(kBitPlotParallel);
      if (rec.bit(kBitPlotAll)) {
        g.scree = g.loadings = g.initLoadings = g.preLoadings = g.pathDiagram = true;
        if (ps.mapVariant) g.map2 = g.map4 = true;
        if (ps.parallelCriterion) g.parallel = true;
      }
      if (g.map2 || g.map4) ps.mapRun = 1;
      if (g.parallel) ps.parallelRun = 1;
    }
  }

  // 20. Methods that take no eigenvalues have no use for MAP and parallel.
  if (ps.method == kMethodPattern || ps.method == kMethodScore || ps.method == kMethodImage) {
    const char* word = methodWord(ps.method);
    if (ps.mapVariant) {
      h.message(180, 421, {ps.mapVariant == 4 ? "MAP4" : "MAP2", word});
      stop(ps, kCodeConflict);
    }
    if (ps.plots.map2 || ps.plots.map4) {
      h.message(180, 422, {"MAP", word});
      ps.plots.map2 = ps.plots.map4 = false;
      ps.mapRun = f.mapOption ? 1 : 0;
    }
    if (ps.parallelCriterion) {
      h.message(180, 421, {"PARALLEL", word});
      stop(ps, kCodeConflict);
    }
    if (ps.plots.parallel) {
      h.message(180, 422, {"PARALLEL", word});
      ps.plots.parallel = false;
      ps.parallelRun = f.parallelOption ? 1 : 0;
    }
  }
  if (p == 1) {
    if ((ps.plots.map2 || ps.plots.map4) && !ps.mapVariant) {
      h.message(180, 308);
      ps.plots.map2 = ps.plots.map4 = false;
      ps.mapRun = f.mapOption ? 1 : 0;
    }
    if (ps.mapVariant) {
      h.message(180, 309);
      raiseCode(ps, kCodeConflict);
    }
  }

  // 21. Parallel analysis settings.
  ps.parallelLevel = rec.number(kSlotParallelAlpha, 0.05);
  ps.nSims = toInt(rec.number(kSlotParallelNSims, 1000));
  {
    double s = rec.number(kSlotParallelSeed, 0);
    ps.parallelSeed = s >= 1 ? static_cast<int32_t>(foldSeed(s)) : 0;
  }
  if (ps.parallelRun) {
    seedRoutine(1, ps.parallelSeed);
    if (!(ps.parallelLevel > 0 && ps.parallelLevel < 1)) {
      h.message(180, 305, {ps.parallelLevel});
      raiseCode(ps, kCodeConflict);
    } else {
      double k = std::floor((1 - ps.parallelLevel) * (ps.nSims + 1.0));
      if (!(k > 0 && k < ps.nSims)) {
        h.message(180, 304, {ps.parallelLevel, ps.nSims});
        raiseCode(ps, kCodeConflict);
      }
    }
  }

  // 22. ALL, weighting and whether the correlations are needed.
  if (f.all) {
    f.residuals = f.score = f.eigenvectors = f.print = true;
    if (f.rawInput) f.corr = f.simple = f.msa = true;
  }
  f.weighted = f.covariance || f.weightOption ||
               (ps.method >= kMethodAlpha && ps.method <= kMethodHarris);
  bool outstatCounts = f.outstatRequested && !f.nocorr;
  f.correlationNeeded = !(ps.method == kMethodPattern && !f.residuals && !f.score && !f.corr &&
                          !f.msa && !outstatCounts);

  // 23. Priors.
  const zul_slot& priorsStatement = rec.slot(kSlotPriorsStatement);
  const bool priorValues = priorsStatement.given && priorsStatement.kind == ZUL_VALUE_NUMBERS;
  if (priorsStatement.given && !priorValues)
    ps.priorsMethod = static_cast<int32_t>(priorsStatement.v.number);
  ps.priorCommunalities = arrays.get<double>(p);
  if (!priorValues) {
    if (ps.priorsMethod == kPriorsNone && ps.nFactors >= 0)
      ps.priorsMethod = (ps.method == kMethodPrincipal || ps.method == kMethodPrinit) ? kPriorsOne
                                                                                       : kPriorsSmc;
  } else {
    if (priorsStatement.count != p) {
      h.message(180, 2);
      raiseCode(ps, kCodeConflict);
    } else if (ps.priorCommunalities) {
      const auto* values = static_cast<const double*>(priorsStatement.data);
      std::copy(values, values + p, ps.priorCommunalities);
    }
    ps.priorsMethod = kPriorsNumeric;
  }
  if ((ps.method == kMethodHarris || ps.method == kMethodImage) && ps.priorsMethod != kPriorsSmc) {
    h.message(180, 3, {priorsWord(ps.priorsMethod), methodWord(ps.method)});
    raiseCode(ps, kCodeNotAllowed);
  }

  // 24. Further checks of the method against the options and the input.
  if (ps.method == kMethodImage && f.msa) h.message(180, 420);
  if (ps.method != kMethodMl && (f.needStdErr || hypGiven)) {
    h.message(180, 353);
    f.needStdErr = f.confidenceDisplay = f.stderrRequested = false;
    ps.hypValue = missing;
  }
  if (f.weightOption) {
    switch (ps.method) {
      case kMethodAlpha: case kMethodMl: case kMethodGls: case kMethodHarris:
      case kMethodPattern: case kMethodScore:
        h.message(180, 185, {methodWord(ps.method)});
        raiseCode(ps, kCodeNotAllowed);
        break;
      default:
        break;
    }
  }
  if (f.heywood && f.ultraHeywood) {
    h.message(180, 299);
    f.ultraHeywood = false;
  }
  if (inputType.rfind("FACTOR", 0) == 0) {
    if (ps.typeVarNumber == 0) {
      h.message(180, 7, {"_TYPE_"});
      raiseCode(ps, kCodeBadVariables);
    }
    if (ps.nameVarNumber == 0) {
      h.message(180, 7, {"_NAME_"});
      raiseCode(ps, kCodeBadVariables);
    }
  }
  if (f.rawInput) {
    if (ps.priorsMethod == kPriorsInput) {
      h.message(180, 4, {inputType});
      raiseCode(ps, kCodeNotAllowed);
    }
    if (f.weightOption) {
      h.message(180, 5, {inputType});
      raiseCode(ps, kCodeNotAllowed);
    }
    if (ps.method == kMethodPattern || ps.method == kMethodScore) {
      h.message(180, 6, {inputType});
      raiseCode(ps, kCodeNotAllowed);
    }
  }

  // 26 (ahead of the allocations, which need the width). Factor names.
  std::string prefix = "Factor";
  const bool hasFactorNames = ps.method != kMethodPattern && ps.method != kMethodScore;
  if (ps.flags.shortNames) {
    prefix = m < 100 ? "Factor" : "Fact";
    ps.factorNameWidth = 8;
  } else {
    if (rec.given(kSlotPrefix)) prefix = rec.text(kSlotPrefix);
    // A name holds at most 32 characters: a long prefix gives way to the
    // number rather than making names that no table can hold.
    int digits = decimalDigits(std::max(m, 1));
    if (static_cast<int>(prefix.size()) + digits > 32) prefix.resize(static_cast<size_t>(32 - digits));
    ps.factorNameWidth = std::max(8, std::max(6, static_cast<int>(prefix.size())) + digits);
  }
  setPadded(ps.scorePrefix, std::min<size_t>(32, prefix.size()), prefix);
  ps.scorePrefixLength = static_cast<int32_t>(prefix.size());
  std::string parPrefix = rec.given(kSlotParPrefix) ? rec.text(kSlotParPrefix) : "R_";
  setPadded(ps.parPrefix, std::min<size_t>(32, parPrefix.size()), parPrefix);
  ps.parPrefixLength = static_cast<int32_t>(std::min<size_t>(32, parPrefix.size()));

  // 25. The per-run arrays from the host pool.
  const int nAll = ps.nAll;
  const bool squareLoadings = ps.method == kMethodMl || ps.method == kMethodUls ||
                              ps.method == kMethodGls || ps.method == kMethodFuller;
  ps.loadings = arrays.get<double>(squareLoadings ? double(p) * p : double(p) * m);
  ps.scaleVector = arrays.get<double>(std::max<double>(nAll, 10.0 * p));
  if (f.correlationNeeded) ps.corrMatrix = arrays.get<double>(double(nAll) * (nAll + 1) / 2);
  if (f.score || f.outRequested || f.outstatRequested)
    ps.scoreCoefficients = arrays.get<double>(double(p) * m);
  ps.transform = arrays.get<double>(double(m) * m);
  ps.structure = arrays.get<double>(double(m) * p);
  ps.refStructure = arrays.get<double>(double(m) * p);
  ps.factorCorr = arrays.get<double>(double(m) * (m + 1) / 2);
  ps.refAxisCorr = arrays.get<double>(double(m) * (m + 1) / 2);
  ps.factorVector = arrays.get<double>(m);
  for (int i = 0; i < m && ps.factorCorr && ps.refAxisCorr; ++i)
    ps.factorCorr[packedIndex(i, i)] = ps.refAxisCorr[packedIndex(i, i)] = 1.0;
  ps.varOrder = arrays.get<int32_t>(p);
  ps.varNames = arrays.get<char>(33.0 * nAll);
  ps.varLabels = arrays.get<char>(257.0 * nAll);
  ps.factorNames = arrays.get<char>(double(ps.factorNameWidth) * m);
  ps.means = arrays.get<double>(nAll);
  ps.stdDevs = arrays.get<double>(nAll);
  ps.communalities = arrays.get<double>(p);
  ps.varWeights = arrays.get<double>(p);
  ps.eigenvalues = arrays.get<double>(p);
  if (ps.nPartial > 0 && f.outRequested) {
    ps.rawMeans = arrays.get<double>(nAll);
    ps.rawStdDevs = arrays.get<double>(nAll);
  }
  ps.sweepFlags = arrays.get<char>(nAll);
  ps.parallelMean = arrays.get<double>(p);
  ps.parallelCritical = arrays.get<double>(p);
  ps.observedEigen = arrays.get<double>(p);
  ps.mapSquared = arrays.get<double>(p);
  ps.mapFourth = arrays.get<double>(p);
  if (ps.completionCode == kCodeMemory) {
    h.message(180, 91);
    stop(ps, kCodeMemory);
  }
  for (int i = 0; i < p; ++i) ps.varOrder[i] = i;
  // Names and labels of the analysis and partial variables.
  for (int i = 0; i < nAll; ++i) {
    zul_var_desc d{};
    h.varDesc(ps.mainInput, ps.varNumbers[i], d);
    std::memcpy(ps.varNames + 33 * i, d.name, strnlen(d.name, 32));
    std::memcpy(ps.varLabels + 257 * i, d.label, strnlen(d.label, 256));
    ps.longestName = std::max<int32_t>(ps.longestName, static_cast<int32_t>(std::strlen(d.name)));
    ps.longestLabel =
        std::max<int32_t>(ps.longestLabel, static_cast<int32_t>(std::strlen(d.label)));
  }
  auto varName = [&](int i) { return std::string(ps.varNames + 33 * i); };
  // 26. The factor names themselves.
  std::vector<std::string> factorNames;
  if (hasFactorNames) {
    for (int k = 0; k < m; ++k) {
      std::string name = prefix + std::to_string(k + 1);
      factorNames.push_back(name);
      std::memset(ps.factorNames + size_t(k) * ps.factorNameWidth, ' ', ps.factorNameWidth);
      std::memcpy(ps.factorNames + size_t(k) * ps.factorNameWidth, name.data(),
                  std::min<size_t>(name.size(), ps.factorNameWidth));
    }
  }

  // 27. The read plan is ps.varNumbers (nAll), with FREQ and WEIGHT; the
  //     data pass adds _TYPE_ and _NAME_ for a stored matrix.

  // 28. The TARGET= table holds every analysis variable, numeric, and the
  //     BY variables of DATA=.
  if (ps.targetTable) {
    for (int i = 0; i < p; ++i) {
      std::string name = varName(i);
      int v = h.varNumber(ps.targetTable, name);
      if (v == 0) {
        h.message(180, 8, {name});
        raiseCode(ps, kCodeBadVariables);
        continue;
      }
      zul_var_desc d{};
      if (h.varDesc(ps.targetTable, v, d) == 0 && d.type != 1) {
        h.message(180, 182, {name});
        raiseCode(ps, kCodeBadVariables);
      }
    }
    ps.bySyncMode = h.bySyncMode(ps.mainInput, ps.targetTable);
    if (ps.bySyncMode == 1) {
      h.message(180, 176);
      raiseCode(ps, kCodeBadVariables);
    }
  }

  // 29.
  const bool logParse = h.diagSwitch("-zparse") > 0;
  if (ps.completionCode >= kCodeStopped) {
    if (logParse) logOptions(ps);
    stop(ps, ps.completionCode);
  }

  // 30. (No in-database processing.)

  // 31. OUT=: factor scores need raw data and a stated number of factors.
  //     A dropped OUT= is a warning: the analysis itself runs.
  if (ps.outTable) {
    if (!f.rawInput) {
      h.message(180, 9, {inputType});
      ps.outTable = nullptr;
    } else if (!nFactorsGiven) {
      h.message(180, 10);
      ps.outTable = nullptr;
    }
    f.outRequested = ps.outTable != nullptr;
  }
  if (ps.outTable) {
    for (int v = 1; v <= ps.nInputVars; ++v) {
      zul_var_desc d{};
      if (h.varDesc(ps.mainInput, v, d) != 0) continue;
      for (const std::string& fn : factorNames)
        if (upper(fn) == upper(d.name)) h.message(180, 352, {std::string(d.name)});
    }
    h.copyAllColumns(ps.outTable, ps.mainInput);
    if (ps.nPartial > 0) {
      for (int i = 0; i < p; ++i) {
        std::string name = (parPrefix + varName(i)).substr(0, 32);
        std::string label(ps.varLabels + 257 * i);
        zul_column_desc c{name.c_str(), label.empty() ? nullptr : label.c_str(), 0, 8};
        h.declareColumn(ps.outTable, c);
      }
    }
    for (const std::string& fn : factorNames) {
      zul_column_desc c{fn.c_str(), nullptr, 0, 8};
      h.declareColumn(ps.outTable, c);
    }
    h.columnsDone(ps.outTable);
  }

  // 32. OUTSTAT=: a TYPE=FACTOR table that the procedure can read back.
  ps.nameWidth = nameColumnWidth(ps);
  if (ps.outstatTable) {
    h.setAttribute(ps.outstatTable, ZUL_ATTR_SET_TYPE, "FACTOR");
    std::string label = h.formatMessage(180, 157);
    h.setAttribute(ps.outstatTable, ZUL_ATTR_SET_LABEL, label.c_str());
    h.copyByColumns(ps.outstatTable, ps.mainInput);
    std::string typeLabel = h.formatMessage(180, 158);
    std::string nameLabel = h.formatMessage(180, 159);
    zul_column_desc typeColumn{"_TYPE_", typeLabel.c_str(), 1, 8};
    zul_column_desc nameColumn{"_NAME_", nameLabel.c_str(), 1, ps.nameWidth};
    h.declareColumn(ps.outstatTable, typeColumn);
    h.declareColumn(ps.outstatTable, nameColumn);
    for (int i = 0; i < p; ++i) {
      std::string name = varName(i);
      std::string label(ps.varLabels + 257 * i);
      zul_column_desc c{name.c_str(), label.empty() ? nullptr : label.c_str(), 0, 8};
      h.declareColumn(ps.outstatTable, c);
    }
    h.columnsDone(ps.outstatTable);
  }

  // 33. Threads and the numeric engine.
  const bool threadsGiven = rec.given(kSlotThreads) && rec.number(kSlotThreads, 0) >= 1;
  ps.threadsGiven = rec.given(kSlotThreads);
  ps.threadCount = threadsGiven ? toInt(rec.number(kSlotThreads, 1)) : hostThreadCount();
  const zul_toolkit* toolkit = h.toolkit();
  if (!toolkit || !toolkit->loadExtension || !toolkit->extensionSymbol) stop(ps, kCodeMemory);
  auto* extension = toolkit->loadExtension(L"qkxfac");
  if (!extension) stop(ps, kCodeMemory);
  ps.engineExtension = extension;
  auto create = reinterpret_cast<zul_engine_create_fn>(
      toolkit->extensionSymbol(extension, ZUL_ENGINE_FACTORY));
  zul_engine_config config{};
  config.nVars = p;
  config.fixed = -99;
  config.singularity = ps.singularity;
  config.convergence = ps.convergence;
  config.threadCount = ps.threadCount;
  config.threadsGiven = ps.threadsGiven ? 1 : 0;
  config.parallelLevel = ps.parallelLevel;
  config.nSims = ps.nSims;
  config.mapVariant = ps.mapVariant;
  config.parallelCriterion = ps.parallelCriterion;
  // The simulations of a parallel analysis follow PARALLEL(SEED=), so that
  // a given seed reproduces them; otherwise the step's RANDOM= seed.
  config.seed = ps.parallelRun ? ps.parallelSeed : ps.seed;
  zul_engine* engine = create ? create(&config) : nullptr;
  if (!engine) stop(ps, kCodeEngine);
  ps.factorEngine = engine;
  int32_t engineThreads = 0;
  int64_t length = sizeof engineThreads;
  if (!engine->ops || !engine->ops->get ||
      engine->ops->get(engine, ZUL_ITEM_THREADS, &engineThreads, &length, 0, 0) != 0)
    stop(ps, kCodeEngine);
  if (engineThreads < ps.threadCount) h.message(180, 310, {ps.threadCount, engineThreads});

  // 34. DATA= must be readable; a table that cannot be read stops the
  //     step as failed, never with the code 0 of a step that went well.
  int32_t readable = 0;
  if (h.getAttribute(ps.mainInput, ZUL_ATTR_READABLE, &readable) != 0 || readable != 1)
    stop(ps, kCodeStopped);

  // 35.
  if (p < 1) {
    h.message(180, 12);
    raiseCode(ps, kCodeBadVariables);
  }
  if (logParse) logOptions(ps);
  if (ps.completionCode >= kCodeStopped) stop(ps, ps.completionCode);
}

}  // namespace zulfact
