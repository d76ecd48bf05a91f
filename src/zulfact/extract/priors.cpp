#include "zulfact/extract/priors.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/extract/parallel_map_tables.hpp"
#include "zulfact/data/row_gaps.hpp"
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
// upper-cased _TYPE_ satisfies `match`; its p values (missing as 0, counted
// in `gaps`) go to out. False when the table ends first (or has no _TYPE_
// variable).
template <class Match>
bool readTypedRow(const StepOptions& ps, Match match, double* out, RowGaps* gaps = nullptr,
                  int64_t* line = nullptr) {
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
    if (!readOk(status)) break;
    char upper[9];
    for (int k = 0; k < 8; ++k)
      upper[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(type[k])));
    upper[8] = '\0';
    if (match(upper)) {
      if (gaps) gaps->look(ps, values.data(), p, upper, {});
      for (int i = 0; i < p; ++i) out[i] = zul_is_missing(values[i]) ? 0.0 : values[i];
      if (line) *line = h.recordLine(ps.mainInput);
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

bool readWeightRow(const StepOptions& ps, double* out, RowGaps* gaps) {
  return readTypedRow(
      ps, [](const char* t) { return std::memcmp(t, "WEIGHT  ", 8) == 0; }, out, gaps);
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

void methodWeights(int p, int method, bool covariance, const double* stdDevs, const double* h2,
                   double* weights) {
  for (int i = 0; i < p; ++i) {
    switch (method) {
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
        weights[i] = covariance ? stdDevs[i] * stdDevs[i] : 1.0;
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

GroupPriors groupPriors(const GroupPriorsInputs& in) {
  const int p = in.p;
  GroupPriors out;
  out.seed = in.seed;
  out.priorsUsed = in.priors;
  // An INPUT table without its PRIORS row: the group runs with ONE.
  if (in.priors == kPriorsInput && in.given == nullptr) {
    out.priorsUsed = kPriorsOne;
    out.noPriorsRow = true;
  }
  const PriorInputs estimates{p, in.r, in.stdDevs, out.priorsUsed, in.given, in.invDiag};
  const PriorEstimates est = priorEstimates(estimates, out.seed);
  out.h2 = est.h2;
  out.fellBack = est.fellBack;
  // The extraction works on a copy of R: with priors, the reduced matrix.
  out.reduced.assign(in.r, in.r + packedSize(p));
  if (in.priors == kPriorsNone) return out;
  for (int i = 0; i < p; ++i) out.reduced[packedIndex(i, i)] = out.h2[i];
  out.weights.resize(static_cast<size_t>(p));
  if (in.weightOption && in.weightRow != nullptr) {
    for (int i = 0; i < p; ++i)
      out.weights[i] = in.weightRow[i] * (in.covariance ? in.stdDevs[i] * in.stdDevs[i] : 1.0);
    return out;
  }
  // Without a WEIGHT row the method's own weights, so that the analysis
  // never runs on weights left over from an earlier group.
  out.noWeightRow = in.weightOption;
  methodWeights(p, in.method, in.covariance, in.stdDevs, out.h2.data(), out.weights.data());
  return out;
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

// What the host holds for the priors: the PRIORS statement's values, the
// input table's PRIORS and WEIGHT rows (kept in `rows`), and the published
// seed of RANDOM priors with its message.
GroupPriorsInputs priorsInputsOf(ProcState& ps, const double* invDiag, std::vector<double>& rows) {
  const int p = ps.opt.nVars;
  const int priors = ps.opt.priorsMethod;
  rows.assign(2 * static_cast<size_t>(p), 0.0);
  double* priorsRow = rows.data();
  double* weightRow = priorsRow + p;
  GroupPriorsInputs in{.p = p, .r = ps.groupCorr, .stdDevs = ps.stdDevs, .priors = priors,
                       .method = ps.opt.method, .covariance = ps.opt.flags.covariance,
                       .invDiag = invDiag, .weightOption = ps.opt.flags.weightOption};
  if (priors == kPriorsNumeric) in.given = ps.opt.priorValues;
  RowGaps gaps;
  std::string matched;
  int64_t line = 0;
  auto priorsOrCommunal = [&matched](const char* t) {
    if (isPriorsType(t)) matched.assign(t, 8);
    return !matched.empty();
  };
  if (priors == kPriorsInput && readTypedRow(ps.opt, priorsOrCommunal, priorsRow, &gaps, &line)) {
    in.given = priorsRow;
    // An OUTSTAT= table holds its final communalities before its priors:
    // said, since those are not the priors the table's own run used.
    if (matched.compare(0, 8, "COMMUNAL") == 0 && !ps.communalPriorsNoted) {
      ps.communalPriorsNoted = true;
      host().message(msg::kPriorsFromCommunal, {line});
    }
  }
  if (priors == kPriorsRandom) {
    seedRoutine(SeedMode::CheckAndPublish, ps.seed);  // a clock seed when none was given
    host().message(msg::kRandomPriorsSeed, {ps.seed});
  }
  in.seed = ps.seed;
  if (priors != kPriorsNone && in.weightOption && readWeightRow(ps.opt, weightRow, &gaps))
    in.weightRow = weightRow;
  gaps.report(ps);
  return in;
}

// The messages of an SMC or ASMC fallback and of a missing PRIORS row.
void reportEstimates(ProcState& ps, const GroupPriors& result) {
  Host& h = host();
  if (result.fellBack && ps.opt.priorsMethod == kPriorsSmc) {
    h.message(msg::kSmcFallback, {"1.0."});
  } else if (result.fellBack) {
    int status = 0;
    std::string text = h.messageText(msg::kLargestCorrelationsText, &status);
    if (status < 0) {
      h.statusReport(status);
      h.endStep(kCodeWorkFile);
    }
    h.message(msg::kSmcFallback, {text});
  }
  if (result.noPriorsRow) {
    raiseCode(ps, kCodeNoData);
    h.message(msg::kNoPriorsRow);
    ps.priorsUsed = kPriorsOne;
  }
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
  std::vector<double> rows;
  const GroupPriors result =
      groupPriors(priorsInputsOf(ps, inverse ? invDiag.data() : nullptr, rows));
  ps.seed = result.seed;
  ps.singularPriors = result.fellBack && priors == kPriorsSmc;
  reportEstimates(ps, result);
  std::copy(result.reduced.begin(), result.reduced.end(), ps.corrMatrix);
  if (priors == kPriorsNone) return;

  std::copy(result.h2.begin(), result.h2.end(), ps.priorCommunalities);
  std::copy(result.h2.begin(), result.h2.end(), ps.communalities);
  if (result.noWeightRow) {
    raiseCode(ps, kCodeNoData);
    host().message(msg::kNoWeightRow);
  }
  std::copy(result.weights.begin(), result.weights.end(), ps.varWeights);
  if (ps.sink != nullptr)
    printPriorsTable(ps, inverse, result.fellBack, priors, result.priorsUsed);
}

void samplingAdequacyOnly(ProcState& ps) {
  const int p = ps.opt.nVars;
  if (p <= 0 || !ps.opt.flags.msa || ps.groupCorr == nullptr) return;
  std::vector<double> invDiag(static_cast<size_t>(p));
  (void)inverseAndAdequacy(ps, invDiag.data());
}

}  // namespace zulfact
