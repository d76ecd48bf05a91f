#include "zulfact/data/crossproduct_engine.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/data/crossproducts.hpp"
#include "zulfact/data/summary_input.hpp"
#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/put_format.hpp"
#include "sqlgen/xpx_table.hpp"
#include "zulfact/data/vardef.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

namespace {

// The host's reader, memory, threads and events behind the engine's
// platform interface.
class HostPlatform : public CrossPlatform {
 public:
  explicit HostPlatform(zul_readlist* list) : list_(list) {}
  int readRecord(double* values, int32_t& status) override {
    int st = 0;
    const int got = host().readNext(list_, values, nullptr, st);
    status = st;
    return got;
  }
  int readRecords(double* values, int ncols, int max, int32_t& status) override {
    int st = 0;
    const int got = host().readRecords(list_, values, max, st);
    if (got < 0) return CrossPlatform::readRecords(values, ncols, max, status);
    status = st;
    return got;
  }
  double availableMemory() override { return host().availableMemory(); }
  void* alloc(double bytes) override { return host().alloc(bytes); }
  void release(void* block) override { host().release(block); }
  void* threadCreate(void (*start)(void*), void* arg) override {
    return host().threadCreate(start, arg);
  }
  void threadJoin(void* thread) override { host().threadJoin(static_cast<zul_thread*>(thread)); }
  void* eventCreate() override { return host().eventCreate(); }
  void eventSet(void* e) override { host().eventSet(static_cast<zul_event*>(e)); }
  void eventReset(void* e) override { host().eventReset(static_cast<zul_event*>(e)); }
  int eventWaitAny(void* const* events, int count) override {
    return host().eventWaitAny(reinterpret_cast<zul_event* const*>(events), count);
  }
  void eventDestroy(void* e) override { host().eventDestroy(static_cast<zul_event*>(e)); }

 private:
  zul_readlist* list_;
};

int threadCountFromHost() {
  bool fallback = false;
  const double setting = host().namedSetting("zacorr_threads");
  const bool on = zul_is_missing(setting) ? host().threadsOn() : false;
  const double cpus = on ? host().cpuCount() : zul_missing();
  const int count = decideThreadCount(setting, on, cpus, &fallback);
  if (host().diagSwitch("-znthreads")) {
    if (fallback) {
      host().logText("znthreads: no threads");
    } else {
      char line[64];
      std::snprintf(line, sizeof line, "znthreads: %g thread(s)", static_cast<double>(count));
      host().logText(line);
    }
  }
  return count;
}

// Owns the read list and the two small vectors for one call.
struct CallResources {
  zul_readlist* list = nullptr;
  double* work = nullptr;
  ~CallResources() {
    if (list) host().readListRelease(list);
    if (work) host().release(work);
  }
};

// The first variable whose sum or crossproducts are not finite, -1 when
// every one is. sums holds n values, packed the n(n+1)/2 crossproducts.
int firstOverflowedVariable(int n, const double* sums, const double* packed) {
  size_t p = 0;
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(sums[i])) return i;
    for (int j = 0; j <= i; ++j, ++p)
      if (!std::isfinite(packed[p]))
        return std::isfinite(packed[static_cast<size_t>(j) * (static_cast<size_t>(j) + 3) / 2]) ? i : j;
  }
  return -1;
}

// False when the frequencies or weights used add up past the largest double
// (FREQ 1e300 times WEIGHT 1e300 is one such observation): the sums overflow
// because of the weights, not the values, and the finishing step says so
// instead of naming a variable whose values need no rescaling.
bool weightSumsFinite(const ObsCounters& c) {
  return std::isfinite(c.freqUsed) && std::isfinite(c.weightsUsed);
}

// The first variable whose mean or standard deviation is not finite, -1
// when every one is.
int firstNonFinite(int n, const double* means, const double* sds) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(means[i]) || !std::isfinite(sds[i])) return i;
  return -1;
}

