#include "zulfact/extract/priors.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/extract/parallel_map_tables.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/options/seed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::sweepInvert;
using kernels::packedIndex;

namespace {

// Save-area failures end the run: the matrices there are the only copy.
void checkWork(int status) {
  if (status != 0) {
    host().statusReport(status);
    host().endStep(kCodeWorkFile);
  }
}

// The group's R over the working matrix.
void readBackR(ProcState& ps, int64_t bytes) {
  std::memcpy(ps.corrMatrix, ps.groupCorr, static_cast<size_t>(bytes));
}

// Reads the input table from the start of the group until a row whose
// upper-cased _TYPE_ satisfies `match`; its p values (missing as 0) go to
// out. False when the table ends first (or has no _TYPE_ variable).
template <class Match>
bool readTypedRow(ProcState& ps, Match match, double* out) {
  const int p = ps.nVars;
  if (ps.mainInput == nullptr || ps.typeVarNumber <= 0 || ps.varNumbers == nullptr) return false;
  Host& h = host();
  if (h.rewind(ps.mainInput) != 0) return false;
  zul_readlist* list = h.readListCreate(ps.mainInput, p + 1);
  if (list == nullptr) return false;
  for (int i = 0; i < p; ++i) h.readListBind(list, i, ps.varNumbers[i], false, 8);
  h.readListBind(list, p, ps.typeVarNumber, true, 8);
  std::vector<double> values(static_cast<size_t>(p) + 1);
  char type[9] = {};
  bool found = false;
  int status = 0;
  while (h.readNext(list, values.data(), type, status) == 1) {
    if (status != 0 && status != 2049) break;
    char upper[9];
    for (int k = 0; k < 8; ++k)
      upper[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(type[k])));
    upper[8] = '\0';
    if (match(upper)) {
      for (int i = 0; i < p; ++i) out[i] = zul_is_missing(values[i]) ? 0.0 : values[i];
      found = true;
      break;
    }
  }
  h.readListRelease(list);
  return found;
}

}  // namespace

bool invertCorrelations(ProcState& ps, double* invDiag) {
  const int p = ps.nVars;
  double* r = ps.corrMatrix;
  const int64_t bytes = static_cast<int64_t>(sizeof(double)) * p * (p + 1) / 2;
  const int singular = sweepInvert(p, r, ps.scaleVector + 2 * p, 0, nullptr, ps.singularity);
  if (ps.sink != nullptr && ps.flags.print)
    printMatrixTable(ps, {.storage = 'S', .values = r, .nRows = p, .nCols = p, .rowLabels = 'V',
                          .colLabels = 'V', .title = kTitleInvCorr, .name = "InvCorr",
                          .role = MatrixRole::Correlation});
  if (singular > 0) {
    raiseCode(ps, kCodeSingular);
    host().message(msg::kSingularCorrelations);
    readBackR(ps, bytes);
    return false;
  }
  for (int i = 0; i < p; ++i) {
    const double rii = r[packedIndex(i, i)];
    if (invDiag) invDiag[i] = rii;
    ps.scaleVector[i] = std::sqrt(1.0 / rii);
  }
  int64_t key = 0;
  checkWork(host().workWrite(ps.workFile, r, bytes, key));
  ps.invCorrKey = key;
  return true;
}

void readBackCorrelations(ProcState& ps) {
  const int64_t p = ps.nVars;
  readBackR(ps, static_cast<int64_t>(sizeof(double)) * p * (p + 1) / 2);
}

bool readWeightRow(ProcState& ps, double* out) {
  return readTypedRow(
      ps, [](const char* t) { return std::memcmp(t, "WEIGHT  ", 8) == 0; }, out);
}

bool isPriorsType(const char* type8) {
  return std::memcmp(type8, "PRIORS  ", 8) == 0 || std::memcmp(type8, "COMMUNAL", 8) == 0;
}

double samplingAdequacy(int p, const double* rowSumsR, const double* q, double* msa) {
  double r2Total = 0.0, p2Total = 0.0;
  for (int i = 0; i < p; ++i) {
    double p2 = 0.0;
    for (int j = 0; j < p; ++j) {
      if (j == i) continue;
      const double x = q[packedIndex(i, j)];
      p2 += x * x;
    }
    const double r2 = rowSumsR[i];
    msa[i] = r2 + p2 > 0.0 ? r2 / (r2 + p2) : 0.0;
    r2Total += r2;
    p2Total += p2;
  }
  return r2Total + p2Total > 0.0 ? r2Total / (r2Total + p2Total) : 0.0;
}

double maxAbsCorrelations(int p, const double* r, const double* stdDevs, double* out) {
  double sum = 0.0;
  for (int i = 0; i < p; ++i) {
    double m = 0.0;
    if (stdDevs[i] > 0.0) {
      for (int j = 0; j < p; ++j)
        if (j != i) m = std::max(m, std::fabs(r[packedIndex(i, j)]));
    }
    out[i] = m;
    sum += m;
  }
  return sum;
}

