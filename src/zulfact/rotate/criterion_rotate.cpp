#include "zulfact/rotate/criterion_rotate.hpp"

#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "zul/abi_engine.h"
#include "zulfact/host/host.hpp"
#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/variance_explained.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

using kernels::choleskyRow;
using kernels::multiply;
using kernels::packedIndex;

namespace {

// NORM= codes to the engine's normalisation codes.
int engineNormalization(int norm) {
  switch (norm) {
    case kNormKaiser:
    case kNormWeight:
    case kNormRaw:
    case kNormCov: return norm;  // the same numbers as ZUL_NORM_KAISER ... ZUL_NORM_COVARIANCE
    default: return ZUL_NORM_BY_FLAG;
  }
}

[[noreturn]] void engineFailure(ProcState& ps) {
  raiseCode(ps, kCodeEngine);
  host().endStep(ps.completionCode, 0);
}

zul_engine* engineOf(ProcState& ps) {
  auto* engine = static_cast<zul_engine*>(ps.factorEngine);
  if (engine == nullptr || engine->ops == nullptr) engineFailure(ps);
  return engine;
}

void engineSet(ProcState& ps, int item, const void* buffer, int64_t bytes) {
  zul_engine* engine = engineOf(ps);
  if (!engine->ops->set || engine->ops->set(engine, item, buffer, bytes) != ZUL_ENGINE_OK)
    engineFailure(ps);
}

void engineGet(ProcState& ps, int item, void* buffer, int64_t bytes) {
  zul_engine* engine = engineOf(ps);
  int64_t length = bytes;
  if (!engine->ops->get || engine->ops->get(engine, item, buffer, &length, 0, 0) != ZUL_ENGINE_OK)
    engineFailure(ps);
}

std::string shown(double v) { return std::isnan(v) ? std::string() : fmt::format("{:g}", v); }

// The method's name with the parameters it shows, for the heading.
std::string methodName(int nameMessage, int count, const RotationParams& params) {
  Host& h = host();
  const std::string a = shown(params[0]), b = shown(params[1]), c = shown(params[2]),
                    d = shown(params[3]);
  switch (count) {
    case 1: return h.formatMessage(msg::kFactorGroup, nameMessage, {a});
    case 2: return h.formatMessage(msg::kFactorGroup, nameMessage, {a, b});
    case 4: return h.formatMessage(msg::kFactorGroup, nameMessage, {a, b, c, d});
    default: return h.formatMessage(msg::kFactorGroup, nameMessage);
  }
}

// When an oblique solution is in hand, the engine gets the pattern in an
// orthogonal basis of the same common factor space, L C with Phi = C C^T,
// so that its criterion is that of the factors in hand; the returned
// transformation X then maps L through C X. False when Phi is not
// positive definite.
bool orthogonalBasis(ProcState& ps, std::vector<double>& c) {
  const int m = ps.nFactors;
  std::vector<double> packed(ps.factorCorr, ps.factorCorr + static_cast<size_t>(m) * (m + 1) / 2);
  for (int i = 0; i < m; ++i) {
    choleskyRow(i, packed.data(), 0.0);
    if (!(packed[packedIndex(i, i)] > 0.0)) return false;
  }
  c.assign(static_cast<size_t>(m) * m, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) c[i + j * m] = packed[packedIndex(i, j)];
  return true;
}

// a (p x m) = a C, in place through a copy.
void multiplyRight(double* a, int rows, const std::vector<double>& c, int m) {
  std::vector<double> copy(a, a + static_cast<size_t>(rows) * m);
  multiply(copy.data(), c.data(), a, rows, m, m);
}

// The engine's weights of the variables ('V', item 13) or of the factors
// ('F', item 14) as a table of one column.
void printWeights(ProcState& ps, char kind) {
  const bool vars = kind == 'V';
  const int n = vars ? ps.nVars : ps.nFactors;
  std::vector<double> w(static_cast<size_t>(n));
  engineGet(ps, vars ? ZUL_ITEM_VAR_WEIGHTS : ZUL_ITEM_FACTOR_WEIGHTS, w.data(), 8 * static_cast<int64_t>(n));
  VectorTable t;
  t.name = vars ? "VarWeightRotate" : "FactorWeightRotate";
  t.title = titleLine(msg::kFactorGroup, vars ? kTitleVarWeights : kTitleFactorWeights, {});
  t.labelKind = kind;
  t.nRows = n;
  t.columns.push_back({"Weight", "", w.data()});
  printVectorTable(ps, t);
}

// Acts on the engine's status: a note for a result that is used though it
// did not reach RCONVERGE=, the end of the step for none.
void checkStatus(ProcState& ps, int status, int iterations, double criterion, double measure) {
  Host& h = host();
  switch (status) {
    case ZUL_ENGINE_STATUS_STALLED:
      h.message(msg::kRotationStalled, {criterion, measure, iterations});
      raiseCode(ps, kCodeWarning);
      return;
    case ZUL_ENGINE_STATUS_ITERATION_LIMIT:
      h.message(msg::kRotationNotConverged, {ps.rotationMaxIter});
      engineFailure(ps);
    case ZUL_ENGINE_STATUS_NO_PROGRESS:
      h.message(msg::kRotationNoOptimum);
      engineFailure(ps);
    case ZUL_ENGINE_STATUS_FAILED:
      h.message(msg::kRotationEngineFailed);
      engineFailure(ps);
    case ZUL_ENGINE_STATUS_UNSUPPORTED:
      h.message(msg::kRotationMethodUnknown);
      engineFailure(ps);
    default:
      return;
  }
}

}  // namespace

