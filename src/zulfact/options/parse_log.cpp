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
                   trimRight(ps.opt.inputType), int(ps.opt.flags.rawInput), ps.opt.nVars, ps.opt.nPartial, ps.opt.nBy,
                   ps.opt.method, ps.opt.priorsMethod, ps.opt.norm, trimRight(ps.opt.vardef)));
  line(fmt::format("nFactorsRequested={} nFactors={} minEigen={} proportion={} "
                   "parallelCriterion={} mapVariant={} parallelRun={} mapRun={} parallelLevel={} "
                   "nSims={} parallelSeed={} seed={}",
                   ps.opt.nFactorsRequested, ps.nFactors, shown(ps.opt.minEigen), shown(ps.opt.proportion),
                   ps.opt.parallelCriterion, ps.opt.mapVariant, ps.opt.parallelRun, ps.opt.mapRun,
                   shown(ps.opt.parallelLevel), ps.opt.nSims, ps.opt.parallelSeed, ps.seed));
  std::string list;
  for (int i = 0; i < ps.opt.rotationListLength; ++i)
    list += fmt::format("{}{}", i ? "," : "", ps.opt.rotationList[i]);
  std::string params;
  for (int i = 0; i < ps.opt.rotationParamCount; ++i)
    params += fmt::format("{}{}@{}", i ? "," : "", ps.opt.rotationParams[i],
                          ps.opt.rotationParamPositions[i]);
  line(fmt::format("prerotation={} finalRotation={} rotationList=[{}] rotationParams=[{}] "
                   "rotationCount={} rotationRequested={} oblique={} gamma={} tau={} power={} "
                   "hkPower={} rotationMaxIter={} rotationConvergence={}",
                   ps.opt.prerotation, ps.opt.finalRotation, list, params, ps.opt.rotationCount,
                   int(ps.opt.flags.rotationRequested), int(ps.opt.flags.oblique), shown(ps.opt.gamma), shown(ps.opt.tau),
                   shown(ps.opt.power), shown(ps.opt.hkPower), ps.opt.rotationMaxIter, shown(ps.opt.rotationConvergence)));
  line(fmt::format("convergence={} maxIter={} singularity={} fuzz={} flagThreshold={} "
                   "roundMode={} heywood={} ultraHeywood={} weighted={} correlationNeeded={} "
                   "outRequested={} outstatRequested={} threadCount={} factorNameWidth={}",
                   shown(ps.opt.convergence), ps.opt.maxIter, shown(ps.opt.singularity), shown(ps.opt.fuzz), shown(ps.opt.flagThreshold),
                   int(ps.opt.flags.roundMode), int(ps.opt.flags.heywood), int(ps.opt.flags.ultraHeywood),
                   int(ps.opt.flags.weighted), int(ps.opt.flags.correlationNeeded),
                   int(ps.opt.flags.outRequested), int(ps.opt.flags.outstatRequested), ps.opt.threadCount,
                   ps.factorNameWidth));
  line(fmt::format("hypValue={} stdErrLevel={} coverValue={} needStdErr={} confidenceDisplay={} "
                   "testsOneSided={} plot={} preplot={} plotCount={} plots=scree:{} loadings:{} "
                   "init:{} pre:{} map2:{} map4:{} parallel:{} path:{}",
                   shown(ps.opt.hypValue), shown(ps.opt.stdErrLevel), shown(ps.opt.coverValue), int(ps.opt.flags.needStdErr),
                   int(ps.opt.flags.confidenceDisplay), int(ps.opt.flags.testsOneSided),
                   int(ps.opt.flags.plot), int(ps.opt.flags.preplot), ps.opt.plotCount,
                   int(ps.opt.plots.scree), int(ps.opt.plots.loadings), int(ps.opt.plots.initLoadings),
                   int(ps.opt.plots.preLoadings), int(ps.opt.plots.map2), int(ps.opt.plots.map4),
                   int(ps.opt.plots.parallel), int(ps.opt.plots.pathDiagram)));
}

}  // namespace zulfact::detail
