#include "zulfact/extract/principal.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/extract/graded_order.hpp"
#include "zulfact/extract/iteration_history.hpp"
#include "zulfact/extract/priors.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/extract/pending_steps.hpp"
#include "kernels/eigen.hpp"
#include "kernels/packed.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/output/outstat_rows.hpp"

namespace zulfact {

using kernels::packedIndex;
using kernels::zeigen;
using kernels::zeigvec;

namespace {

int firstAvailable(const double* lambda, int p) {
  int f = 0;
  while (f < p && zul_is_missing(lambda[f])) ++f;
  return f;
}

// Velicer's averages end where some variable has no residual variance
// left: past the rank of a singular R (collinear variables), or at the
// component of a variable uncorrelated with all others. The minimum is
// then taken among the first counts alone. On a matrix of rank 2 that
// leaves the raw correlations and a residual of rank 1, whose partial
// correlations are all 1: the criterion always chooses 0 there.
void warnMapOnSingular(ProcState& ps, const double* averages, int variant, int k) {
  const int p = ps.opt.nVars;
  if (averages == nullptr) return;
  int defined = 0;
  while (defined < p && !zul_is_missing(averages[defined])) ++defined;
  if (defined == 0 || defined == p) return;
  raiseCode(ps, kCodeWarning);
  host().message(msg::kMapOnSingular, {variant == 4 ? "MAP4" : "MAP", defined - 1, defined, k});
}

}  // namespace

std::string requiredText(msg::Id id) {
  int status = 0;
  std::string text = host().messageText(id, &status);
  if (status < 0) {
    host().statusReport(status);
    host().endStep(kCodeWorkFile);
  }
  return text;
}

namespace {

// A message in the log that also goes to the listing as a note.
void noteAndMessage(void* sink, std::string_view noteName, msg::Id id, Args args) {
  Host& h = host();
  h.message(id, args);
  if (sink != nullptr) TableWriter(sink).note(noteName, Text(h.formatMessage(id, args)));
}

}  // namespace

void zeroTinyEigenvalues(int p, double* lambda) {
  const int f = firstAvailable(lambda, p);
  if (f >= p) return;
  const double limit = kZeroTolerance * lambda[f];
  for (int j = f; j < p; ++j)
    if (std::fabs(lambda[j]) <= limit) lambda[j] = 0.0;
}

void warnVariancesBeyondPrecision(ProcState& ps) {
  // HARRIS and ALPHA weigh the variables by their communalities instead.
  const bool byVariances = ps.opt.method == kMethodPrincipal || ps.opt.method == kMethodPrinit;
  if (!ps.opt.flags.covariance || !byVariances) return;
  int large = -1, small = -1;
  for (int i = 0; i < ps.opt.nVars; ++i) {
    const double v = ps.stdDevs[i] * ps.stdDevs[i];
    if (!(v > 0.0)) continue;
    if (large < 0 || v > ps.stdDevs[large] * ps.stdDevs[large]) large = i;
    if (small < 0 || v < ps.stdDevs[small] * ps.stdDevs[small]) small = i;
  }
  if (large < 0) return;
  const double ratio = std::pow(ps.stdDevs[large] / ps.stdDevs[small], 2);
  if (!(ratio * kZeroTolerance > 1.0)) return;
  raiseCode(ps, kCodeWarning);
  host().message(msg::kVariancesBeyondPrecision,
                 {variableName(ps, large), variableName(ps, small), ratio});
}

int eigenvalueRule(const double* lambda, int p, int f, double t, double P, int nMax,
                   const char** why) {
  double total = 0.0;
  for (int j = f; j < p; ++j) total += lambda[j];
  const double m = std::max(std::fabs(lambda[f]), std::fabs(lambda[p - 1]));
  // Eigenvalues that sum to nearly nothing: proportions are taken against a
  // large total so that PROPORTION= cannot stop the count on noise.
  if (0.01 * m >= total) total = 1.0e6 * m;
  // The running sum of rounded quotients can fall short of the exact
  // proportion (0.6 + 0.3 is below 0.9 in binary), by at most about
  // 2p eps sum |lambda| / T; within twice that it has reached PROPORTION=,
  // so that rounding neither adds nor costs a factor.
  double magnitude = 0.0;
  for (int j = f; j < p; ++j) magnitude += std::fabs(lambda[j]);
  const double margin =
      4.0 * p * std::numeric_limits<double>::epsilon() * magnitude / std::fabs(total);
  double c = 0.0;
  for (int k = f + 1;; ++k) {
    if (k > nMax || k > p) {
      if (why) *why = "NFACTOR";
      return k - 1;
    }
    const double l = lambda[k - 1];
    if (l <= t) {  // an eigenvalue equal to the threshold is not retained
      if (why) *why = "MINEIGEN";
      return k - 1;
    }
    c += l / total;
    if (P != 0.0 && c >= P - margin) {
      if (why) *why = "PROPORTION";
      return k;
    }
  }
}

void decideFactorCount(ProcState& ps) {
  decideFactorCount(ps, ps.opt.flags.weighted ? ps.varWeights : nullptr);
}

void decideFactorCount(ProcState& ps, const double* meanWeights) {
  const int p = ps.opt.nVars;
  const double* lambda = ps.eigenvalues;
  const int f = firstAvailable(lambda, p);
  const bool minGiven = !zul_is_missing(ps.opt.minEigen);
  const double scale = f < p ? lambda[f] : 0.0;
  // SMC fell back to 1.0 because the sweep found R singular at SINGULAR=:
  // eigenvalues of R below that tolerance are its null space, rounding
  // noise rather than factors, as the sweep already judged.
  const double zero = ps.singularPriors ? std::max(kZeroTolerance, ps.opt.singularity) : kZeroTolerance;
  double t = minGiven ? ps.opt.minEigen : zero * scale;
  double P = zul_is_missing(ps.opt.proportion) ? 0.0 : ps.opt.proportion;
  if (!minGiven && ps.opt.nFactorsRequested < 1 && P == 0.0) {
    P = 1.0;
    if (ps.opt.method == kMethodAlpha || ps.opt.method == kMethodHarris) {
      t = 1.0;
    } else if (ps.priorsUsed == kPriorsOne || ps.opt.method == kMethodImage) {
      t = 1.0;
      if (meanWeights != nullptr) {
        double sum = 0.0;
        int n = 0;
        for (int i = 0; i < p; ++i) {
          if (!zul_is_missing(meanWeights[i])) {
            sum += meanWeights[i];
            ++n;
          }
        }
        if (n > 0) t = sum / n;
      }
    }
  }
  ps.minEigenUsed = t;
  ps.proportionUsed = P;

  // The count is told twice: in the log, and as a note in the listing.
  auto tell = [&ps](msg::Id message, msg::Id note, Args args) {
    host().message(message, args);
    if (ps.sink != nullptr)
      TableWriter(ps.sink).note("NFactorsNote", Text(host().formatMessage(note, args)));
  };
  int k = 0;
  if (ps.opt.mapVariant == 2) {
    k = ps.mapFactors2;
    tell(k == 1 ? msg::kMap2OneFactorRetained : msg::kMap2FactorsRetained,
         k == 1 ? msg::kMap2OneFactorRetainedNote : msg::kMap2FactorsRetainedNote, {k});
    warnMapOnSingular(ps, ps.mapSquared, 2, k);
  } else if (ps.opt.mapVariant == 4) {
    k = ps.mapFactors4;
    tell(k == 1 ? msg::kMap4OneFactorRetained : msg::kMap4FactorsRetained,
         k == 1 ? msg::kMap4OneFactorRetainedNote : msg::kMap4FactorsRetainedNote, {k});
    warnMapOnSingular(ps, ps.mapFourth, 4, k);
  } else if (ps.opt.parallelCriterion != 0) {
    k = ps.parallelFactors;
    tell(k == 1 ? msg::kParallelOneFactorRetained : msg::kParallelFactorsRetained,
         k == 1 ? msg::kParallelOneFactorRetainedNote : msg::kParallelFactorsRetainedNote, {k});
  } else if (f >= p) {
    // The solver gave nothing: the group has no result, not zero factors.
    ps.factorsRetained = 0;
    raiseCode(ps, kCodeNoData);
    failGroupRows();
    host().message(msg::kNoEigenvalue);
    return;
  } else {
    const char* why = "NFACTOR";
    k = eigenvalueRule(lambda, p, f, t, P, ps.nFactors, &why);
    // Every eigenvalue passed: no NFACTORS= bound stopped the count, so no
    // criterion is named.
    if (k == p && ps.opt.nFactorsRequested < 1 && std::string_view(why) == "NFACTOR") why = "";
    tell(k == 1 ? msg::kOneFactorRetained : msg::kFactorsRetained,
         k == 1 ? msg::kOneFactorRetainedNote : msg::kFactorsRetainedNote, {k, why});
  }
  ps.factorsRetained = k;

  // Too many factors for the degrees of freedom of the fit tests.
  const int64_t df = (static_cast<int64_t>(p - k) * (p - k) - (p + k)) / 2;
  if (df < 1 && ps.opt.method >= kMethodUls && ps.opt.method <= kMethodFuller)
    noteAndMessage(ps.sink, "NFactorsNote", msg::kNoDegreesOfFreedom, {k});
  if (k == 0) host().message(msg::kNoFactorRetained);
  if (!ps.screeDone) screeAndVariancePlots(ps, f);
}

void printEigenvalueTable(ProcState& ps, std::string_view heading) {
  if (ps.sink == nullptr) return;
  const int p = ps.opt.nVars;
  const double* lambda = ps.eigenvalues;
  int n = 0;
  double s = 0.0, m = 0.0;
  for (int i = 0; i < p; ++i) {
    if (zul_is_missing(lambda[i])) continue;
    ++n;
    s += lambda[i];
    m = std::max(m, std::fabs(lambda[i]));
  }
  if (s * 0.001 + m == m) s = 0.0;
  std::string title;
  if (n > 1) title = titleLine(msg::kEigenvalueTotalsTitle, {heading, n, s, s / n});
  else if (n == 1) title = titleLine(msg::kOneEigenvalueTitle, {heading, s, s});
  else title = titleLine(msg::kNoEigenvalueTitle, {heading});
  const bool proportions = s > 0.001 * m;

  TableWriter out(ps.sink);
  out.beginTable("Eigenvalues");
  out.title(Text(title), "titeval");
  out.column(Column::number("Number", "8.0"));
  Column eig = Column::number("Eigenvalue");
  eig.formatWidth = 10;
  out.column(eig);
  Column diff = Column::number("Difference");
  diff.formatWidth = 10;
  out.column(diff);
  if (proportions) {
    out.column(Column::number("Proportion", "8.4"));
    out.column(Column::number("Cumulative", "8.4"));
  }
  const double missing = zul_missing();
  double cumulative = 0.0;
  for (int i = 0; i < p; ++i) {
    out.set(0, i + 1);
    if (zul_is_missing(lambda[i])) {
      for (int c = 1; c < (proportions ? 5 : 3); ++c) out.set(c, missing);
    } else {
      out.set(1, lambda[i]);
      const bool last = i + 1 >= p || zul_is_missing(lambda[i + 1]);
      out.set(2, last ? missing : lambda[i] - lambda[i + 1]);
      if (proportions) {
        cumulative += lambda[i] / s;
        out.set(3, lambda[i] / s);
        out.set(4, cumulative);
      }
    }
    out.emitRow();
  }
  out.endTable();
}

int eigenNote(int code, void* sink) {
  auto say = [sink](msg::Id id) { noteAndMessage(sink, "EigenNote", id, {}); };
  if (code == 99 || code == 98) {
    say(code == 99 ? msg::kEigenBadArguments : msg::kEigenIncomplete);
    host().endStep(kCodeInternal);
  }
  int c = code;
  if (c < -99) {
    say(msg::kEigenSeveralProblems);
    c += 100;
  }
  if (c < 0) {
    const int v = -c;
    const int a = std::min(v / 10, 3);
    if (v % 10 == 1) say(msg::kEigenBisection);
    static constexpr msg::Id kVectorNotes[] = {msg::kEigenSlowVector, msg::kEigenVerySlowVector,
                                               msg::kEigenNoVector};
    if (a >= 1) say(kVectorNotes[a - 1]);
    if (a == 3) host().endStep(kCodeInternal);
  }
  return code;
}

namespace {

// Priors outside [0, 1] get the Heywood rule of the iterated methods
// before the one pass: adjusted (HEYWOOD) into the reduced matrix, kept
// (ULTRAHEYWOOD), or the end of the group's analysis. False at that end.
bool priorsAdmissible(ProcState& ps) {
  if (ps.priorsUsed == kPriorsNone) return true;
  const int p = ps.opt.nVars;
  switch (boundPriors(p, ps.priorCommunalities, ps.opt.flags.heywood, ps.opt.flags.ultraHeywood)) {
    case PriorBound::Within:
      return true;
    case PriorBound::Adjusted:
      for (int i = 0; i < p; ++i) {
        ps.communalities[i] = ps.priorCommunalities[i];
        ps.corrMatrix[packedIndex(i, i)] = ps.priorCommunalities[i];
      }
      host().message(msg::kPriorsSetToBounds);
      return true;
    case PriorBound::AboveOne:
      heywoodCaseEnds(ps, msg::kHeywoodCase, msg::kHeywoodAdvice);
      return false;
    case PriorBound::Negative:
      heywoodCaseEnds(ps, msg::kNegativePrior, msg::kNegativePriorAdvice);
      return false;
  }
  return true;
}

}  // namespace

PrincipalEigen principalEigenvalues(int p, const double* reduced, const double* weights) {
  PrincipalEigen e;
  e.p = p;
  e.reduced.assign(reduced, reduced + static_cast<size_t>(p) * (p + 1) / 2);
  e.work.resize(static_cast<size_t>(10) * p);
  e.eigenvalues.resize(static_cast<size_t>(p));
  // Weighted analysis: the matrix W^1/2 R W^1/2.
  if (weights != nullptr) weightMatrix(p, e.reduced.data(), weights, e.work.data());
  e.order = gradedOrder(p, e.reduced.data());
  orderSymmetric(p, e.order, e.reduced.data());
  e.code = zeigen(p, e.reduced.data(), e.eigenvalues.data(), 0, nullptr, e.work.data());
  zeroTinyEigenvalues(p, e.eigenvalues.data());
  return e;
}

PrincipalLoadings principalLoadings(const PrincipalEigen& eigen, int k, const double* weights) {
  const int p = eigen.p;
  PrincipalEigen kept = eigen;  // the solver works on its reduction in place
  PrincipalLoadings out;
  out.vectors.resize(static_cast<size_t>(p) * k);
  out.code = zeigvec(p, k, kept.reduced.data(), kept.eigenvalues.data(), out.vectors.data(),
                     kept.work.data());
  restoreRows(p, k, kept.order, out.vectors.data());
  out.loadings = out.vectors;
  vectorsToLoadings(p, k, kept.eigenvalues.data(), weights, out.loadings.data());
  return out;
}

void principalExtract(ProcState& ps) {
  computePriors(ps);
  if (!priorsAdmissible(ps)) return;
  warnVariancesBeyondPrecision(ps);
  const int p = ps.opt.nVars;
  const bool weighted = ps.opt.flags.weighted;
  const double* weights = weighted ? ps.varWeights : nullptr;

  const PrincipalEigen eigen = principalEigenvalues(p, ps.corrMatrix, weights);
  eigenNote(eigen.code, ps.sink);
  std::copy(eigen.eigenvalues.begin(), eigen.eigenvalues.end(), ps.eigenvalues);

  if (ps.sink != nullptr) {
    const bool one = ps.priorsUsed == kPriorsOne;
    const msg::Id title =
        ps.opt.flags.covariance ? (one ? msg::kEigenCovTitle : msg::kEigenReducedCovTitle)
        : weighted ? (one ? msg::kEigenWeightedCorrTitle : msg::kEigenWeightedReducedCorrTitle)
                   : (one ? msg::kEigenCorrTitle : msg::kEigenReducedCorrTitle);
    printEigenvalueTable(ps, requiredText(title));
  }

  decideFactorCount(ps);
  const int k = ps.factorsRetained;
  if (k < 1) return;

  const PrincipalLoadings solution = principalLoadings(eigen, k, weights);
  eigenNote(solution.code, ps.sink);
  if (ps.opt.flags.eigenvectors && ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = solution.vectors.data(), .nRows = p,
                          .nCols = k, .rowLabels = 'V', .colLabels = 'F',
                          .title = kTitleEigenvectors, .name = "Eigenvectors",
                          .role = MatrixRole::Loadings});
  std::copy(solution.loadings.begin(), solution.loadings.end(), ps.loadings);
}

void weightMatrix(int p, double* r, const double* weights, double* roots) {
  for (int i = 0; i < p; ++i) roots[i] = std::sqrt(std::max(0.0, weights[i]));
  for (int i = 0; i < p; ++i)
    for (int j = 0; j <= i; ++j) r[packedIndex(i, j)] *= roots[i] * roots[j];
}

void vectorsToLoadings(int p, int k, const double* lambda, const double* weights,
                       double* vectors) {
  for (int j = 0; j < k; ++j) {
    const double root = std::sqrt(std::max(0.0, lambda[j]));
    double* column = vectors + static_cast<int64_t>(j) * p;
    for (int i = 0; i < p; ++i) {
      double a = column[i] * root;
      if (weights != nullptr) {
        const double w = weights[i];
        a *= w > 0.0 ? 1.0 / std::sqrt(w) : 0.0;
      }
      column[i] = a;
    }
  }
}

}  // namespace zulfact
