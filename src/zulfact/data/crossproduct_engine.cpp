#include "zulfact/data/crossproduct_engine.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/data/crossproducts.hpp"
#include "zulfact/data/summary_input.hpp"
#include "sqlgen/crossproduct_sql.hpp"
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
  const char* name = ps.varNames ? ps.varNames + 33 * static_cast<size_t>(i) : "";
  host().message(msg::kValuesTooLarge, {std::string_view(name)});
  raiseCode(ps, kCodeBadVariables);
  host().endStep(kCodeBadVariables, 0);
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
void reportFinish(ProcState& ps, zul_table* table, const FinishOutcome& fin, const MomentsOut& out) {
  Host& h = host();
  ps.obsCounts = out.counts;
  ps.nObs = out.nObs;
  ps.sumWeights = out.sumWeights;
  ps.varianceDivisor = out.divisor;
  const std::string name = fin.nNotes > 0 ? h.tableName(table) : std::string();
  for (int i = 0; i < fin.nNotes; ++i) {
    const FinishNote& nt = fin.notes[i];
    if (nt.number == msg::kVardefDivisorNotPositive.number && fin.vardefInvalid) vardefDivisorLogged(std::string_view(ps.vardef, 8), 0, 0, 0);
    if (nt.nNumbers == 2)
      h.message(msg::input(nt.number), {nt.a, nt.b});
    else if (nt.nNumbers == 1 && nt.tableName)
      h.message(msg::input(nt.number), {nt.a, std::string_view(name)});
    else if (nt.tableName)
      h.message(msg::input(nt.number), {std::string_view(name)});
    else
      h.message(msg::input(nt.number));
  }
  if (fin.vardefInvalid && fin.status == 0) vardefDivisorLogged(std::string_view(ps.vardef, 8), 0, 0, 0);
}

// The member name of a table ("_ZSQL_" of "WORK._ZSQL_").
std::string memberOf(zul_table* table) {
  const std::string name = host().tableName(table);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

// The current group's "_ZSQL_" row: the columns after the BY columns, found
// by their names.
bool readZsqlRow(zul_table* table, int n, std::vector<double>& row) {
  Host& h = host();
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
  return h.readNext(res.list, row.data(), nullptr, status) == 1;
}

// A group summarised inside the database: the row's sums finish as the
// engine's own would.
int summaryEngine(ProcState& ps, zul_table* table) {
  Host& h = host();
  const int n = ps.nAll;
  std::vector<double> row;
  if (!readZsqlRow(table, n, row)) {
    raiseCode(ps, kCodeEngine);
    h.endStep(kCodeEngine, 0);
  }
  BlockShape shape;
  shape.n = n;
  shape.hasFreq = ps.freqVarNumber > 0;
  shape.hasWeight = ps.weightVarNumber > 0;
  shape.noint = ps.flags.noIntercept;
  SummarySums s = summaryFromZsql(row.data(), n, shape.noint);
  if (!ps.corrMatrix) ps.corrMatrix = static_cast<double*>(h.alloc(8.0 * n * (n + 1) / 2));
  if (!ps.corrMatrix) {
    raiseCode(ps, kCodeMemory);
    h.endStep(kCodeMemory, 0);
  }
  std::copy(s.packed.begin(), s.packed.end(), ps.corrMatrix);
  stopIfTooLarge(ps, firstOverflowedVariable(n, s.sums.data(), ps.corrMatrix));
  MomentsOut out;
  out.means = ps.means;
  out.stdDevs = ps.stdDevs;
  out.scale = ps.scaleVector;
  const FinishOutcome fin = finishMoments(shape, std::string_view(ps.vardef, 8), false, s.counts,
                                          s.sums.data(), ps.corrMatrix, s.shift.data(), out);
  reportFinish(ps, table, fin, out);
  if (fin.status == 0) stopIfTooLarge(ps, firstNonFinite(n, ps.means, ps.stdDevs));
  return fin.status == 0 ? 0 : kCodeNoData;
}

}  // namespace

int crossproductEngine(ProcState& ps) {
  Host& h = host();
  zul_table* table = ps.indbInput ? ps.indbInput : ps.mainInput;
  const int n = ps.nAll;
  if (ps.indbInput && memberOf(table) == "_ZSQL_") return summaryEngine(ps, table);

  // A raw table that carries _TYPE_ and _NAME_ probably holds a matrix
  // whose TYPE was lost.
  if (ps.typeVarNumber > 0 && ps.nameVarNumber > 0 &&
      !isStoredMatrixType(std::string_view(ps.inputType, 8)))
    h.message(msg::kUntypedMatrixReadAsRaw);

  BlockShape shape;
  shape.n = n;
  shape.hasFreq = ps.freqVarNumber > 0;
  shape.hasWeight = ps.weightVarNumber > 0;
  shape.noint = ps.flags.noIntercept;

  CallResources res;
  res.list = h.readListCreate(table, shape.ncols());
  bool bound = res.list != nullptr;
  for (int i = 0; bound && i < n; ++i)
    bound = h.readListBind(res.list, i, ps.varNumbers[i], false, 8) == 0;
  int slot = n;
  if (bound && shape.hasFreq) bound = h.readListBind(res.list, slot++, ps.freqVarNumber, false, 8) == 0;
  if (bound && shape.hasWeight) bound = h.readListBind(res.list, slot++, ps.weightVarNumber, false, 8) == 0;
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
  if (threads > 1) h.threadedRead(table, true);
  ObsCounters counts;
  const CrossRun run = accumulateGroup(platform, shape, threads, sums, ps.corrMatrix, shift, counts);
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

  // The sums are scaled so that finite values cannot overflow them; an
  // infinite sum or a mean or standard deviation beyond the largest double
  // (values spanning nearly the whole range) cannot be computed, and would
  // come out as a zero variance.
  stopIfTooLarge(ps, firstOverflowedVariable(n, sums, ps.corrMatrix));
  MomentsOut out;
  out.means = ps.means;
  out.stdDevs = ps.stdDevs;
  out.scale = ps.scaleVector;
  const FinishOutcome fin = finishMoments(shape, std::string_view(ps.vardef, 8), false, counts,
                                          sums, ps.corrMatrix, shift, out, run.scale);
  reportFinish(ps, table, fin, out);
  if (fin.status == 0) stopIfTooLarge(ps, firstNonFinite(n, ps.means, ps.stdDevs));
  return fin.status == 0 ? 0 : kCodeNoData;
}

}  // namespace zulfact