void methodWeights(const ProcState& ps, const double* h2, double* weights) {
  for (int i = 0; i < ps.nVars; ++i) {
    switch (ps.method) {
      case kMethodAlpha:
        weights[i] = h2[i] <= kSmallestNormal ? 0.0 : 1.0 / h2[i];
        break;
      case kMethodMl:
      case kMethodGls:
      case kMethodFuller:
      case kMethodHarris:
        weights[i] = 1.0 / std::max(1.0 - h2[i], kWeightUniquenessFloor);
        break;
      default:
        weights[i] = ps.flags.covariance ? ps.stdDevs[i] * ps.stdDevs[i] : 1.0;
        break;
    }
  }
}

PriorEstimates priorEstimates(const PriorInputs& in, int32_t& seed) {
  const int p = in.p;
  PriorEstimates est;
  std::vector<double>& h2 = est.h2;
  h2.assign(static_cast<size_t>(p), 1.0);
  const int method = in.method;
  if ((method == kPriorsNumeric || method == kPriorsInput) && in.given)
    std::copy_n(in.given, p, h2.begin());
  if (method == kPriorsRandom)
    for (int i = 0; i < p; ++i) h2[i] = nextUniform(seed);
  double maxSum = 0.0;
  if (method == kPriorsMax || method == kPriorsAsmc)
    maxSum = maxAbsCorrelations(p, in.r, in.stdDevs, h2.data());
  if (method == kPriorsSmc || method == kPriorsAsmc) {
    if (!in.invDiag) {
      est.fellBack = true;
    } else {
      double s = 0.0;
      for (int i = 0; i < p; ++i) {
        h2[i] = 1.0 - 1.0 / in.invDiag[i];
        s += h2[i];
      }
      // ASMC: scaled so that the estimates sum to the sum of the row
      // maxima of |r| (Cureton & D'Agostino 1983).
      if (method == kPriorsAsmc && s > 0.0)
        for (double& x : h2) x *= maxSum / s;
    }
  }
  for (int i = 0; i < p; ++i)
    if (in.stdDevs[i] <= 0.0) h2[i] = 0.0;
  return est;
}

PriorBound boundPriors(int p, double* h2, bool heywood, bool ultraHeywood) {
  if (ultraHeywood) return PriorBound::Within;
  PriorBound result = PriorBound::Within;
  for (int i = 0; i < p; ++i) {
    const bool above = h2[i] > 1.0, below = h2[i] < 0.0;
    if (!above && !below) continue;
    if (heywood) {
      h2[i] = above ? 1.0 : 0.0;
      result = PriorBound::Adjusted;
    } else if (above) {
      return PriorBound::AboveOne;
    } else {
      result = PriorBound::Negative;
    }
  }
  return result;
}

