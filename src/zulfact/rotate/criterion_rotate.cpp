#include "zulfact/rotate/criterion_rotate.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "zulfact/host/host.hpp"
#include "kernels/dense.hpp"
#include "kernels/linalg.hpp"
#include "zul/abi_engine.h"
#include "zulfact/output/matrix_printer.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/variance_explained.hpp"
#include "zulfact/output/vector_table.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/rotate/rotated_errors.hpp"
#include "zulfact/rotate/standard_errors.hpp"
#include "zulfact/rotate/target_rotate.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/output/outstat_rows.hpp"

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

bool engineSet(zul_engine* engine, int item, const void* buffer, int64_t bytes) {
  return engine->ops->set && engine->ops->set(engine, item, buffer, bytes) == ZUL_ENGINE_OK;
}

bool engineGet(zul_engine* engine, int item, void* buffer, int64_t bytes) {
  int64_t length = bytes;
  return engine->ops->get && engine->ops->get(engine, item, buffer, &length, 0, 0) == ZUL_ENGINE_OK;
}

// Reads n doubles of an item into v; false on failure.
bool engineGetVector(zul_engine* engine, int item, std::vector<double>& v, size_t n) {
  v.resize(n);
  return engineGet(engine, item, v.data(), 8 * static_cast<int64_t>(n));
}

std::string shown(double v) { return std::isnan(v) ? std::string() : fmt::format("{:g}", v); }

// The method's name with the parameters it shows, for the heading.
std::string methodName(msg::Id name, int count, const RotationParams& params) {
  Host& h = host();
  const std::string a = shown(params[0]), b = shown(params[1]), c = shown(params[2]),
                    d = shown(params[3]);
  switch (count) {
    case 1: return h.formatMessage(name, {a});
    case 2: return h.formatMessage(name, {a, b});
    case 4: return h.formatMessage(name, {a, b, c, d});
    default: return h.formatMessage(name);
  }
}

// Code 1012 raised; the completion code is returned for the caller to end
// the step with.
int engineFailure(ProcState& ps) {
  raiseCode(ps, kCodeEngine);
  return ps.completionCode;
}

// a (rows x m) = a C, in place through a copy.
void multiplyRight(double* a, int rows, const std::vector<double>& c, int m) {
  std::vector<double> copy(a, a + static_cast<size_t>(rows) * m);
  multiply(copy.data(), c.data(), a, rows, m, m);
}

// The engine's weights of the variables (item 13) or of the factors (item
// 14) as a table of one column.
void printWeights(ProcState& ps, bool variables, const std::vector<double>& w) {
  VectorTable t;
  t.name = variables ? "VarWeightRotate" : "FactorWeightRotate";
  t.title = titleLine(msg::kFactorGroup, variables ? kTitleVarWeights : kTitleFactorWeights, {});
  t.labelKind = variables ? 'V' : 'F';
  t.nRows = static_cast<int>(w.size());
  t.columns.push_back({"Weight", "", w.data()});
  printVectorTable(ps, t);
}

// True when the packed factor correlations where the engine stopped are
// all but singular: some factor is nearly a linear combination of the
// others. Oblimin with tau > 0 and other criteria with a positive column
// term can decrease without bound along such a path (Jennrich 1979), so
// the engine's lack of progress there means the criterion has no minimum.
bool factorsCollinear(const std::vector<double>& packedPhi, int m) {
  if (packedPhi.size() != static_cast<size_t>(m) * (m + 1) / 2) return false;
  std::vector<double> packed(packedPhi);
  double det = 1.0;  // product of the Cholesky pivots
  for (int i = 0; i < m; ++i) det *= std::max(0.0, choleskyRow(i, packed.data(), 0.0));
  return !(det > 1e-6);
}

