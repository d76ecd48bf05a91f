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
using kernels::packedSize;

namespace {

// Reads the input table from the start of the group until a row whose
// upper-cased _TYPE_ satisfies `match`; its p values (missing as 0) go to
// out. False when the table ends first (or has no _TYPE_ variable).
template <class Match>
bool readTypedRow(const StepOptions& ps, Match match, double* out) {
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

std::vector<double> inverseCorrelations(ProcState& ps, double* invDiag) {
  const int p = ps.opt.nVars;
  std::vector<double> inverse(ps.groupCorr, ps.groupCorr + packedSize(p));
  std::vector<double> work(static_cast<size_t>(p));
  const int singular = sweepInvert(p, inverse.data(), work.data(), 0, nullptr, ps.opt.singularity);
  if (ps.sink != nullptr && ps.opt.flags.print)
    printMatrixTable(ps, {.storage = 'S', .values = inverse.data(), .nRows = p, .nCols = p, .rowLabels = 'V',
                          .colLabels = 'V', .title = kTitleInvCorr, .name = "InvCorr",
                          .role = MatrixRole::Correlation});
  if (singular > 0) {
    raiseCode(ps, kCodeSingular);
    host().message(msg::kSingularCorrelations);
    return {};
  }
  if (invDiag)
    for (int i = 0; i < p; ++i) invDiag[i] = inverse[packedIndex(i, i)];
  return inverse;
}

void partialCorrelations(int p, double* inverse) {
  std::vector<double> s(static_cast<size_t>(p));
  for (int i = 0; i < p; ++i) s[i] = std::sqrt(1.0 / inverse[packedIndex(i, i)]);
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < i; ++j) inverse[packedIndex(i, j)] = -s[i] * s[j] * inverse[packedIndex(i, j)];
    inverse[packedIndex(i, i)] = 1.0;
  }
}