// Ends the step with message 90 naming variable i, when i >= 0.
void stopIfTooLarge(ProcState& ps, int i) {
  if (i < 0) return;
  const char* name = ps.opt.varNames ? ps.opt.varNames + 33 * static_cast<size_t>(i) : "";
  host().message(msg::kValuesTooLarge, {std::string_view(name)});
  raiseCode(ps, kCodeBadVariables);
  host().endStep(kCodeBadVariables, 0);
}

// The group's weights (times its frequencies) are too unequal for its
// variances to be computed: the group is skipped, and the log says why.
void skipUnequalWeights(zul_table* table) {
  const std::string by = host().byDescription(table);
  const std::string group = by.empty() ? "" : " of the BY group " + by;
  host().logLine(ZUL_LOG_ERROR,
                 "The WEIGHT and FREQ values" + group + " are too unequal for the variances to"
                 " be computed: a few observations outweigh the others so far that the rounding"
                 " of the means swamps the spread. The group is skipped; analyse the"
                 " observations of overwhelming weight apart, or give them less weight.");
}

}  // namespace

double vardefDivisorLogged(std::string_view vardef, double n, double k, double w) {
  bool invalid = false;
  const double d = vardefDivisor(vardef, n, k, w, &invalid);
  if (invalid) {
    std::string v(vardef.substr(0, 8));
    while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.pop_back();
    host().logLine(ZUL_LOG_ERROR, "invalid VARDEF=" + v + ".");
  }
  return d;
}