// Acts on the engine's status: a note for a result that is used though it
// did not reach RCONVERGE=; for no usable result a message, code 1012
// raised and the completion code returned (0 otherwise).
int checkStatus(ProcState& ps, const CriterionResult& r, const std::string& method, int index) {
  Host& h = host();
  switch (r.status) {
    case ZUL_ENGINE_STATUS_STALLED:
      h.message(msg::kRotationStalled, {r.criterion, r.measure, r.iterations});
      raiseCode(ps, kCodeWarning);
      return 0;
    case ZUL_ENGINE_STATUS_ITERATION_LIMIT: h.message(msg::kRotationNotConverged, {ps.opt.rotationMaxIter}); break;
    case ZUL_ENGINE_STATUS_NO_PROGRESS:
      if (factorsCollinear(r.factorCorr, ps.nFactors))
        h.message(msg::kRotationFactorsCollapse, {index == -1 ? "PREROTATE=" : "ROTATE=", method});
      else
        h.message(msg::kRotationNoOptimum);
      break;
    case ZUL_ENGINE_STATUS_FAILED: h.message(msg::kRotationEngineFailed); break;
    case ZUL_ENGINE_STATUS_UNSUPPORTED: h.message(msg::kRotationMethodUnknown, {method}); break;
    default: return 0;
  }
  return engineFailure(ps);
}

// Rotation with no iterations (RITER=0): the transformation applied is the
// identity, so the one from the unrotated pattern stays what it was (the
// identity the unrotated solution set, for the group's first rotation).
void leaveUnrotated() { host().message(msg::kRotationNoIterations); }

// The engine's results into the solution in hand. After an oblique
// solution the transformation of the pattern in hand is C X, and an
// orthogonal criterion leaves orthogonal factors.
void takeResult(ProcState& ps, const CriterionSetup& setup, CriterionResult& r,
                const std::vector<double>& basis) {
  const int m = ps.nFactors;
  std::copy(r.pattern.begin(), r.pattern.end(), ps.loadings);
  if (setup.engineOblique) std::copy(r.factorCorr.begin(), r.factorCorr.end(), ps.factorCorr);
  if (basis.empty()) {
    std::copy(r.transform.begin(), r.transform.end(), ps.transform);
    return;
  }
  multiply(basis.data(), r.transform.data(), ps.transform, m, m, m);
  if (!setup.engineOblique && !setup.harrisKaiser) {
    ps.obliqueCount = 0;
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) ps.factorCorr[packedIndex(i, j)] = i == j ? 1.0 : 0.0;
  }
}

// ps.transform = previous ps.transform when the rotation follows another:
// the stored and printed T takes the unrotated pattern to the pattern in
// hand, however many rotations the group made before this one.
void composeWithPrevious(ProcState& ps, const std::vector<double>& previous) {
  if (!previous.empty()) composeTransform(ps.transform, previous.data(), ps.nFactors);
}

void printOrthogonalSolution(ProcState& ps, const std::vector<double>& previous) {
  const int p = ps.opt.nVars, m = ps.nFactors;
  composeWithPrevious(ps, previous);
  if (ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = ps.transform, .nRows = m, .nCols = m,
                          .rowLabels = 'N', .colLabels = 'N', .title = kTitleOrthTrans,
                          .name = "OrthTrans"});
  if (ps.opt.flags.reorder && ps.varOrder != nullptr) computeVariableOrder(ps.loadings, p, m, ps.varOrder);
  if (ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = ps.loadings, .nRows = p, .nCols = m,
                          .rowLabels = 'V', .colLabels = 'F', .title = kTitleOrthRotFactPat,
                          .name = "OrthRotFactPat", .role = MatrixRole::Loadings, .coverage = true,
                          .stdErrors = ps.stdErrPattern});
  varianceExplained(ps, 0);
}

// FinishOblique derives the Harris-Kaiser Phi from this rotation's own T,
// so the earlier rotations are composed in after it.
void printObliqueSolution(ProcState& ps, bool harrisKaiser, const std::vector<double>& previous) {
  FinishOblique(ps, harrisKaiser ? kObliqueHarrisKaiser : kObliqueFromEngine);
  if (ps.nFactors == 0) return;
  const int m = ps.nFactors;
  composeWithPrevious(ps, previous);
  if (ps.sink != nullptr)
    printMatrixTable(ps, {.storage = 'C', .values = ps.transform, .nRows = m, .nCols = m,
                          .rowLabels = 'N', .colLabels = 'N', .title = kTitleObliqueTrans,
                          .name = "ObliqueTrans"});
  PrintObliqueTables(ps);
}

}  // namespace

void tooFewFactors(ProcState& ps, int m) {
  Host& h = host();
  const msg::Id id = m == 1 ? msg::kRotationOneFactor : msg::kRotationNoFactor;
  h.message(id, {m});
  if (ps.sink != nullptr)
    TableWriter(ps.sink).note("RotationNote", Text(h.formatMessage(id.group, id.number, {m})));
}

