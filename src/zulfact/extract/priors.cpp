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
#include "zulfact/linalg/linalg.hpp"
#include "zulfact/options/seed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

// Save-area failures end the run: the matrices there are the only copy.
void checkWork(int status) {
  if (status != 0) {
    host().statusReport(status);
    host().endStep(kCodeWorkFile);
  }
}

void readBackR(ProcState& ps, int64_t bytes) {
  Host& h = host();
  checkWork(h.workPosition(ps.workFile, ps.corrKey));
  checkWork(h.workRead(ps.workFile, ps.corrMatrix, bytes));
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

bool invertCorrelations(ProcState& ps) {
  const int p = ps.nVars;
  double* r = ps.corrMatrix;
  const int64_t bytes = static_cast<int64_t>(sizeof(double)) * p * (p + 1) / 2;
  const int singular = sweepInvert(p, r, ps.scaleVector + 2 * p, 0, nullptr, ps.singularity);
  if (ps.sink != nullptr && ps.flags.print)
    printMatrixTable(ps, 'S', r, nullptr, p, p, 'V', 'V', kTitleInvCorr, 0, "InvCorr",
                     "Stat.Factor.InvCorr", 0);
  if (singular > 0) {
    raiseCode(ps, kCodeSingular);
    host().message(msg::kSingularCorrelations);
    readBackR(ps, bytes);
    return false;
  }
  for (int i = 0; i < p; ++i) {
    const double rii = r[packedIndex(i, i)];
    ps.communalities[i] = rii;
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

void computePriors(ProcState& ps) {
  const int p = ps.nVars;
  if (p <= 0) return;
  Host& h = host();
  double* r = ps.corrMatrix;
  double* sv = ps.scaleVector;
  const int64_t bytes = static_cast<int64_t>(sizeof(double)) * p * (p + 1) / 2;
  const bool msa = ps.flags.msa;
  const int priors = ps.priorsMethod;
  const bool printing = ps.sink != nullptr;
  ps.invCorrKey = 0;

  // Squared correlations of each variable with all others (MSA).
  if (msa) {
    for (int i = 0; i < p; ++i) {
      double s = 0.0;
      for (int j = 0; j < p; ++j)
        if (j != i) s += r[packedIndex(i, j)] * r[packedIndex(i, j)];
      sv[p + i] = s;
    }
  }

  // Inverse of R by Gauss-Jordan sweeping.
  const bool inverse =
      (msa || priors == kPriorsSmc || priors == kPriorsAsmc) && invertCorrelations(ps);

  // Partial correlations controlling for all other variables, and Kaiser's
  // measure of sampling adequacy (Kaiser 1970; Kaiser & Rice 1974).
  if (msa && inverse) {
    for (int i = 0; i < p; ++i) {
      for (int j = 0; j < i; ++j) r[packedIndex(i, j)] = -sv[i] * sv[j] * r[packedIndex(i, j)];
      r[packedIndex(i, i)] = 1.0;
    }
    if (printing)
      printMatrixTable(ps, 'S', r, nullptr, p, p, 'V', 'V', kTitleParCorrControlVar, 0,
                       "ParCorrControlVar", "Stat.Factor.ParCorrControlVar", 0);
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

  if (inverse) readBackR(ps, bytes);

  // Prior communality estimates.
  std::vector<double> h2(static_cast<size_t>(p), 1.0);
  if (priors == kPriorsNumeric) std::copy_n(ps.priorCommunalities, p, h2.begin());
  bool fellBack = false;
  double maxSum = 0.0;
  if (priors == kPriorsRandom) {
    seedRoutine(SeedMode::CheckAndPublish, ps.seed);  // a clock seed when none was given
    h.message(msg::kRandomPriorsSeed, {ps.seed});
    for (int i = 0; i < p; ++i) h2[i] = nextUniform(ps.seed);
  }
  if (priors == kPriorsMax || priors == kPriorsAsmc)
    maxSum = maxAbsCorrelations(p, r, ps.stdDevs, h2.data());
  if (priors == kPriorsSmc || priors == kPriorsAsmc) {
    if (!inverse) {
      fellBack = true;
      if (priors == kPriorsSmc) {
        h.message(msg::kSmcFallback, {"1.0."});
      } else {
        int status = 0;
        std::string text = h.messageText(msg::kLargestCorrelationsText, &status);
        if (status < 0) {
          h.statusReport(status);
          h.endStep(kCodeWorkFile);
        }
        h.message(msg::kSmcFallback, {text});
      }
    } else {
      double s = 0.0;
      for (int i = 0; i < p; ++i) {
        h2[i] = 1.0 - 1.0 / ps.communalities[i];
        s += h2[i];
      }
      // ASMC: scaled so that the estimates sum to the sum of the row
      // maxima of |r| (Cureton & D'Agostino 1983).
      if (priors == kPriorsAsmc && s > 0.0)
        for (double& x : h2) x *= maxSum / s;
    }
  }
  int shownPriors = priors;
  if (priors == kPriorsInput) {
    if (!readTypedRow(ps, isPriorsType, h2.data())) {
      raiseCode(ps, kCodeNoData);
      h.message(msg::kNoPriorsRow);
      ps.priorsMethod = kPriorsOne;
      shownPriors = kPriorsOne;
      std::fill(h2.begin(), h2.end(), 1.0);
    }
  }
  if (priors == kPriorsNone) return;

  // The reduced matrix.
  for (int i = 0; i < p; ++i) {
    if (ps.stdDevs[i] <= 0.0) h2[i] = 0.0;
    ps.priorCommunalities[i] = ps.communalities[i] = h2[i];
    r[packedIndex(i, i)] = h2[i];
  }

  // Variable weights.
  bool fromTable = false;
  if (ps.flags.weightOption) {
    fromTable = readWeightRow(ps, ps.varWeights);
    if (fromTable) {
      if (ps.flags.covariance)
        for (int i = 0; i < p; ++i) ps.varWeights[i] *= ps.stdDevs[i] * ps.stdDevs[i];
    } else {
      raiseCode(ps, kCodeNoData);
      h.message(msg::kNoWeightRow);
    }
  }
  // Without a WEIGHT row the method's own weights stand in, so that the
  // analysis never runs on weights left over from an earlier group.
  if (!fromTable) methodWeights(ps, h2.data(), ps.varWeights);

  // Prior communality table.
  if (!printing) return;
  std::string text;
  if (inverse && (ps.method == kMethodHarris || ps.method == kMethodImage)) {
    text = titleLine(msg::kPriorsSmcTitle, {}, true);
  } else if (fellBack) {
    text = titleLine(msg::kPriorsTitle, {priors == kPriorsSmc ? "ONE" : "MAX"}, true);
  } else {
    text = titleLine(msg::kPriorsTitle, {priorsWord(shownPriors)}, true);
  }
  if (shownPriors == kPriorsOne) {
    printTextTable(ps, "PriorCommunalEst", text);
    return;
  }
  VectorTable t;
  t.name = "PriorCommunalEst";
  t.title = text;
  t.nRows = p;
  t.columns.push_back({"Prior", "", ps.priorCommunalities});
  printVectorTable(ps, t);
}

}  // namespace zulfact