bool readWeightRow(const StepOptions& ps, double* out) {
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

void methodWeights(const StepOptions& options, const GroupData& data, const double* h2,
                   double* weights) {
  for (int i = 0; i < options.nVars; ++i) {
    switch (options.method) {
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
        weights[i] = options.flags.covariance ? data.stdDevs[i] * data.stdDevs[i] : 1.0;
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
// adequacy (Kaiser 1970; Kaiser & Rice 1974). True when R was inverted.
// The group's R is only read.
bool inverseAndAdequacy(ProcState& ps, double* invDiag) {
  const int p = ps.opt.nVars;
  const double* r = ps.groupCorr;
  const bool msa = ps.opt.flags.msa;
  const int priors = ps.opt.priorsMethod;
  const bool printing = ps.sink != nullptr;
  std::vector<double> rowSums(static_cast<size_t>(p));
  if (msa) {
    for (int i = 0; i < p; ++i) {
      double s = 0.0;
      for (int j = 0; j < p; ++j)
        if (j != i) s += r[packedIndex(i, j)] * r[packedIndex(i, j)];
      rowSums[i] = s;
    }
  }
  std::vector<double> q;
  if (msa || priors == kPriorsSmc || priors == kPriorsAsmc) q = inverseCorrelations(ps, invDiag);
  const bool inverse = !q.empty();
  if (msa && inverse) {
    partialCorrelations(p, q.data());
    if (printing)
      printMatrixTable(ps, {.storage = 'S', .values = q.data(), .nRows = p, .nCols = p, .rowLabels = 'V',
                            .colLabels = 'V', .title = kTitleParCorrControlVar,
                            .name = "ParCorrControlVar", .role = MatrixRole::Correlation});
    std::vector<double> adequacy(static_cast<size_t>(p));
    const double overall = samplingAdequacy(p, rowSums.data(), q.data(), adequacy.data());
    if (printing) {
      VectorTable t;
      t.name = "SamplingAdequacy";
      t.title = titleLine(msg::kOverallMsaTitle, {overall}, true);
      t.nRows = p;
      t.columns.push_back({"MSA", "", adequacy.data()});
      t.extras.push_back({"_OverallMSA", overall});
      printVectorTable(ps, t);
    }
  }
  if (printing) printParallelAndMapTables(ps);
  return inverse;
}

// The estimates of ps.priorsMethod with what the host holds for them: the
// PRIORS statement's values, the input table's PRIORS row (missing: 108,
// message 180/17 and ONE, which `shown` then names), the published seed,
// and the messages of an SMC fallback.
PriorEstimates estimatesOf(ProcState& ps, const double* invDiag, int& shown) {
  Host& h = host();
  const int p = ps.opt.nVars;
  const int priors = ps.opt.priorsMethod;
  int method = priors;
  std::vector<double> given;
  if (priors == kPriorsNumeric) given.assign(ps.priorCommunalities, ps.priorCommunalities + p);
  if (priors == kPriorsInput) {
    given.resize(static_cast<size_t>(p));
    if (!readTypedRow(ps.opt, isPriorsType, given.data())) {
      given.clear();
      method = kPriorsOne;
    }
  }
  if (priors == kPriorsRandom) {
    seedRoutine(SeedMode::CheckAndPublish, ps.seed);  // a clock seed when none was given
    h.message(msg::kRandomPriorsSeed, {ps.seed});
  }
  const PriorInputs in{p, ps.groupCorr, ps.stdDevs, method,
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
    ps.priorsUsed = kPriorsOne;
    shown = kPriorsOne;
  }
  return est;
}

// The input table's WEIGHT row (with the WEIGHT option; missing: 108 and
// message 180/18), else the method's own weights, so that the analysis
// never runs on weights left over from an earlier group.
void setVariableWeights(ProcState& ps, const double* h2) {
  const int p = ps.opt.nVars;
  bool fromTable = false;
  if (ps.opt.flags.weightOption) {
    fromTable = readWeightRow(ps.opt, ps.varWeights);
    if (fromTable) {
      if (ps.opt.flags.covariance)
        for (int i = 0; i < p; ++i) ps.varWeights[i] *= ps.stdDevs[i] * ps.stdDevs[i];
    } else {
      raiseCode(ps, kCodeNoData);
      host().message(msg::kNoWeightRow);
    }
  }
  if (!fromTable) methodWeights(ps.opt, ps, h2, ps.varWeights);
}

// The "PriorCommunalEst" table (a text line alone for ONE).
void printPriorsTable(ProcState& ps, bool inverse, bool fellBack, int priors, int shown) {
  std::string text;
  if (inverse && (ps.opt.method == kMethodHarris || ps.opt.method == kMethodImage)) {
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
  t.nRows = ps.opt.nVars;
  t.columns.push_back({"Prior", "", ps.priorCommunalities});
  printVectorTable(ps, t);
}

}  // namespace

void computePriors(ProcState& ps) {
  const int p = ps.opt.nVars;
  if (p <= 0) return;
  const int priors = ps.opt.priorsMethod;
  ps.priorsUsed = priors;
  std::vector<double> invDiag(static_cast<size_t>(p));
  const bool inverse = inverseAndAdequacy(ps, invDiag.data());
  int shown = priors;
  const PriorEstimates est = estimatesOf(ps, inverse ? invDiag.data() : nullptr, shown);
  // The extraction works on a copy of R: with priors, the reduced matrix.
  double* r = ps.corrMatrix;
  std::copy_n(ps.groupCorr, packedSize(p), r);
  if (priors == kPriorsNone) return;

  for (int i = 0; i < p; ++i) {
    ps.priorCommunalities[i] = ps.communalities[i] = est.h2[i];
    r[packedIndex(i, i)] = est.h2[i];
  }
  setVariableWeights(ps, est.h2.data());
  if (ps.sink != nullptr) printPriorsTable(ps, inverse, est.fellBack, priors, shown);
}

}  // namespace zulfact