CriterionSetup criterionSetup(const ProcState& ps, int code, int index) {
  CriterionSetup s;
  const double hkPower = hkPowerFor(ps.opt, index);
  s.engineOblique = isEngineOblique(code);
  s.harrisKaiser = code == kRotHk || !zul_is_missing(hkPower);
  if (s.harrisKaiser && s.engineOblique) {
    s.hkPowerIgnored = true;
    s.harrisKaiser = false;
  }
  s.hkPowerGiven = hkPower;
  s.hkPower = zul_is_missing(hkPower) ? 0.0 : hkPower;

  RotationParams params;
  params.fill(zul_missing());
  if (code == kRotHk || code >= kRotOrthomax) params = rotationParams(ps.opt, index);
  if (zul_is_missing(params[0])) {
    if (code == kRotOrthomax) params[0] = zul_is_missing(ps.opt.gamma) ? 1.0 : ps.opt.gamma;
    if (code == kRotOblimin) params[0] = zul_is_missing(ps.opt.tau) ? 0.0 : ps.opt.tau;
  }
  const RotationKind kind = rotationKind(code);
  s.engineMethod = kind.engineMethod;
  if (s.harrisKaiser) {
    // The heading names the Harris-Kaiser method with its power.
    s.name = msg::kHarrisKaiserName;
    s.shownParams = 1;
    s.shown = {s.hkPower, zul_missing(), zul_missing(), zul_missing()};
  } else {
    s.name = kind.name;
    s.shownParams = kind.shownParams;
    s.shown = params;
  }
  // HK rotates by ORTHOMAX with GAMMA=; a parameter not given weighs nothing.
  if (code == kRotHk) params[0] = zul_is_missing(ps.opt.gamma) ? 1.0 : ps.opt.gamma;
  for (double& v : params)
    if (zul_is_missing(v)) v = 0.0;
  s.coefficients = criterionCoefficients(code, ps.opt.nVars, ps.nFactors, params);
  return s;
}

zul_rotation_request engineRequest(const ProcState& ps, const CriterionSetup& setup) {
  zul_rotation_request request{};
  request.method = setup.engineMethod;
  request.normalization = engineNormalization(ps.opt.norm);
  request.rowNormalize = (ps.opt.norm == 0 || ps.opt.norm == kNormKaiser) ? 1 : 0;
  request.one = 1;
  request.wantTransform = 1;
  request.maxIter = ps.opt.rotationMaxIter;
  request.gamma = ps.opt.gamma;
  request.tau = ps.opt.tau;
  request.hkPower = setup.harrisKaiser ? setup.hkPower : setup.hkPowerGiven;
  request.power = ps.opt.power;
  request.convergence = ps.opt.rotationConvergence;
  for (int i = 0; i < 4; ++i) request.coefficients[i] = request.workCoefficients[i] = setup.coefficients[i];
  return request;
}

CriterionResult runCriterionEngine(zul_engine* engine, const zul_rotation_request& request,
                                   const double* pattern, int p, int m, bool wantVarWeights,
                                   bool wantFactorWeights, bool wantFactorCorr) {
  CriterionResult r;
  if (engine == nullptr || engine->ops == nullptr) return r;
  const int32_t p32 = p, m32 = m;
  const size_t pm = static_cast<size_t>(p) * m;
  if (!engineSet(engine, ZUL_ITEM_NVARS, &p32, 4) || !engineSet(engine, ZUL_ITEM_NFACTORS, &m32, 4) ||
      !engineSet(engine, ZUL_ITEM_PATTERN, pattern, 8 * static_cast<int64_t>(pm)) || !engine->ops->run)
    return r;
  zul_rotation_request copy = request;
  engine->ops->run(engine, &copy);
  if (wantVarWeights && !engineGetVector(engine, ZUL_ITEM_VAR_WEIGHTS, r.varWeights, p)) return r;
  if (wantFactorWeights && !engineGetVector(engine, ZUL_ITEM_FACTOR_WEIGHTS, r.factorWeights, m))
    return r;
  int32_t status = 0, iterations = 0;
  if (!engineGet(engine, ZUL_ITEM_STATUS, &status, 4) ||
      !engineGet(engine, ZUL_ITEM_ITERATIONS, &iterations, 4) ||
      !engineGet(engine, ZUL_ITEM_CRITERION, &r.criterion, 8) ||
      !engineGet(engine, ZUL_ITEM_CONVERGENCE, &r.measure, 8))
    return r;
  r.status = status;
  r.iterations = iterations;
  if (!engineGetVector(engine, ZUL_ITEM_ROTATED, r.pattern, pm)) return r;
  if (wantFactorCorr &&
      !engineGetVector(engine, ZUL_ITEM_FACTOR_CORR, r.factorCorr, static_cast<size_t>(m) * (m + 1) / 2))
    return r;
  r.ok = engineGetVector(engine, ZUL_ITEM_TRANSFORM, r.transform, static_cast<size_t>(m) * m);
  return r;
}