int CriterionRotate(ProcState& ps, int code, int index) {
  Host& h = host();
  if (code == kRotNone || code == kRotPromax || code == kRotProcrustes) return 0;
  if (ps.rotationMaxIter == 0) {
    h.message(msg::kRotationNoIterations);
    return 0;
  }
  bool hk = code == kRotHk || !zul_is_missing(ps.hkPower);
  const bool engineOblique = evaluateEngineOblique(ps, code);
  if (hk && engineOblique) {
    h.message(msg::kHkPowerNotOblique);
    hk = false;
  }

  RotationParams params;
  params.fill(zul_missing());
  if (code == kRotHk || code >= kRotOrthomax) params = rotationParams(ps, index);
  if (zul_is_missing(params[0])) {
    if (code == kRotOrthomax) params[0] = zul_is_missing(ps.gamma) ? 1.0 : ps.gamma;
    if (code == kRotOblimin) params[0] = zul_is_missing(ps.tau) ? 0.0 : ps.tau;
    if (code == kRotHk) params[0] = zul_is_missing(ps.hkPower) ? 0.0 : ps.hkPower;
  }

  // Heading: in Harris-Kaiser mode the HK method with its power.
  const RotationKind kind = rotationKind(code);
  std::string name;
  if (hk) {
    RotationParams power = params;
    if (code != kRotHk) power[0] = zul_is_missing(ps.hkPower) ? 0.0 : ps.hkPower;
    name = methodName(msg::kHarrisKaiserName.number, 1, power);
  } else {
    name = methodName(kind.nameMessage, kind.shownParams, params);
  }
  openSection(ps, index == -1 ? SectionKind::Prerotated : SectionKind::Rotated, 0, name);
  if (code == kRotHk) {
    // HK(x) sets the power for this and later rotations; HK rotates by
    // ORTHOMAX with GAMMA=.
    if (!zul_is_missing(params[0])) ps.hkPower = params[0];
    params[0] = zul_is_missing(ps.gamma) ? 1.0 : ps.gamma;
  }
  for (double& v : params)
    if (zul_is_missing(v)) v = 0.0;  // a parameter not given weighs nothing

  const int p = ps.nVars, m = ps.nFactors;
  const RotationParams k = criterionCoefficients(code, p, m, params);

  if (m < 2) {
    const msg::Id id = m == 1 ? msg::kRotationOneFactor : msg::kRotationNoFactor;
    h.message(id, {m});
    if (ps.sink != nullptr)
      TableWriter(ps.sink).note("RotationNote", Text(h.formatMessage(id.group, id.number, {m})));
    return 0;
  }

  std::vector<double> basis;
  const bool inObliqueBasis = ps.obliqueCount > 0;
  if (inObliqueBasis) {
    if (!orthogonalBasis(ps, basis)) {
      h.message(msg::kFactorCorrSingular);
      raiseCode(ps, kCodeNoData);
      ps.nFactors = 0;
      return 0;
    }
    multiplyRight(ps.loadings, p, basis, m);
  }

  const int32_t p32 = p, m32 = m;
  engineSet(ps, ZUL_ITEM_NVARS, &p32, 4);
  engineSet(ps, ZUL_ITEM_NFACTORS, &m32, 4);
  engineSet(ps, ZUL_ITEM_PATTERN, ps.loadings, 8 * static_cast<int64_t>(p) * m);
  zul_rotation_request request{};
  request.method = kind.engineMethod;
  request.normalization = engineNormalization(ps.norm);
  request.rowNormalize = (ps.norm == 0 || ps.norm == kNormKaiser) ? 1 : 0;
  request.one = 1;
  request.wantTransform = 1;
  request.maxIter = ps.rotationMaxIter;
  request.gamma = ps.gamma;
  request.tau = ps.tau;
  request.hkPower = hk ? (zul_is_missing(ps.hkPower) ? 0.0 : ps.hkPower) : ps.hkPower;
  request.power = ps.power;
  request.convergence = ps.rotationConvergence;
  for (int i = 0; i < 4; ++i) request.coefficients[i] = request.workCoefficients[i] = k[i];
  zul_engine* engine = engineOf(ps);
  if (!engine->ops->run) engineFailure(ps);
  engine->ops->run(engine, &request);

  if ((ps.norm == kNormWeight || ps.norm == kNormCov) && ps.sink != nullptr) printWeights(ps, 'V');
  if (hk) {
    ps.obliqueCount = m;
    const double power = zul_is_missing(ps.hkPower) ? 0.0 : ps.hkPower;
    if (power != 0.0 && ps.sink != nullptr) printWeights(ps, 'F');
  }

  int32_t status = 0, iterations = 0;
  double criterion = 0.0, measure = 0.0;
  engineGet(ps, ZUL_ITEM_STATUS, &status, 4);
  engineGet(ps, ZUL_ITEM_ITERATIONS, &iterations, 4);
  engineGet(ps, ZUL_ITEM_CRITERION, &criterion, 8);
  engineGet(ps, ZUL_ITEM_CONVERGENCE, &measure, 8);
  checkStatus(ps, status, iterations, criterion, measure);

  engineGet(ps, ZUL_ITEM_ROTATED, ps.loadings, 8 * static_cast<int64_t>(p) * m);
  if (engineOblique)
    engineGet(ps, ZUL_ITEM_FACTOR_CORR, ps.factorCorr, 8 * static_cast<int64_t>(m) * (m + 1) / 2);
  engineGet(ps, ZUL_ITEM_TRANSFORM, ps.transform, 8 * static_cast<int64_t>(m) * m);
  if (inObliqueBasis) {
    // The transformation of the pattern in hand is C X. An orthogonal
    // criterion leaves orthogonal factors.
    std::vector<double> x(ps.transform, ps.transform + static_cast<size_t>(m) * m);
    multiply(basis.data(), x.data(), ps.transform, m, m, m);
    if (!engineOblique && !hk) {
      ps.obliqueCount = 0;
      for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j) ps.factorCorr[packedIndex(i, j)] = i == j ? 1.0 : 0.0;
    }
  }

  if (!ps.flags.oblique && ps.obliqueCount < 1) {
    if (ps.sink != nullptr)
      printMatrixTable(ps, 'C', ps.transform, nullptr, m, m, 'N', 'N', kTitleOrthTrans, 0, "OrthTrans",
                       "Stat.Factor.OrthTrans", 0);
    if (ps.flags.reorder && ps.varOrder != nullptr)
      computeVariableOrder(ps.loadings, p, m, ps.varOrder);
    if (ps.sink != nullptr)
      printMatrixTable(ps, 'C', ps.loadings, nullptr, p, m, 'V', 'F', kTitleOrthRotFactPat, 0, "OrthRotFactPat",
                       "Stat.Factor.OrthRotFactPat", 1);
    varianceExplained(ps, 0);
    return 0;
  }
  FinishOblique(ps, hk ? kObliqueHarrisKaiser : kObliqueFromEngine);
  if (ps.nFactors == 0) return 0;
  if (ps.sink != nullptr)
    printMatrixTable(ps, 'C', ps.transform, nullptr, m, m, 'N', 'N', kTitleObliqueTrans, 0, "ObliqueTrans",
                     "Stat.Factor.ObliqueTrans", 0);
  PrintObliqueTables(ps);
  return 0;
}

}  // namespace zulfact