namespace {

// The squared correlations, R^-1 when MSA or the SMC-type priors need it
// (its diagonal into invDiag), and with MSA the partial correlations
// controlling for all other variables and Kaiser's measure of sampling
// adequacy (Kaiser 1970; Kaiser & Rice 1974). True when R was inverted;
// R is back in ps.corrMatrix on return.
bool inverseAndAdequacy(ProcState& ps, double* invDiag) {
  const int p = ps.nVars;
  double* r = ps.corrMatrix;
  double* sv = ps.scaleVector;
  const bool msa = ps.flags.msa;
  const int priors = ps.priorsMethod;
  const bool printing = ps.sink != nullptr;
  if (msa) {
    for (int i = 0; i < p; ++i) {
      double s = 0.0;
      for (int j = 0; j < p; ++j)
        if (j != i) s += r[packedIndex(i, j)] * r[packedIndex(i, j)];
      sv[p + i] = s;
    }
  }
  const bool inverse =
      (msa || priors == kPriorsSmc || priors == kPriorsAsmc) && invertCorrelations(ps, invDiag);
  if (msa && inverse) {
    for (int i = 0; i < p; ++i) {
      for (int j = 0; j < i; ++j) r[packedIndex(i, j)] = -sv[i] * sv[j] * r[packedIndex(i, j)];
      r[packedIndex(i, i)] = 1.0;
    }
    if (printing)
      printMatrixTable(ps, {.storage = 'S', .values = r, .nRows = p, .nCols = p, .rowLabels = 'V',
                            .colLabels = 'V', .title = kTitleParCorrControlVar,
                            .name = "ParCorrControlVar", .role = MatrixRole::Correlation});
    const double overall = samplingAdequacy(p, sv + p, r, sv);
    if (printing) {
      VectorTable t;
      t.name = "SamplingAdequacy";
      t.title = titleLine(msg::kOverallMsaTitle, {overall}, true);
      t.nRows = p;
      t.columns.push_back({"MSA", "", sv});
      t.extras.push_back({"_OverallMSA", overall});
      printVectorTable(ps, t);
    }
  }
  if (printing) printParallelAndMapTables(ps);
  if (inverse) readBackCorrelations(ps);
  return inverse;
}

// The estimates of ps.priorsMethod with what the host holds for them: the
// PRIORS statement's values, the input table's PRIORS row (missing: 108,
// message 180/17 and ONE, which `shown` then names), the published seed,
// and the messages of an SMC fallback.
PriorEstimates estimatesOf(ProcState& ps, const double* invDiag, int& shown) {
  Host& h = host();
  const int p = ps.nVars;
  const int priors = ps.priorsMethod;
  int method = priors;
  std::vector<double> given;
  if (priors == kPriorsNumeric) given.assign(ps.priorCommunalities, ps.priorCommunalities + p);
  if (priors == kPriorsInput) {
    given.resize(static_cast<size_t>(p));
    if (!readTypedRow(ps, isPriorsType, given.data())) {
      given.clear();
      method = kPriorsOne;
    }
  }
  if (priors == kPriorsRandom) {
    seedRoutine(SeedMode::CheckAndPublish, ps.seed);  // a clock seed when none was given
    h.message(msg::kRandomPriorsSeed, {ps.seed});
  }
  const PriorInputs in{p, ps.corrMatrix, ps.stdDevs, method,
                       given.empty() ? nullptr : given.data(), invDiag};
  PriorEstimates est = priorEstimates(in, ps.seed);
  if (est.fellBack && priors == kPriorsSmc) {
    h.message(msg::kSmcFallback, {"1.0."});
  } else if (est.fellBack) {
    int status = 0;
    std::string text = h.messageText(msg::kLargestCorrelationsText, &status);
    if (status < 0) {
      h.statusReport(status);
      h.endStep(kCodeWorkFile);
    }
    h.message(msg::kSmcFallback, {text});
  }
  shown = priors;
  if (priors == kPriorsInput && method == kPriorsOne) {
    raiseCode(ps, kCodeNoData);
    h.message(msg::kNoPriorsRow);
    ps.priorsMethod = kPriorsOne;
    shown = kPriorsOne;
  }
  return est;
}

// The input table's WEIGHT row (with the WEIGHT option; missing: 108 and
// message 180/18), else the method's own weights, so that the analysis
// never runs on weights left over from an earlier group.
void setVariableWeights(ProcState& ps, const double* h2) {
  const int p = ps.nVars;
  bool fromTable = false;
  if (ps.flags.weightOption) {
    fromTable = readWeightRow(ps, ps.varWeights);
    if (fromTable) {
      if (ps.flags.covariance)
        for (int i = 0; i < p; ++i) ps.varWeights[i] *= ps.stdDevs[i] * ps.stdDevs[i];
    } else {
      raiseCode(ps, kCodeNoData);
      host().message(msg::kNoWeightRow);
    }
  }
  if (!fromTable) methodWeights(ps, h2, ps.varWeights);
}

// The "PriorCommunalEst" table (a text line alone for ONE).
void printPriorsTable(ProcState& ps, bool inverse, bool fellBack, int priors, int shown) {
  std::string text;
  if (inverse && (ps.method == kMethodHarris || ps.method == kMethodImage)) {
    text = titleLine(msg::kPriorsSmcTitle, {}, true);
  } else if (fellBack) {
    text = titleLine(msg::kPriorsTitle, {priors == kPriorsSmc ? "ONE" : "MAX"}, true);
  } else {
    text = titleLine(msg::kPriorsTitle, {priorsWord(shown)}, true);
  }
  if (shown == kPriorsOne) {
    printTextTable(ps, "PriorCommunalEst", text);
    return;
  }
  VectorTable t;
  t.name = "PriorCommunalEst";
  t.title = text;
  t.nRows = ps.nVars;
  t.columns.push_back({"Prior", "", ps.priorCommunalities});
  printVectorTable(ps, t);
}

}  // namespace

void computePriors(ProcState& ps) {
  const int p = ps.nVars;
  if (p <= 0) return;
  const int priors = ps.priorsMethod;
  ps.invCorrKey = 0;
  std::vector<double> invDiag(static_cast<size_t>(p));
  const bool inverse = inverseAndAdequacy(ps, invDiag.data());
  int shown = priors;
  const PriorEstimates est = estimatesOf(ps, inverse ? invDiag.data() : nullptr, shown);
  if (priors == kPriorsNone) return;

  // The reduced matrix.
  double* r = ps.corrMatrix;
  for (int i = 0; i < p; ++i) {
    ps.priorCommunalities[i] = ps.communalities[i] = est.h2[i];
    r[packedIndex(i, i)] = est.h2[i];
  }
  setVariableWeights(ps, est.h2.data());
  if (ps.sink != nullptr) printPriorsTable(ps, inverse, est.fellBack, priors, shown);
}

}  // namespace zulfact
