// THREADS= and the numeric engine: the engine library is loaded through
// the host toolkit's extension loader and told the step's sizes, limits and
// thread count.
#include "zulfact/options/grammar.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zul/abi_engine.h"

namespace zulfact::detail {

namespace {

// Without THREADS=: one thread unless the host's THREADS option is on, and
// then the processors CPUCOUNT gives (the host counts them, not the module).
int hostThreadCount() {
  if (!host().threadsOn()) return 1;
  const double cpus = host().cpuCount();
  return !zul_is_missing(cpus) && cpus >= 1 ? toInt(cpus) : 1;
}

}  // namespace

void StatementParser::createEngine() {
  // THREADS=0 counts as given but leaves the count to the host's options.
  ps_.opt.threadsGiven = rec_.given(kSlotThreads);
  const double threads = rec_.number(kSlotThreads, 0);
  ps_.opt.threadCount = threads >= 1 ? toInt(threads) : hostThreadCount();
  const zul_toolkit* toolkit = h_.toolkit();
  if (!toolkit || !toolkit->loadExtension || !toolkit->extensionSymbol) {
    h_.message(msg::kEngineNotLoaded);
    stop(ps_, kCodeMemory);
  }
  auto* extension = toolkit->loadExtension(L"qkxfac");
  if (!extension) {
    h_.message(msg::kEngineNotLoaded);
    stop(ps_, kCodeMemory);
  }
  ps_.engineExtension = extension;
  auto create = reinterpret_cast<zul_engine_create_fn>(
      toolkit->extensionSymbol(extension, ZUL_ENGINE_FACTORY));
  zul_engine_config config{};
  config.nVars = p_;
  config.fixed = -99;
  config.singularity = ps_.opt.singularity;
  config.convergence = ps_.opt.convergence;
  config.threadCount = ps_.opt.threadCount;
  config.threadsGiven = ps_.opt.threadsGiven ? 1 : 0;
  config.parallelLevel = ps_.opt.parallelLevel;
  config.nSims = ps_.opt.nSims;
  config.mapVariant = ps_.opt.mapVariant;
  config.parallelCriterion = ps_.opt.parallelCriterion;
  // The simulations of a parallel analysis follow PARALLEL(SEED=), so that
  // a given seed reproduces them; otherwise the step's RANDOM= seed.
  config.seed = ps_.opt.parallelRun ? ps_.opt.parallelSeed : ps_.seed;
  // Correlations about zero keep all N degrees of freedom: the parallel
  // analysis simulates crossproducts of as many rows.
  config.noIntercept = ps_.opt.flags.noIntercept ? 1 : 0;
  zul_engine* engine = create ? create(&config) : nullptr;
  if (!engine) {
    h_.message(msg::kEngineNotLoaded);
    stop(ps_, kCodeEngine);
  }
  ps_.factorEngine = engine;
  int32_t engineThreads = 0;
  int64_t length = sizeof engineThreads;
  if (!engine->ops || !engine->ops->get ||
      engine->ops->get(engine, ZUL_ITEM_THREADS, &engineThreads, &length, 0, 0) != ZUL_ENGINE_OK)
    stop(ps_, kCodeEngine);
  if (engineThreads < ps_.opt.threadCount) h_.message(msg::kFewerEngineThreads, {ps_.opt.threadCount, engineThreads});
}

}  // namespace zulfact::detail
