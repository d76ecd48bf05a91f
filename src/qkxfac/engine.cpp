#include "qkxfac/engine.hpp"

#include "qkxfac/rotation.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernels/packed.hpp"
#include "kernels/processors.hpp"

namespace qkxfac {

namespace {

Engine* self(zul_engine* e) { return static_cast<Engine*>(e); }

// The operations are the engine's C boundary: nothing thrown inside may
// leave them (see guarded).
void opDestroy(zul_engine* e) noexcept {
  guarded([&] {
    delete self(e);
    return ZUL_ENGINE_OK;
  });
}
void opReset(zul_engine* e) noexcept {
  guarded([&] {
    if (e) self(e)->reset();
    return ZUL_ENGINE_OK;
  });
}
int32_t opRun(zul_engine* e, const zul_rotation_request* r) noexcept {
  if (!e || !r) return ZUL_ENGINE_BAD_ARGUMENT;
  return guarded([&] { return self(e)->run(*r); });
}
int32_t opGet(zul_engine* e, int32_t item, void* buffer, int64_t* length, int64_t,
              int64_t) noexcept {
  if (!e) return ZUL_ENGINE_BAD_ARGUMENT;
  return guarded([&] { return self(e)->get(item, buffer, length); });
}
int32_t opSet(zul_engine* e, int32_t item, const void* buffer, int64_t length) noexcept {
  if (!e) return ZUL_ENGINE_BAD_ARGUMENT;
  return guarded([&] { return self(e)->set(item, buffer, length); });
}

const zul_engine_ops kOps = {&opDestroy, nullptr, &opReset, &opRun,
                             nullptr,    nullptr, &opGet,   &opSet};

constexpr int64_t kInt = 4;
constexpr int64_t kDouble = 8;

}  // namespace

Engine::Engine(const zul_engine_config& config) : config_(config) {
  ops = &kOps;
  int requested = std::max(1, config.threadCount);
  threads_ = std::max(1, std::min(requested, kernels::processorCount()));
}

void Engine::reset() {
  given_.clear();
  results_.clear();
  factorCounts_.clear();
}

int32_t Engine::intItem(int32_t item, int32_t fallback) const {
  auto it = given_.find(item);
  if (it == given_.end() || it->second.size() != sizeof(int32_t)) return fallback;
  int32_t v;
  std::memcpy(&v, it->second.data(), sizeof v);
  return v;
}

int64_t Engine::setLength(int32_t item) const {
  const int64_t p = intItem(ZUL_ITEM_NVARS, -1);
  const int64_t m = intItem(ZUL_ITEM_NFACTORS, -1);
  const int64_t n = config_.nVars;
  switch (item) {
    case ZUL_ITEM_NVARS:
    case ZUL_ITEM_NFACTORS:
      return kInt;
    case ZUL_ITEM_NOBS:
      return kDouble;
    case ZUL_ITEM_PATTERN:
      return (p >= 0 && m >= 0) ? p * m * kDouble : -1;
    case ZUL_ITEM_CORR:
      return static_cast<int64_t>(kernels::packedSize(n)) * kDouble;
    case ZUL_ITEM_STDDEVS:
      return n * kDouble;
    default:
      return -2;  // not an item that can be set
  }
}

int64_t Engine::getLength(int32_t item) const {
  const int64_t p = intItem(ZUL_ITEM_NVARS, config_.nVars);
  const int64_t m = intItem(ZUL_ITEM_NFACTORS, 0);
  const int64_t n = config_.nVars;
  switch (item) {
    case ZUL_ITEM_THREADS:
    case ZUL_ITEM_STATUS:
    case ZUL_ITEM_ITERATIONS:
    case ZUL_ITEM_PARALLEL_FACTORS:
    case ZUL_ITEM_MAP_FACTORS2:
    case ZUL_ITEM_MAP_FACTORS4:
    case ZUL_ITEM_NVARS:
    case ZUL_ITEM_NFACTORS:
      return kInt;
    case ZUL_ITEM_CRITERION:
    case ZUL_ITEM_CONVERGENCE:
    case ZUL_ITEM_NOBS:
      return kDouble;
    case ZUL_ITEM_ROTATED:
      return p * m * kDouble;
    case ZUL_ITEM_TRANSFORM:
      return m * m * kDouble;
    case ZUL_ITEM_FACTOR_CORR:
      return static_cast<int64_t>(kernels::packedSize(m)) * kDouble;
    case ZUL_ITEM_VAR_WEIGHTS:
      return p * kDouble;
    case ZUL_ITEM_FACTOR_WEIGHTS:
      return m * kDouble;
    case ZUL_ITEM_OBSERVED_EIGEN:
    case ZUL_ITEM_PARALLEL_MEAN:
    case ZUL_ITEM_PARALLEL_CRITICAL:
    case ZUL_ITEM_MAP_AVERAGE2:
    case ZUL_ITEM_MAP_AVERAGE4:
      return n * kDouble;
    case ZUL_ITEM_CORR:
      return static_cast<int64_t>(kernels::packedSize(n)) * kDouble;
    default:
      return -2;
  }
}

int32_t Engine::set(int32_t item, const void* buffer, int64_t length) {
  int64_t want = setLength(item);
  if (want == -2) return ZUL_ENGINE_UNKNOWN_ITEM;
  if (length < 0 || (length > 0 && !buffer)) return ZUL_ENGINE_BAD_ARGUMENT;
  if (want >= 0 && length != want) return ZUL_ENGINE_BAD_LENGTH;
  if (item == ZUL_ITEM_NVARS || item == ZUL_ITEM_NFACTORS) {
    int32_t v;
    std::memcpy(&v, buffer, sizeof v);
    if (v < 0) return ZUL_ENGINE_BAD_ARGUMENT;
  }
  const auto* b = static_cast<const uint8_t*>(buffer);
  given_[item].assign(b, b + length);  // a failed copy is ZUL_ENGINE_NO_MEMORY (guarded)
  if (item == ZUL_ITEM_NOBS || item == ZUL_ITEM_CORR) factorCounts_.clear();
  // A new rotation input invalidates the results of the previous run.
  if (item == ZUL_ITEM_NVARS || item == ZUL_ITEM_NFACTORS || item == ZUL_ITEM_PATTERN)
    results_.clear();
  return ZUL_ENGINE_OK;
}

int32_t Engine::get(int32_t item, void* buffer, int64_t* length) {
  if (!length) return ZUL_ENGINE_BAD_ARGUMENT;
  int64_t want = getLength(item);
  if (want == -2) return ZUL_ENGINE_UNKNOWN_ITEM;
  const std::vector<uint8_t>* source = nullptr;
  int32_t scalar = 0;
  if (item == ZUL_ITEM_THREADS) {
    scalar = threads_;
  } else {
    // Results of the engine's own computations first; for the numbers used
    // both ways (6 and 14), a value that was set is not a result.
    auto r = results_.find(item);
    if (r != results_.end()) {
      source = &r->second;
    } else if (NumberOfFactors::provides(item)) {
      source = factorCounts_.result(item, config_, threads_, given_);
    } else if (item != ZUL_ITEM_FACTOR_CORR && item != ZUL_ITEM_FACTOR_WEIGHTS) {
      auto g = given_.find(item);
      if (g != given_.end()) source = &g->second;
    }
    if (!source) return ZUL_ENGINE_NOT_AVAILABLE;
    want = static_cast<int64_t>(source->size());
  }
  if (*length < want || (want > 0 && !buffer)) {
    *length = want;
    return ZUL_ENGINE_BAD_LENGTH;
  }
  if (item == ZUL_ITEM_THREADS) std::memcpy(buffer, &scalar, sizeof scalar);
  else if (want > 0) std::memcpy(buffer, source->data(), static_cast<size_t>(want));
  *length = want;
  return ZUL_ENGINE_OK;
}

int32_t Engine::run(const zul_rotation_request& request) {
  results_.clear();
  auto put = [&](int32_t item, const void* data, size_t bytes) {
    auto* b = static_cast<const uint8_t*>(data);
    results_[item].assign(b, b + bytes);
  };
  auto putVector = [&](int32_t item, const std::vector<double>& v) {
    if (!v.empty()) put(item, v.data(), v.size() * sizeof(double));
  };

  RotationInput input;
  input.p = intItem(ZUL_ITEM_NVARS, -1);
  input.m = intItem(ZUL_ITEM_NFACTORS, -1);
  auto pattern = given_.find(ZUL_ITEM_PATTERN);
  if (pattern != given_.end() && input.p >= 0 && input.m >= 0 &&
      pattern->second.size() == static_cast<size_t>(input.p) * input.m * sizeof(double))
    input.pattern = reinterpret_cast<const double*>(pattern->second.data());
  // The variances of the analysed matrix (its diagonal) for NORM=COV.
  std::vector<double> variances;
  auto corr = given_.find(ZUL_ITEM_CORR);
  if (corr != given_.end() && input.p == config_.nVars) {
    const auto* packedCorr = reinterpret_cast<const double*>(corr->second.data());
    for (int i = 0; i < input.p; ++i) variances.push_back(packedCorr[kernels::packedIndex(i, i)]);
    input.variances = variances.data();
  }

  const RotationOutput out = rotate(request, input);
  const int32_t status = out.status, iterations = out.iterations;
  put(ZUL_ITEM_STATUS, &status, sizeof status);
  put(ZUL_ITEM_ITERATIONS, &iterations, sizeof iterations);
  put(ZUL_ITEM_CRITERION, &out.criterion, sizeof out.criterion);
  put(ZUL_ITEM_CONVERGENCE, &out.measure, sizeof out.measure);
  putVector(ZUL_ITEM_ROTATED, out.pattern);
  putVector(ZUL_ITEM_TRANSFORM, out.transform);
  putVector(ZUL_ITEM_FACTOR_CORR, out.factorCorr);
  putVector(ZUL_ITEM_VAR_WEIGHTS, out.varWeights);
  putVector(ZUL_ITEM_FACTOR_WEIGHTS, out.factorWeights);
  return ZUL_ENGINE_OK;
}

}  // namespace qkxfac

extern "C" ZUL_EXPORT zul_engine* zul_engine_create(const zul_engine_config* config) {
  if (!config || config->nVars < 0) return nullptr;
  try {
    return new qkxfac::Engine(*config);
  } catch (...) {
    return nullptr;  // the module reports a missing engine (code 1012)
  }
}
