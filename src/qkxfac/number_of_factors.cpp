#include "qkxfac/number_of_factors.hpp"

#include <cstring>

#include "qkxfac/map.hpp"
#include "qkxfac/parallel_analysis.hpp"

namespace qkxfac {

namespace {

const std::vector<uint8_t>* item(const ItemBytes& items, int32_t number, size_t bytes) {
  auto it = items.find(number);
  return it != items.end() && it->second.size() == bytes ? &it->second : nullptr;
}

template <typename T>
void put(ItemBytes& items, int32_t number, const T* values, size_t count) {
  const auto* b = reinterpret_cast<const uint8_t*>(values);
  items[number].assign(b, b + count * sizeof(T));
}

}  // namespace

bool NumberOfFactors::provides(int32_t number) {
  switch (number) {
    case ZUL_ITEM_OBSERVED_EIGEN:
    case ZUL_ITEM_PARALLEL_FACTORS:
    case ZUL_ITEM_PARALLEL_MEAN:
    case ZUL_ITEM_PARALLEL_CRITICAL:
    case ZUL_ITEM_MAP_FACTORS2:
    case ZUL_ITEM_MAP_AVERAGE2:
    case ZUL_ITEM_MAP_FACTORS4:
    case ZUL_ITEM_MAP_AVERAGE4:
      return true;
    default:
      return false;
  }
}

const std::vector<uint8_t>* NumberOfFactors::result(int32_t number,
                                                    const zul_engine_config& config,
                                                    int32_t threads, const ItemBytes& given) {
  if (results_.find(number) == results_.end()) {
    const bool isMap = number >= ZUL_ITEM_MAP_FACTORS2 && number <= ZUL_ITEM_MAP_AVERAGE4;
    // std::bad_alloc goes on to the caller, which reports it as memory
    // running out rather than as a result that cannot be computed.
    if (!(isMap ? runMap(config, given) : runParallel(config, threads, given))) return nullptr;
  }
  auto it = results_.find(number);
  return it != results_.end() ? &it->second : nullptr;
}

bool NumberOfFactors::runParallel(const zul_engine_config& config, int32_t threads,
                                  const ItemBytes& given) {
  const size_t p = static_cast<size_t>(config.nVars);
  const auto* corr = item(given, ZUL_ITEM_CORR, p * (p + 1) / 2 * sizeof(double));
  const auto* nObs = item(given, ZUL_ITEM_NOBS, sizeof(double));
  if (!corr || !nObs) return false;
  ParallelAnalysisInput in;
  in.p = config.nVars;
  in.corr = reinterpret_cast<const double*>(corr->data());
  std::memcpy(&in.nObs, nObs->data(), sizeof in.nObs);
  in.aboutZero = config.noIntercept != 0;
  in.nSims = config.nSims;
  in.level = config.parallelLevel;
  in.seed = static_cast<uint32_t>(config.seed);
  in.threads = threads;
  ParallelAnalysisResult out;
  if (parallelAnalysis(in, out) != 0) return false;
  put(results_, ZUL_ITEM_PARALLEL_FACTORS, &out.factors, 1);
  put(results_, ZUL_ITEM_PARALLEL_MEAN, out.mean.data(), p);
  put(results_, ZUL_ITEM_PARALLEL_CRITICAL, out.critical.data(), p);
  put(results_, ZUL_ITEM_OBSERVED_EIGEN, out.observed.data(), p);
  return true;
}

bool NumberOfFactors::runMap(const zul_engine_config& config, const ItemBytes& given) {
  const size_t p = static_cast<size_t>(config.nVars);
  const auto* corr = item(given, ZUL_ITEM_CORR, p * (p + 1) / 2 * sizeof(double));
  if (!corr || p < 1) return false;
  MapResult out;
  if (velicerMap(config.nVars, reinterpret_cast<const double*>(corr->data()), out) != 0)
    return false;
  put(results_, ZUL_ITEM_MAP_FACTORS2, &out.factors2, 1);
  put(results_, ZUL_ITEM_MAP_AVERAGE2, out.average2.data(), p);
  put(results_, ZUL_ITEM_MAP_FACTORS4, &out.factors4, 1);
  put(results_, ZUL_ITEM_MAP_AVERAGE4, out.average4.data(), p);
  return true;
}

}  // namespace qkxfac