bool orthogonalBasis(const double* packedPhi, int m, std::vector<double>& c) {
  std::vector<double> packed(packedPhi, packedPhi + static_cast<size_t>(m) * (m + 1) / 2);
  for (int i = 0; i < m; ++i) {
    choleskyRow(i, packed.data(), 0.0);
    if (!(packed[packedIndex(i, i)] > 0.0)) return false;
  }
  c.assign(static_cast<size_t>(m) * m, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) c[i + j * m] = packed[packedIndex(i, j)];
  return true;
}

int CriterionRotate(ProcState& ps, int code, int index) {
  Host& h = host();
  if (code == kRotNone || code == kRotPromax || code == kRotProcrustes) return 0;
  if (ps.opt.rotationMaxIter == 0) {
    leaveUnrotated();
    return 0;
  }
  const CriterionSetup setup = criterionSetup(ps, code, index);
  if (setup.hkPowerIgnored) h.message(msg::kHkPowerNotOblique);
  const std::string method = methodName(setup.name, setup.shownParams, setup.shown);
  openSection(ps, index == -1 ? SectionKind::Prerotated : SectionKind::Rotated, 0, method);
  const int p = ps.opt.nVars, m = ps.nFactors;
  if (m < 2) {
    tooFewFactors(ps, m);
    return 0;
  }

  // After an oblique solution the engine gets the pattern in an orthogonal
  // basis of the same common-factor space, L C with Phi = C C^T, so that
  // its criterion is that of the factors in hand.
  std::vector<double> basis;
  if (ps.obliqueCount > 0) {
    if (!orthogonalBasis(ps.factorCorr, m, basis)) {
      h.message(msg::kFactorCorrSingular);
      raiseCode(ps, kCodeNoData);
      failGroupRows();
      ps.nFactors = 0;
      return 0;
    }
    multiplyRight(ps.loadings, p, basis, m);
  }

  const bool varWeights = (ps.opt.norm == kNormWeight || ps.opt.norm == kNormCov) && ps.sink != nullptr;
  const bool factorWeights = setup.harrisKaiser && setup.hkPower != 0.0 && ps.sink != nullptr;
  CriterionResult r = runCriterionEngine(static_cast<zul_engine*>(ps.factorEngine),
                                         engineRequest(ps, setup), ps.loadings, p, m, varWeights,
                                         factorWeights, setup.engineOblique);
  if (varWeights && !r.varWeights.empty()) printWeights(ps, true, r.varWeights);
  if (setup.harrisKaiser) ps.obliqueCount = m;
  if (factorWeights && !r.factorWeights.empty()) printWeights(ps, false, r.factorWeights);
  if (r.status != 0)
    if (const int failed = checkStatus(ps, r, method, index)) return failed;
  if (!r.ok) return engineFailure(ps);
  std::vector<double> previous;
  if (followsAnotherRotation(ps.opt, index))
    previous.assign(ps.transform, ps.transform + static_cast<size_t>(m) * m);
  takeResult(ps, setup, r, basis);
  // A Harris-Kaiser solution is oblique whatever criterion found its axes:
  // the step treats it as HK.
  if (rotatedErrorsWanted(ps))
    RotationStdErrors(ps, setup.harrisKaiser ? kRotHk : code, setup.coefficients.data());

  if (!isObliqueSolution(code) && ps.obliqueCount < 1) printOrthogonalSolution(ps, previous);
  else printObliqueSolution(ps, setup.harrisKaiser, previous);
  return 0;
}

}  // namespace zulfact
