// The "-zparse" log lines: the options as the statement parser left them,
// one line for each group of options.
#include <fmt/format.h>

#include "zulfact/options/statement_parser.hpp"

namespace zulfact::detail {

namespace {

// A double option as the log shows it: "." when missing.
std::string shown(double x) { return zul_is_missing(x) ? std::string(".") : fmt::format("{}", x); }

}  // namespace

void logOptions(const ProcState& ps) {
  Host& h = host();
  auto line = [&](const std::string& s) { h.logLine(ZUL_LOG_NOTE, "zparse: " + s); };
  line(fmt::format("inputType={} raw={} nVars={} nPartial={} nBy={} method={} priorsMethod={} "
                   "norm={} vardef={}",
                   trimRight(ps.inputType), int(ps.flags.rawInput), ps.nVars, ps.nPartial, ps.nBy,
                   ps.method, ps.priorsMethod, ps.norm, trimRight(ps.vardef)));
  line(fmt::format("nFactorsRequested={} nFactors={} minEigen={} proportion={} "
                   "parallelCriterion={} mapVariant={} parallelRun={} mapRun={} parallelLevel={} "
                   "nSims={} parallelSeed={} seed={}",
                   ps.nFactorsRequested, ps.nFactors, shown(ps.minEigen), shown(ps.proportion),
                   ps.parallelCriterion, ps.mapVariant, ps.parallelRun, ps.mapRun,
                   shown(ps.parallelLevel), ps.nSims, ps.parallelSeed, ps.seed));
  std::string list;
  for (int i = 0; i < ps.rotationListLength; ++i)
    list += (i ? "," : "") + std::to_string(ps.rotationList[i]);
  std::string params;
  for (int i = 0; i < ps.rotationParamCount; ++i)
    params += fmt::format("{}{}@{}", i ? "," : "", ps.rotationParams[i],
                          ps.rotationParamPositions[i]);
  line(fmt::format("prerotation={} finalRotation={} rotationList=[{}] rotationParams=[{}] "
                   "rotationCount={} rotationRequested={} oblique={} gamma={} tau={} power={} "
                   "hkPower={} rotationMaxIter={} rotationConvergence={}",
                   ps.prerotation, ps.finalRotation, list, params, ps.rotationCount,
                   int(ps.flags.rotationRequested), int(ps.flags.oblique), shown(ps.gamma), shown(ps.tau),
                   shown(ps.power), shown(ps.hkPower), ps.rotationMaxIter, shown(ps.rotationConvergence)));
  line(fmt::format("convergence={} maxIter={} singularity={} fuzz={} flagThreshold={} "
                   "roundMode={} heywood={} ultraHeywood={} weighted={} correlationNeeded={} "
                   "outRequested={} outstatRequested={} threadCount={} factorNameWidth={}",
                   shown(ps.convergence), ps.maxIter, shown(ps.singularity), shown(ps.fuzz), shown(ps.flagThreshold),
                   int(ps.flags.roundMode), int(ps.flags.heywood), int(ps.flags.ultraHeywood),
                   int(ps.flags.weighted), int(ps.flags.correlationNeeded),
                   int(ps.flags.outRequested), int(ps.flags.outstatRequested), ps.threadCount,
                   ps.factorNameWidth));
  line(fmt::format("hypValue={} stdErrLevel={} coverValue={} needStdErr={} confidenceDisplay={} "
                   "testsOneSided={} plot={} preplot={} plotCount={} plots=scree:{} loadings:{} "
                   "init:{} pre:{} map2:{} map4:{} parallel:{} path:{}",
                   shown(ps.hypValue), shown(ps.stdErrLevel), shown(ps.coverValue), int(ps.flags.needStdErr),
                   int(ps.flags.confidenceDisplay), int(ps.flags.testsOneSided),
                   int(ps.flags.plot), int(ps.flags.preplot), ps.plotCount,
                   int(ps.plots.scree), int(ps.plots.loadings), int(ps.plots.initLoadings),
                   int(ps.plots.preLoadings), int(ps.plots.map2), int(ps.plots.map4),
                   int(ps.plots.parallel), int(ps.plots.pathDiagram)));
}

}  // namespace zulfact::detail
