// What the step prints and writes: display options, the keyword options,
// the output-table sink, graph requests, the factor names, and the columns
// of the OUT= and OUTSTAT= tables.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "zulfact/options/grammar.hpp"
#include "zulfact/output/character_plot.hpp"
#include "zulfact/options/statement_parser.hpp"
#include "zulfact/output/outstat_rows.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact::detail {

namespace {

int decimalDigits(int n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

// CIRCLE= values are radii; a value above 1 is read in hundredths (50 is
// a radius of 0.5), and 0 draws nothing. CIRCLE alone draws the circles of
// radius 0.5 and 1. At most four circles are drawn.
void readCircles(const Parsed& rec, int slot, LoadingsPlotOptions& o) {
  o.nCircles = 0;
  const zul_slot& s = rec.slot(slot);
  const auto* values = static_cast<const double*>(s.data);
  if (!rec.given(slot) || !values || s.count <= 0) {
    o.circles[0] = 0.5;
    o.circles[1] = 1.0;
    o.nCircles = 2;
    return;
  }
  for (int i = 0; i < s.count && o.nCircles < 4; ++i) {
    const double r = values[i] > 1 ? values[i] / 100 : values[i];
    if (r > 0) o.circles[o.nCircles++] = r;
  }
}

// The positive radii CIRCLE= gives in `slot` (0 when it is not given).
int circlesGiven(const Parsed& rec, int slot) {
  const zul_slot& s = rec.slot(slot);
  const auto* values = static_cast<const double*>(s.data);
  if (!rec.given(slot) || !values) return 0;
  int n = 0;
  for (int i = 0; i < s.count; ++i) n += values[i] > 0;
  return n;
}

// The options of one loadings request (FLIP, VECTOR, PLOTREF at base,
// base + 1, base + 2; CIRCLE at base + 3), joined with the global ones.
LoadingsPlotOptions loadingsOptions(const Parsed& rec, int base, int nPlotSlot, int circleSlot) {
  LoadingsPlotOptions o{};
  o.flip = rec.bit(kBitPlotsFlip) || rec.bit(base);
  o.vector = rec.bit(kBitPlotsVector) || rec.bit(base + 1);
  o.plotref = rec.bit(kBitPlotsPlotref) || rec.bit(base + 2);
  o.nPlot = toInt(rec.number(nPlotSlot, rec.number(kSlotPlotsNPlot, 0)));
  if (rec.bit(base + 3)) {
    readCircles(rec, circleSlot, o);
  } else if (rec.bit(kBitPlotsCircle)) {
    readCircles(rec, kSlotPlotsCircle, o);
  }
  return o;
}

}  // namespace

// FUZZ=, FLAG=, ROUND, NPLOT=, PLOTCHAR=.
void StatementParser::displayOptions() {
  ps_.opt.fuzz = rec_.number(kSlotFuzz, 0);
  ps_.opt.flagThreshold = rec_.number(kSlotFlag, 0);
  ps_.opt.flags.round = rec_.bit(kBitRound);
  ps_.opt.flags.roundMode = ps_.opt.flags.round || ps_.opt.flagThreshold > 0;
  ps_.opt.plotCount = toInt(rec_.number(kSlotNPlot, 0));
  ps_.opt.plotNameLength = toInt(rec_.number(kSlotPlotChar, 0));
  if (ps_.opt.plotNameLength > kMaxPlotNameLength) {
    h_.message(msg::kPlotCharTooLarge, {ps_.opt.plotNameLength});
    ps_.opt.plotNameLength = kMaxPlotNameLength;
  } else if (ps_.opt.plotNameLength < 0) {
    h_.message(msg::kPlotCharNegative, {ps_.opt.plotNameLength});
    ps_.opt.plotNameLength = 0;
  }
}

// Keyword options without a value.
void StatementParser::keywordOptions() {
  OptionFlags& f = ps_.opt.flags;
  f.covariance = rec_.bit(kBitCov);
  f.all = rec_.bit(kBitAll);
  f.simple = rec_.bit(kBitSimple);
  f.corr = rec_.bit(kBitCorr);
  f.eigenvectors = rec_.bit(kBitEigenvectors);
  f.print = rec_.bit(kBitPrint);
  f.msa = rec_.bit(kBitMsa);
  f.score = rec_.bit(kBitScore);
  f.scree = rec_.bit(kBitScree);
  f.test = rec_.bit(kBitTest);
  f.weightOption = rec_.bit(kBitWeight);
  f.reorder = rec_.bit(kBitReorder);
  f.residuals = rec_.bit(kBitResiduals);
  f.count = rec_.bit(kBitCount);
  f.ultraHeywood = rec_.bit(kBitUltraHeywood);
  f.heywood = rec_.bit(kBitHeywood);
  f.nocorr = rec_.bit(kBitNocorr);
  f.noprint = rec_.bit(kBitNoprint);
  f.plot = rec_.bit(kBitPlot);
  f.preplot = rec_.bit(kBitPreplot);
  f.plotref = rec_.bit(kBitPlotref);
  // A negative PLOTCHAR= was set to 0 (letters) but still asks for the plot.
  const bool plotChar = ps_.opt.plotNameLength != 0 || rec_.number(kSlotPlotChar, 0) < 0;
  if (!f.preplot && (ps_.opt.plotCount > 1 || plotChar)) f.plot = true;
  if (f.plot && !f.rotationRequested) f.preplot = true;
}

// The output-table sink, unless printing is suppressed.
void StatementParser::openSink() {
  ps_.sink = nullptr;
  ps_.graphicsEnabled = false;
  if (!ps_.opt.flags.noprint) ps_.sink = createSink(ps_.graphicsEnabled);
}

// PLOTS= and the PATHDIAGRAM statement: graphs need printing and a host
// that draws them.
void StatementParser::graphRequests() {
  const bool pathStatement = rec_.bit(kBitPathDiagramStatement);
  if (!rec_.bit(kBitPlots) && !pathStatement) return;
  if (ps_.opt.flags.noprint) {
    h_.message(msg::kGraphsNeedPrinting);
  } else if (rec_.bit(kBitPlotNone)) {
    h_.message(msg::kPlotsNone);
  } else if (!ps_.graphicsEnabled) {
    h_.message(msg::kGraphicsOff);
  } else {
    PlotRequests& g = ps_.opt.plots;
    g.scree = rec_.bit(kBitPlotScree);
    g.loadings = rec_.bit(kBitPlotLoadings);
    g.initLoadings = rec_.bit(kBitPlotInitLoadings);
    g.preLoadings = rec_.bit(kBitPlotPreLoadings);
    g.pathDiagram = rec_.bit(kBitPlotPathDiagram) || pathStatement;
    g.map2 = rec_.bit(kBitPlotMap) || rec_.bit(kBitPlotMap2);
    g.map4 = rec_.bit(kBitPlotMap) || rec_.bit(kBitPlotMap4);
    g.parallel = rec_.bit(kBitPlotParallel);
    if (rec_.bit(kBitPlotAll)) {
      g.scree = g.loadings = g.initLoadings = g.preLoadings = g.pathDiagram = true;
      if (ps_.opt.mapVariant) g.map2 = g.map4 = true;
      if (ps_.opt.parallelCriterion) g.parallel = true;
    }
    g.unpack = rec_.bit(kBitPlotsUnpack) || rec_.bit(kBitScreeUnpack);
    g.initial = loadingsOptions(rec_, kBitInitLoadingsOptions, kSlotInitLoadingsNPlot,
                                kSlotInitLoadingsCircle);
    g.prerotated = loadingsOptions(rec_, kBitPreLoadingsOptions, kSlotPreLoadingsNPlot,
                                   kSlotPreLoadingsCircle);
    g.rotated =
        loadingsOptions(rec_, kBitLoadingsOptions, kSlotLoadingsNPlot, kSlotLoadingsCircle);
    for (int slot : {kSlotPlotsCircle, kSlotInitLoadingsCircle, kSlotPreLoadingsCircle,
                     kSlotLoadingsCircle})
      if (const int n = circlesGiven(rec_, slot); n > 4) h_.message(msg::kTooManyCircles, {n});
    if (g.map2 || g.map4) ps_.opt.mapRun = 1;
    if (g.parallel) ps_.opt.parallelRun = 1;
  }
}

// PREFIX= and PARPREFIX=, and the width of a factor name.
void StatementParser::factorNamePrefix() {
  prefix_ = "Factor";
  hasFactorNames_ = ps_.opt.method != kMethodPattern && ps_.opt.method != kMethodScore;
  if (ps_.opt.flags.shortNames) {
    prefix_ = m_ < 100 ? "Factor" : "Fact";
    ps_.factorNameWidth = 8;
  } else {
    if (rec_.given(kSlotPrefix)) prefix_ = rec_.text(kSlotPrefix);
    // A name holds at most 32 characters: a long prefix gives way to the
    // number rather than making names that no table can hold.
    int digits = decimalDigits(std::max(m_, 1));
    if (static_cast<int>(prefix_.size()) + digits > 32)
      prefix_.resize(static_cast<size_t>(32 - digits));
    ps_.factorNameWidth = std::max(8, std::max(6, static_cast<int>(prefix_.size())) + digits);
  }
  setPadded(ps_.opt.scorePrefix, std::min<size_t>(32, prefix_.size()), prefix_);
  ps_.opt.scorePrefixLength = static_cast<int32_t>(prefix_.size());
  parPrefix_ = rec_.given(kSlotParPrefix) ? rec_.text(kSlotParPrefix) : "R_";
  setPadded(ps_.opt.parPrefix, std::min<size_t>(32, parPrefix_.size()), parPrefix_);
  ps_.opt.parPrefixLength = static_cast<int32_t>(std::min<size_t>(32, parPrefix_.size()));
}

// The factor names themselves, into ps.factorNames (allocated by then).
void StatementParser::factorNames() {
  if (!hasFactorNames_) return;
  for (int k = 0; k < m_; ++k) {
    std::string name = prefix_ + std::to_string(k + 1);
    factorNames_.push_back(name);
    std::memset(ps_.factorNames + size_t(k) * ps_.factorNameWidth, ' ', ps_.factorNameWidth);
    std::memcpy(ps_.factorNames + size_t(k) * ps_.factorNameWidth, name.data(),
                std::min<size_t>(name.size(), ps_.factorNameWidth));
  }
}

namespace {

// The first name that two of the lists' names share, without regard to
// case; empty when they are all different.
std::string firstRepeatedName(const std::vector<std::string>& a,
                              const std::vector<std::string>& b) {
  std::unordered_set<std::string> seen;
  for (const std::vector<std::string>* names : {&a, &b})
    for (const std::string& name : *names)
      if (!seen.insert(upper(name)).second) return name;
  return {};
}

}  // namespace

// OUT=: factor scores need raw data and a stated number of factors. A
// dropped OUT= is a warning: the analysis itself runs.
void StatementParser::outTable() {
  OptionFlags& f = ps_.opt.flags;
  if (ps_.opt.outTable) {
    if (!f.rawInput) {
      h_.message(msg::kOutNeedsRawData, {inputType_});
      ps_.opt.outTable = nullptr;
    } else if (!nFactorsGiven_) {
      h_.message(msg::kOutNeedsNFactors);
      ps_.opt.outTable = nullptr;
    }
    f.outRequested = ps_.opt.outTable != nullptr;
  }
  if (!ps_.opt.outTable) return;
  std::vector<std::string> residualNames;
  for (int i = 0; ps_.opt.nPartial > 0 && i < p_; ++i)
    residualNames.push_back((parPrefix_ + varName(i)).substr(0, 32));
  // Two added columns of one name (names cut to 32 characters, or a
  // PREFIX= that makes a score name of a partialled one) would stop the
  // step when the table is declared.
  if (const std::string clash = firstRepeatedName(residualNames, factorNames_); !clash.empty()) {
    h_.message(msg::kOutColumnsClash, {clash});
    ps_.opt.outTable = nullptr;
    f.outRequested = false;
    return;
  }
  // Scores need the scoring coefficients of every solution, printed or not.
  f.score = true;
  // An input column named like an added one gives way to it (the host
  // copies no column of a declared name): say so, or its values vanish.
  for (int v = 1; v <= ps_.opt.nInputVars; ++v) {
    zul_var_desc d{};
    if (h_.varDesc(ps_.opt.mainInput, v, d) != 0) continue;
    for (const std::string& fn : factorNames_)
      if (upper(fn) == upper(d.name)) h_.message(msg::kScoreNameClash, {std::string(d.name)});
    for (const std::string& rn : residualNames)
      if (upper(rn) == upper(d.name)) h_.message(msg::kResidualNameClash, {std::string(d.name)});
  }
  h_.copyAllColumns(ps_.opt.outTable, ps_.opt.mainInput);
  if (ps_.opt.nPartial > 0) {
    for (int i = 0; i < p_; ++i) {
      const std::string& name = residualNames[static_cast<size_t>(i)];
      std::string label(ps_.opt.varLabels + 257 * i);
      zul_column_desc c{name.c_str(), label.empty() ? nullptr : label.c_str(), 0, 8};
      h_.declareColumn(ps_.opt.outTable, c);
    }
  }
  for (const std::string& fn : factorNames_) {
    zul_column_desc c{fn.c_str(), nullptr, 0, 8};
    h_.declareColumn(ps_.opt.outTable, c);
  }
  ps_.opt.nScoreColumns = static_cast<int32_t>(factorNames_.size());
  // A table the library cannot take (a read-only database) stops the step
  // here, before its data is read; the host has said why.
  if (h_.columnsDone(ps_.opt.outTable) != 0) stop(ps_, kCodeStopped);
}

// OUTSTAT=: a TYPE=FACTOR table that the procedure can read back.
void StatementParser::outstatTable() {
  ps_.opt.nameWidth = nameColumnWidth(ps_);
  if (!ps_.opt.outstatTable) return;
  h_.setAttribute(ps_.opt.outstatTable, ZUL_ATTR_SET_TYPE, "FACTOR");
  std::string label = h_.formatMessage(msg::kOutstatLabel);
  h_.setAttribute(ps_.opt.outstatTable, ZUL_ATTR_SET_LABEL, label.c_str());
  h_.copyByColumns(ps_.opt.outstatTable, ps_.opt.mainInput);
  std::string typeLabel = h_.formatMessage(msg::kTypeColumnLabel);
  std::string nameLabel = h_.formatMessage(msg::kNameColumnLabel);
  zul_column_desc typeColumn{"_TYPE_", typeLabel.c_str(), 1, 8};
  zul_column_desc nameColumn{"_NAME_", nameLabel.c_str(), 1, ps_.opt.nameWidth};
  h_.declareColumn(ps_.opt.outstatTable, typeColumn);
  h_.declareColumn(ps_.opt.outstatTable, nameColumn);
  for (int i = 0; i < p_; ++i) {
    std::string name = varName(i);
    std::string varLabel(ps_.opt.varLabels + 257 * i);
    zul_column_desc c{name.c_str(), varLabel.empty() ? nullptr : varLabel.c_str(), 0, 8};
    h_.declareColumn(ps_.opt.outstatTable, c);
  }
  if (h_.columnsDone(ps_.opt.outstatTable) != 0) stop(ps_, kCodeStopped);
}

}  // namespace zulfact::detail