namespace {

// The moments and counts into the group's record, and the notes of the
// finishing steps.
void reportFinish(ProcState& ps, zul_table* table, const FinishOutcome& fin, const MomentsOut& out,
                  const std::string& dataName = "") {
  Host& h = host();
  ps.obsCounts = out.counts;
  ps.nObs = out.nObs;
  ps.sumWeights = out.sumWeights;
  ps.varianceDivisor = out.divisor;
  const std::string name = !dataName.empty() ? dataName : fin.nNotes > 0 ? h.displayName(table) : std::string();
  for (int i = 0; i < fin.nNotes; ++i) {
    const FinishNote& nt = fin.notes[i];
    if (nt.number == msg::kVardefDivisorNotPositive.number && fin.vardefInvalid) vardefDivisorLogged(std::string_view(ps.opt.vardef, 8), 0, 0, 0);
    if (nt.nNumbers == 2)
      h.message(msg::input(nt.number), {nt.a, nt.b});
    else if (nt.nNumbers == 1 && nt.tableName)
      h.message(msg::input(nt.number), {nt.a, std::string_view(name)});
    else if (nt.tableName)
      h.message(msg::input(nt.number), {std::string_view(name)});
    else
      h.message(msg::input(nt.number));
  }
  if (fin.vardefInvalid && fin.status == 0) vardefDivisorLogged(std::string_view(ps.opt.vardef, 8), 0, 0, 0);
}

// The member name of a table ("_ZSQL_" of "WORK._ZSQL_").
std::string memberOf(zul_table* table) {
  const std::string name = host().tableName(table);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

// The current group's "_ZSQL_" row: the columns after the BY columns, found
// by their names.
bool readZsqlBlocks(zul_table* table, int n, std::vector<double>& row);

bool readZsqlRow(zul_table* table, int n, std::vector<double>& row) {
  Host& h = host();
  if (h.varNumber(table, sqlgen::kCrossBlockColumn) > 0) return readZsqlBlocks(table, n, row);
  const std::vector<std::string> names = sqlgen::crossColumnNames(n);
  CallResources res;
  res.list = h.readListCreate(table, static_cast<int>(names.size()));
  if (!res.list) return false;
  for (size_t k = 0; k < names.size(); ++k) {
    const int number = h.varNumber(table, names[k]);
    if (number <= 0 || h.readListBind(res.list, static_cast<int>(k), number, false, 8) != 0) return false;
  }
  row.assign(names.size(), 0.0);
  int status = 0;
  if (h.readNext(res.list, row.data(), nullptr, status) != 1) return false;
  // One row per group. A second would be a group the database formed
  // apart from one zul compares as equal, and its sums would be lost.
  std::vector<double> next(names.size());
  if (h.readNext(res.list, next.data(), nullptr, status) == 1) {
    h.logLine(ZUL_LOG_ERROR,
              "The database returned the crossproducts of one BY group in more than one row; "
              "run the step with OPTIONS INDB=NO.");
    return false;
  }
  return true;
}

// The same row written in blocks, one record of the group each ("_BLOCK_"
// and its values "_C1_", ...): every block must be there once.
bool readZsqlBlocks(zul_table* table, int n, std::vector<double>& row) {
  Host& h = host();
  const size_t total = sqlgen::crossColumnNames(n).size();
  int k = 0;
  while (h.varNumber(table, sqlgen::crossBlockValueName(k)) > 0) ++k;
  if (k == 0) return false;
  CallResources res;
  res.list = h.readListCreate(table, k + 1);
  if (!res.list || h.readListBind(res.list, 0, h.varNumber(table, sqlgen::kCrossBlockColumn), false, 8) != 0)
    return false;
  for (int c = 0; c < k; ++c)
    if (h.readListBind(res.list, c + 1, h.varNumber(table, sqlgen::crossBlockValueName(c)), false, 8) != 0)
      return false;
  const size_t blocks = (total + k - 1) / k;
  std::vector<bool> seen(blocks, false);
  std::vector<double> values(static_cast<size_t>(k) + 1);
  row.assign(total, 0.0);
  int status = 0;
  if (h.rewind(table) != 0) return false;
  while (h.readNext(res.list, values.data(), nullptr, status) == 1) {
    const double b = values[0];
    if (!(b >= 0 && b < static_cast<double>(blocks)) || seen[static_cast<size_t>(b)]) return false;
    seen[static_cast<size_t>(b)] = true;
    const size_t first = static_cast<size_t>(b) * k;
    for (size_t c = 0; c < static_cast<size_t>(k) && first + c < total; ++c) row[first + c] = values[c + 1];
  }
  return std::all_of(seen.begin(), seen.end(), [](bool x) { return x; });
}

int finishSummary(ProcState& ps, zul_table* table, const BlockShape& shape, const SummarySums& s,
                  const std::string& name);

// One pass over the group's records (about `givenShift` when given). A
// read error or a failed pool ends the step.
CrossRun readGroup(ProcState& ps, zul_table* table, HostPlatform& platform, const BlockShape& shape,
                   double* sums, double* shift, ObsCounters& counts, const double* givenShift) {
  Host& h = host();
  const int threads = ps.readThreads;
  if (threads > 1) h.threadedRead(table, true);
  const CrossRun run = accumulateGroup(platform, shape, threads, sums, ps.corrMatrix, shift, counts,
                                       givenShift);
  if (threads > 1) h.threadedRead(table, false);
  if (h.diagSwitch("-zacorr")) {
    char line[96];
    std::snprintf(line, sizeof line, "zacorr: %i thread(s), vecsize=%i", run.threads, run.vecsize);
    h.logText(line);
  }
  // After a read error the host has said why. The observations read so far
  // are not the table: moments of them would be a wrong answer given as a
  // right one, so the step stops. Otherwise a failed pool stops it.
  if (run.readError) {
    raiseCode(ps, kCodeBadVariables);
    h.endStep(kCodeBadVariables, 0);
  }
  if (run.poolStatus != 0) {
    if (run.poolStatus > 42) h.message(msg::thread(run.poolStatus));
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  return run;
}

// The crossproducts and the shift of a table of nt variables are read by
// position from _Q1_1_ (column q11) on: a column moved or renamed by hand
// would be read as another's. False, with `reason`, when one is not in
// its place.
bool crossColumnsInPlace(zul_table* table, int q11, int nt, std::string& reason) {
  const std::vector<std::string> names =
      sqlgen::xpxColumnNames({}, std::vector<std::string>(static_cast<size_t>(nt)));
  const size_t first = static_cast<size_t>(sqlgen::kXpxCountColumns + 2 + nt);
  for (size_t k = first; k < names.size(); ++k)
    if (host().varNumber(table, names[k]) != q11 + static_cast<int>(k - first)) {
      reason = "its column " + names[k] + " is not in its place: the columns _Q1_1_ ... _SHIFT" +
               std::to_string(nt) +
               "_ must follow one another in the order CROSSPRODUCTS writes them";
      return false;
    }
  return true;
}

// The positions of the analysis variables among a table's nt summed
// variables (from column firstSum). False, with `reason`, when one is not
// among them.
bool analysisIndex(ProcState& ps, zul_table* table, int firstSum, int nt, std::vector<int>& index,
                   std::string& reason) {
  // The BY columns come before the sums: an analysis BY variable where a
  // sum belongs means a sum column is missing, and every sum would be read
  // one column off.
  const zul_varlist& by = ps.opt.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k)
    if (by.numbers[k] >= firstSum) {
      zul_var_desc d{};
      host().varDesc(table, by.numbers[k], d);
      reason = std::string("its BY variable ") + d.name +
               " stands among its summed variables: a sum column is missing or one too many";
      return false;
    }
  for (int i = 0; i < ps.opt.nAll; ++i) {
    const int k = ps.opt.varNumbers[i] - firstSum;
    if (k < 0 || k >= nt) {
      reason = "an analysis variable is not among its summed variables";
      return false;
    }
    index.push_back(k);
  }
  return true;
}

// The names of a crossproduct table's nt summed variables, from column
// firstSum on.
std::vector<std::string> summedNames(zul_table* table, int firstSum, int nt) {
  std::vector<std::string> names;
  for (int k = 0; k < nt; ++k) {
    zul_var_desc d{};
    host().varDesc(table, firstSum + k, d);
    names.emplace_back(d.name);
  }
  return names;
}

// The current group of a crossproduct table: every variable's sums, and the
// positions of the analysis variables among them. The group's rows are
// added (combineParts): a table summarised by finer BY groups than the
// analysis has, or analysed without BY, gives the sums of all its rows.
// False when the table is not one, an analysis variable is not among its
// summed variables, or a value is not a number; `reason` then says why.
bool readXpxRow(ProcState& ps, zul_table* table, sqlgen::XpxGroup& g, std::vector<int>& index,
                std::string& dname, std::string& reason) {
  Host& h = host();
  const int q11 = h.varNumber(table, "_Q1_1_"), shift1 = h.varNumber(table, "_SHIFT1_");
  const int qCols = shift1 - q11;
  int nt = 0;
  while (nt * (nt + 1) / 2 < qCols) ++nt;
  if (q11 <= 0 || nt < 1 || nt * (nt + 1) / 2 != qCols) {
    reason = "its crossproduct columns _Q1_1_ ... do not fit its _SHIFT1_ ... columns";
    return false;
  }
  if (!crossColumnsInPlace(table, q11, nt, reason)) return false;
  const int firstSum = q11 - nt;
  if (!analysisIndex(ps, table, firstSum, nt, index, reason)) return false;
  const std::vector<std::string> names = sqlgen::xpxColumnNames({}, {});
  const int nNumbers = sqlgen::kXpxCountColumns + 2 * nt + qCols;
  CallResources res;
  res.list = h.readListCreate(table, nNumbers + 2);  // with _KEY_ and _DNAME_
  if (!res.list) return false;
  std::vector<int> numbers;
  for (int c = 0; c < sqlgen::kXpxCountColumns; ++c)
    numbers.push_back(h.varNumber(table, names[static_cast<size_t>(c)]));
  // The sums, the crossproducts and the shift lie side by side.
  for (int k = 0; k < 2 * nt + qCols; ++k) numbers.push_back(k < nt ? firstSum + k : q11 + (k - nt));
  numbers.push_back(h.varNumber(table, "_KEY_"));
  int slot = 0;
  for (const int number : numbers) {
    zul_var_desc d{};
    if (number <= 0 || h.varDesc(table, number, d) != 0) {
      reason = "it lacks a column of a crossproduct table";
      return false;
    }
    if (d.type != 1) {
      reason = std::string("its column ") + d.name + " is not numeric";
      return false;
    }
    if (h.readListBind(res.list, slot++, number, false, 8) != 0) return false;
  }
  const int dnameNumber = h.varNumber(table, "_DNAME_");
  // Read wider than the 42 bytes kept, so that a name written by hand is cut
  // where a character ends, not inside one.
  constexpr int kDnameRead = 256;
  if (dnameNumber > 0 && h.readListBind(res.list, slot, dnameNumber, true, kDnameRead) != 0)
    return false;
  // BY columns lie between _DNAME_ and the sums, and only a table of BY
  // groups numbers them (_KEY_ from 1): a sum column missing from a table
  // of one numeric BY variable would take the BY column for a sum.
  const bool byColumns = dnameNumber > 0 && firstSum > dnameNumber + 1;
  std::vector<double> v(static_cast<size_t>(slot + 1), 0.0);
  char text[kDnameRead + 1] = {0};
  int status = 0;
  for (int row = 0; h.readNext(res.list, v.data(), text, status) == 1; ++row) {
    for (int k = 0; k < slot; ++k)
      if (!std::isfinite(v[static_cast<size_t>(k)])) {
        zul_var_desc d{};
        h.varDesc(table, numbers[static_cast<size_t>(k)], d);
        reason = std::string("its column ") + d.name + " holds a missing or non-finite value";
        return false;
      }
    if ((v[static_cast<size_t>(slot) - 1] > 0) != byColumns) {
      reason = "its _KEY_ does not fit its columns: a column is missing or one too many";
      return false;
    }
    if (v[7] != nt) {
      reason = "its _NVAR_ does not count the " + std::to_string(nt) + " variables of its crossproducts";
      return false;
    }
    sqlgen::XpxGroup part;
    part.nRead = v[0], part.nUsed = v[1], part.nMissing = v[2], part.freqRead = v[3];
    part.freqUsed = v[4], part.weightsRead = v[5], part.weightsUsed = v[6];
    const double* at = v.data() + sqlgen::kXpxCountColumns;
    part.sums.assign(at, at + nt);
    part.packed.assign(at + nt, at + nt + qCols);
    part.shift.assign(at + nt + qCols, at + 2 * nt + qCols);
    reason = sqlgen::xpxGroupFault(part, summedNames(table, firstSum, nt));
    if (!reason.empty()) {
      if (const std::string by = h.byDescription(table); !by.empty())
        reason = "in the BY group " + by + ", " + reason;
      return false;
    }
    if (row > 0) {
      sqlgen::combineParts(g, std::move(part));
      continue;
    }
    g = std::move(part);
    dname = sqlgen::putText(std::string_view(text, strnlen(text, kDnameRead)),
                            sqlgen::PutFormat{true, 42, 0});
  }
  if (g.sums.empty()) reason = "it has no row for the group";
  return !g.sums.empty();
}

// A group read from a crossproduct table.
int xpxEngine(ProcState& ps, zul_table* table) {
  Host& h = host();
  if (ps.indb.notes) h.logLine(ZUL_LOG_NOTE, "Reading _MKXPX_ table.");
  sqlgen::XpxGroup g;
  std::vector<int> index;
  std::string dname, reason;
  if (!readXpxRow(ps, table, g, index, dname, reason)) {
    if (!reason.empty()) h.logLine(ZUL_LOG_ERROR, h.displayName(table) + ": " + reason + ".");
    h.logLine(ZUL_LOG_ERROR, "Reading _MKXPX_ table failed.");
    // A table that is no crossproduct table fails alike in every group.
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  if (ps.indb.notes) h.logLine(ZUL_LOG_NOTE, "Using _MKXPX_ table.");
  // The table dropped a record for a missing value in any of its variables:
  // an analysis of fewer of them cannot have the records back.
  if (g.nMissing > 0 && index.size() < g.sums.size())
    h.logLine(ZUL_LOG_WARNING,
              h.displayName(table) + " left out " + std::to_string(static_cast<long long>(g.nMissing)) +
                  (g.nMissing == 1 ? " record" : " records") +
                  " with a missing value in any of its " + std::to_string(g.sums.size()) +
                  " variables; analysed from the rows, fewer variables could use some of them.");
  BlockShape shape;
  shape.n = ps.opt.nAll;
  shape.hasFreq = shape.hasWeight = true;  // the table's own read counts
  shape.noint = ps.opt.flags.noIntercept;
  return finishSummary(ps, table, shape, summaryFromXpx(g, index, shape.noint), dname);
}

// A group summarised inside the database: the row's sums finish as the
// engine's own would.
int summaryEngine(ProcState& ps, zul_table* table) {
  Host& h = host();
  const int n = ps.opt.nAll;
  std::vector<double> row;
  if (!readZsqlRow(table, n, row)) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  // An infinite sum reads as a null, which would pass for 0. The rows are
  // summed scaled, as the database's sums are not.
  const int overflow = sqlgen::aggregateOverflow(row.data(), n);
  if (overflow == sqlgen::kXpxWeightsOverflow) {
    h.message(msg::kWeightSumTooLarge);
    return kCodeNoData;
  }
  if (overflow >= 0) {
    const std::string by = h.byDescription(table);
    const char* name = ps.opt.varNames ? ps.opt.varNames + 33 * static_cast<size_t>(overflow) : "";
    h.logLine(ZUL_LOG_ERROR, "The crossproducts of variable " + std::string(name) +
                                 (by.empty() ? "" : " in the BY group " + by) +
                                 " exceed the largest number (about 1.8e308) inside the database. "
                                 "Run the step with OPTIONS INDB=NO, which reads the rows and "
                                 "scales their sums, or rescale the variable.");
    raiseCode(ps, kCodeBadVariables);
    h.endStep(kCodeBadVariables, 0);
  }
  BlockShape shape;
  shape.n = n;
  shape.hasFreq = ps.opt.freqVarNumber > 0;
  shape.hasWeight = ps.opt.weightVarNumber > 0;
  shape.noint = ps.opt.flags.noIntercept;
  // One pass (SQLPASSES=1) sums about the table's first usable row. A group
  // whose means lie more than 1000 standard deviations from it (groups near
  // 0 and near 1e8) keeps less than ten of the sixteen digits of its
  // variances, or none: a wrong answer, not a result.
  constexpr double kFarShift = 1e6;  // in variances
  if (!shape.noint && !sqlgen::commonShiftFits(row, n, {}, kFarShift)) {
    h.message(msg::kOnePassShiftTooFar);
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  // The messages name DATA=, whose rows the database summarised.
  return finishSummary(ps, table, shape, summaryFromZsql(row.data(), n, shape.noint),
                       h.displayName(ps.opt.mainInput));
}

// Finishes a group from summary sums; `name` (when not empty) names the
// data in the messages.
int finishSummary(ProcState& ps, zul_table* table, const BlockShape& shape, const SummarySums& s,
                  const std::string& name) {
  Host& h = host();
  const int n = shape.n;
  if (!ps.corrMatrix) ps.corrMatrix = static_cast<double*>(h.alloc(8.0 * n * (n + 1) / 2));
  if (!ps.corrMatrix) {
    raiseCode(ps, kCodeMemory);
    h.endStep(kCodeMemory, 0);
  }
  std::copy(s.packed.begin(), s.packed.end(), ps.corrMatrix);
  if (weightSumsFinite(s.counts)) stopIfTooLarge(ps, firstOverflowedVariable(n, s.sums.data(), ps.corrMatrix));
  MomentsOut out;
  out.means = ps.means;
  out.stdDevs = ps.stdDevs;
  out.scale = ps.scaleVector;
  const FinishOutcome fin = finishMoments(shape, std::string_view(ps.opt.vardef, 8), false, s.counts,
                                          s.sums.data(), ps.corrMatrix, s.shift.data(), out);
  reportFinish(ps, table, fin, out, name);
  if (fin.status == 0) stopIfTooLarge(ps, firstNonFinite(n, ps.means, ps.stdDevs));
  return fin.status == 0 ? 0 : kCodeNoData;
}

}  // namespace

int crossproductEngine(ProcState& ps) {
  Host& h = host();
  zul_table* table = ps.opt.indbInput ? ps.opt.indbInput : ps.opt.mainInput;
  const int n = ps.opt.nAll;
  if (ps.opt.indbInput && memberOf(table) == "_ZSQL_") return summaryEngine(ps, table);
  if (memberOf(table) == "_MKXPX_") return xpxEngine(ps, table);

  // A raw table that carries _TYPE_ and _NAME_ probably holds a matrix
  // whose TYPE was lost.
  if (ps.opt.typeVarNumber > 0 && ps.opt.nameVarNumber > 0 &&
      !isStoredMatrixType(std::string_view(ps.opt.inputType, 8)))
    h.message(msg::kUntypedMatrixReadAsRaw);

  BlockShape shape;
  shape.n = n;
  shape.hasFreq = ps.opt.freqVarNumber > 0;
  shape.hasWeight = ps.opt.weightVarNumber > 0;
  shape.noint = ps.opt.flags.noIntercept;

  CallResources res;
  res.list = h.readListCreate(table, shape.ncols());
  bool bound = res.list != nullptr;
  for (int i = 0; bound && i < n; ++i)
    bound = h.readListBind(res.list, i, ps.opt.varNumbers[i], false, 8) == 0;
  int slot = n;
  if (bound && shape.hasFreq) bound = h.readListBind(res.list, slot++, ps.opt.freqVarNumber, false, 8) == 0;
  if (bound && shape.hasWeight) bound = h.readListBind(res.list, slot++, ps.opt.weightVarNumber, false, 8) == 0;
  if (!bound) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  res.work = static_cast<double*>(h.alloc(16.0 * n));
  if (!res.work) {
    raiseCode(ps, kCodeMemory);
    h.endStep(kCodeMemory, 0);
  }
  if (!ps.corrMatrix) {
    ps.corrMatrix = static_cast<double*>(h.alloc(8.0 * n * (n + 1) / 2));
    if (!ps.corrMatrix) {
      raiseCode(ps, kCodeMemory);
      h.endStep(kCodeMemory, 0);
    }
  }
  double* sums = res.work;
  double* shift = res.work + n;

  const int threads = threadCountFromHost();
  ps.readThreads = threads;
  HostPlatform platform(res.list);
  ObsCounters counts;
  CrossRun run = readGroup(ps, table, platform, shape, sums, shift, counts, nullptr);
  // Sums about a shift far from the means cancel in Q - S S'/W: read the
  // group again about its means (the second pass of the database's
  // aggregate does the same).
  std::vector<double> means(static_cast<size_t>(n));
  auto far = [&] {
    return weightSumsFinite(counts) &&
           shiftTooFar(shape, counts.weightsUsed, sums, ps.corrMatrix, shift, run.scale,
                       means.data());
  };
  if (far() && h.rewind(table) == 0) {
    run = readGroup(ps, table, platform, shape, sums, shift, counts, means.data());
    // Still cancelling about the means themselves: weights so unequal that
    // the rounding of a mean, times the largest weight, swamps the spread.
    if (far()) {
      skipUnequalWeights(table);
      return kCodeNoData;
    }
  }

  // The sums are scaled so that finite values cannot overflow them; an
  // infinite sum or a mean or standard deviation beyond the largest double
  // (values spanning nearly the whole range) cannot be computed, and would
  // come out as a zero variance.
  if (weightSumsFinite(counts)) stopIfTooLarge(ps, firstOverflowedVariable(n, sums, ps.corrMatrix));
  MomentsOut out;
  out.means = ps.means;
  out.stdDevs = ps.stdDevs;
  out.scale = ps.scaleVector;
  const FinishOutcome fin = finishMoments(shape, std::string_view(ps.opt.vardef, 8), false, counts,
                                          sums, ps.corrMatrix, shift, out, run.scale);
  reportFinish(ps, table, fin, out);
  if (fin.status == 0) stopIfTooLarge(ps, firstNonFinite(n, ps.means, ps.stdDevs));
  return fin.status == 0 ? 0 : kCodeNoData;
}

}  // namespace zulfact
