#include "zulfact/data/crossproducts.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/data/vardef.hpp"
#include "zulfact/linalg/linalg.hpp"
#include "zul/abi.h"

// Fortran BLAS: present in every BLAS, reference or optimised.
extern "C" void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k,
                       const double* alpha, const double* a, const int* lda, const double* beta,
                       double* c, const int* ldc, size_t uploLength, size_t transLength);

namespace zulfact {

namespace {

constexpr int kStartVecsize = 64;
constexpr int kMaxThreads = 100;
// Fixed allowance for a thread context in the memory sizing.
constexpr double kContextBytes = 184.0;
// Host reader status of a record delivered with a remark: not an error.
constexpr int32_t kReadRemark = 2049;
// Fill results.
constexpr int kFillFull = 0;
constexpr int kFillEnd = -1;
constexpr int kFillReadError = 54;
// Pool results.
constexpr int kPoolWaitFailed = 55;
constexpr int kPoolStartFailed = 56;

inline bool isMissing(double x) { return zul_is_missing(x) != 0; }

}  // namespace

void ObsCounters::add(const ObsCounters& o) {
  recordsRead += o.recordsRead;
  recordsUsed += o.recordsUsed;
  missingRecords += o.missingRecords;
  nonPositive += o.nonPositive;
  freqRead += o.freqRead;
  freqUsed += o.freqUsed;
  weightsRead += o.weightsRead;
  weightsUsed += o.weightsUsed;
}

bool screenRecord(double* rec, const BlockShape& shape, ObsCounters& counts) {
  const int n = shape.n;
  counts.recordsRead += 1;
  double f = 1.0;
  if (shape.hasFreq) {
    const double v = rec[n];
    // A frequency counts whole observations: 2.7 is 2, 0.5 is none.
    if (isMissing(v) || std::floor(v) <= 0) {
      counts.nonPositive += 1;
      return false;
    }
    f = std::floor(v);
    rec[n] = f;
    counts.freqRead += f;
  }
  if (shape.hasWeight) {
    const double w = rec[n + (shape.hasFreq ? 1 : 0)];
    if (isMissing(w) || w <= 0) {
      counts.nonPositive += 1;
      return false;
    }
    counts.weightsRead += shape.hasFreq ? w * f : w;
  }
  for (int i = 0; i < n; ++i) {
    if (isMissing(rec[i])) {
      counts.missingRecords += 1;
      return false;
    }
  }
  return true;
}

void accumulateBlock(const BlockShape& shape, double* block, int vecsize, int count,
                     const double* shift, ThreadSums& into) {
  if (count <= 0) return;
  const int n = shape.n;
  double* freq = shape.hasFreq ? block + static_cast<size_t>(n) * vecsize : nullptr;
  double* weight =
      shape.hasWeight ? block + static_cast<size_t>(n + (shape.hasFreq ? 1 : 0)) * vecsize : nullptr;
  ObsCounters& c = into.counts;

  double sumF = count;
  if (freq) {
    sumF = 0;
    for (int t = 0; t < count; ++t) sumF += freq[t];
  }
  c.freqUsed += sumF;
  // The combined weight of each slot: w f, w, f, or none.
  const double* combined = nullptr;
  if (weight) {
    if (freq)
      for (int t = 0; t < count; ++t) weight[t] *= freq[t];
    double sumW = 0;
    for (int t = 0; t < count; ++t) sumW += weight[t];
    c.weightsUsed += sumW;
    combined = weight;
  } else {
    c.weightsUsed += sumF;
    combined = freq;
  }

  // Column n (the FREQ or WEIGHT column, or the spare one) becomes sqrt of
  // the combined weight, or 1; the variables' rows are scaled by it. The
  // update of the n + 1 columns then gives at once sum w x x' (rows and
  // columns 0..n-1), the sums sum w x (row n) and sum w (the corner).
  double* root = block + static_cast<size_t>(n) * vecsize;
  if (combined) {
    for (int t = 0; t < count; ++t) root[t] = std::sqrt(combined[t]);
  } else {
    for (int t = 0; t < count; ++t) root[t] = 1.0;
  }
  // Deviations s - x from the shift; the sign is undone when the means are
  // formed.
  for (int col = 0; col < n; ++col) {
    double* x = block + static_cast<size_t>(col) * vecsize;
    if (!shape.noint) {
      const double s = shift[col];
      for (int t = 0; t < count; ++t) x[t] = s - x[t];
    }
    if (combined)
      for (int t = 0; t < count; ++t) x[t] *= root[t];
  }

  // One rank-`count` update of the lower triangle.
  const double one = 1.0;
  const int order = n + 1;
  const int k = count;
  const int lda = vecsize;
  dsyrk_("L", "T", &order, &k, &one, block, &lda, &one, into.cross, &order, 1, 1);
}

void accumulateRecord(const BlockShape& shape, const double* rec, const double* shift,
                      double* sums, double* packed, ObsCounters& counts) {
  const int n = shape.n;
  const double f = shape.hasFreq ? rec[n] : 1.0;
  double w = f;
  if (shape.hasWeight) w = rec[n + (shape.hasFreq ? 1 : 0)] * f;
  counts.freqUsed += f;
  counts.weightsUsed += w;
  const bool weighted = shape.hasFreq || shape.hasWeight;
  size_t p = 0;
  for (int i = 0; i < n; ++i) {
    const double di = shape.noint ? rec[i] : shift[i] - rec[i];
    const double wdi = weighted ? w * di : di;
    sums[i] += wdi;
    for (int j = 0; j <= i; ++j, ++p) {
      const double dj = shape.noint ? rec[j] : shift[j] - rec[j];
      packed[p] += wdi * dj;
    }
  }
}

void foldThreadSums(int n, const double* cross, double* sums, double* packed) {
  const size_t ld = static_cast<size_t>(n) + 1;
  size_t p = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j, ++p) packed[p] += cross[j * ld + i];
  for (int j = 0; j < n; ++j) sums[j] += cross[j * ld + n];
}

double perThreadBytes(const BlockShape& shape, int vecsize) {
  const double n1 = shape.n + 1.0;
  // The dense sums and crossproducts the block update writes (order n + 1),
  // the context allowance, and the block itself.
  return n1 * n1 * 8.0 + kContextBytes + static_cast<double>(vecsize) * shape.blockCols() * 8.0;
}

namespace {

// One thread's context: its block, its sums and its counters.
struct Context {
  const BlockShape* shape = nullptr;
  double* block = nullptr;
  int vecsize = 0;
  int filled = 0;
  const double* shift = nullptr;
  bool stop = false;
  bool quit = false;
  ThreadSums sums;
  CrossPlatform* platform = nullptr;
  void* go = nullptr;
  void* idle = nullptr;
};

// The reading side, shared by every fill.
struct Reader {
  CrossPlatform* platform;
  const BlockShape* shape;
  double* record;      // ncols values
  double* shift;
  bool shiftPending;
};

// Reads records into ctx's block until it holds vecsize accepted
// observations, the data end, or a read error.
int fill(Reader& rd, Context& ctx) {
  const BlockShape& shape = *rd.shape;
  const int ncols = shape.ncols();
  ctx.filled = 0;
  while (ctx.filled < ctx.vecsize) {
    int32_t status = 0;
    const int got = rd.platform->readRecord(rd.record, status);
    if (status != 0 && status != kReadRemark) {
      ctx.stop = true;
      return kFillReadError;
    }
    if (!got) return kFillEnd;
    if (!screenRecord(rd.record, shape, ctx.sums.counts)) continue;
    if (rd.shiftPending) {
      if (!shape.noint) std::memcpy(rd.shift, rd.record, sizeof(double) * shape.n);
      rd.shiftPending = false;
    }
    for (int col = 0; col < ncols; ++col)
      ctx.block[static_cast<size_t>(col) * ctx.vecsize + ctx.filled] = rd.record[col];
    ctx.filled += 1;
    ctx.sums.counts.recordsUsed += 1;
  }
  return kFillFull;
}

void accumulateContext(Context& ctx) {
  accumulateBlock(*ctx.shape, ctx.block, ctx.vecsize, ctx.filled, ctx.shift, ctx.sums);
  ctx.filled = 0;
}

// Worker: accumulate each block it is handed, then report idle.
void workerMain(void* arg) {
  Context& ctx = *static_cast<Context*>(arg);
  CrossPlatform& pf = *ctx.platform;
  for (;;) {
    if (pf.eventWaitAny(&ctx.go, 1) < 0) {
      // Nothing sensible is left to do; the caller sees its own wait fail.
      ctx.quit = true;
    }
    pf.eventReset(ctx.go);
    if (ctx.quit) break;
    accumulateContext(ctx);
    pf.eventSet(ctx.idle);
  }
}

// The pool: one worker per context; the calling thread fills whichever
// worker is idle and hands it the block.
int runPool(Reader& rd, std::vector<Context>& ctx) {
  CrossPlatform& pf = *rd.platform;
  const int count = static_cast<int>(ctx.size());
  std::vector<void*> idle(count, nullptr), threads(count, nullptr);
  int status = 0;
  int started = 0;
  for (int i = 0; i < count; ++i) {
    ctx[i].go = pf.eventCreate();
    ctx[i].idle = pf.eventCreate();
    idle[i] = ctx[i].idle;
    if (!ctx[i].go || !ctx[i].idle) {
      status = kPoolStartFailed;
      break;
    }
    pf.eventSet(ctx[i].idle);
    threads[i] = pf.threadCreate(workerMain, &ctx[i]);
    if (!threads[i]) {
      status = kPoolStartFailed;
      break;
    }
    started = i + 1;
  }
  if (status == 0) {
    for (int64_t block = 0;; ++block) {
      // Blocks go to the workers in turn, the first to the first context
      // (so that the shift is taken before any worker runs). A fixed
      // order makes each thread's sums, and so the rounding of the merged
      // result, the same from run to run; waiting for whichever worker is
      // idle first would not. A worker folds a block far faster than one
      // is read, so its turn rarely finds it busy.
      const int turn = static_cast<int>(block % count);
      const int idx = block == 0 ? 0 : pf.eventWaitAny(&idle[turn], 1) < 0 ? -1 : turn;
      if (idx < 0 || idx >= count) {
        status = kPoolWaitFailed;
        break;
      }
      pf.eventReset(idle[idx]);
      const int r = fill(rd, ctx[idx]);
      if (ctx[idx].filled > 0)
        pf.eventSet(ctx[idx].go);
      else
        pf.eventSet(idle[idx]);
      if (r != kFillFull) break;
    }
  }
  // Let every started worker finish its block, then stop it.
  for (int i = 0; i < started; ++i) {
    if (pf.eventWaitAny(&idle[i], 1) < 0 && status == 0) status = kPoolWaitFailed;
    ctx[i].quit = true;
    pf.eventSet(ctx[i].go);
    pf.threadJoin(threads[i]);
  }
  for (int i = 0; i < count; ++i) {
    if (ctx[i].go) pf.eventDestroy(ctx[i].go);
    if (ctx[i].idle) pf.eventDestroy(ctx[i].idle);
  }
  return status;
}

}  // namespace

CrossRun accumulateGroup(CrossPlatform& platform, const BlockShape& shape, int threads,
                         double* sums, double* packed, double* shift, ObsCounters& counts) {
  const int n = shape.n;
  const int ncols = shape.ncols();
  const size_t nPacked = static_cast<size_t>(n) * (n + 1) / 2;
  std::fill(sums, sums + n, 0.0);
  std::fill(packed, packed + nPacked, 0.0);
  std::fill(shift, shift + n, 0.0);
  counts = ObsCounters{};
  std::vector<double> record(static_cast<size_t>(ncols) + 1, 0.0);
  Reader rd{&platform, &shape, record.data(), shift, true};

  CrossRun run;
  int count = std::clamp(threads, 0, kMaxThreads);
  int vecsize = kStartVecsize;
  void* memory = nullptr;
  if (count > 1) {
    const double per = perThreadBytes(shape, vecsize);
    const double mainBlock = static_cast<double>(vecsize) * shape.blockCols() * 8.0;
    const double available = platform.availableMemory();
    if (available >= 0) {
      const double fit = std::floor((available * 1000.0 - mainBlock) / per);
      count = static_cast<int>(std::max(1.0, std::min<double>(count, fit)));
    }
    while (count > 1) {
      memory = platform.alloc(per * count);
      if (memory) break;
      --count;
    }
  }
  if (count == 1) {
    for (; vecsize >= 2; vecsize /= 2) {
      memory = platform.alloc(perThreadBytes(shape, vecsize));
      if (memory) break;
    }
    if (!memory) count = 0;
  }

  if (count == 0) {
    // Single-observation mode: every accepted record goes straight into
    // S and the packed Q.
    run.singleObservation = true;
    run.threads = 1;
    run.vecsize = 1;
    for (;;) {
      int32_t status = 0;
      const int got = platform.readRecord(record.data(), status);
      if (status != 0 && status != kReadRemark) {
        run.readError = true;
        break;
      }
      if (!got) break;
      if (!screenRecord(record.data(), shape, counts)) continue;
      if (rd.shiftPending) {
        if (!shape.noint) std::memcpy(shift, record.data(), sizeof(double) * n);
        rd.shiftPending = false;
      }
      counts.recordsUsed += 1;
      accumulateRecord(shape, record.data(), shift, sums, packed, counts);
    }
    return run;
  }

  // Carve the contexts out of the one allocation: S, dense Q, block.
  std::vector<Context> ctx(count);
  const size_t crossDoubles = (static_cast<size_t>(n) + 1) * (static_cast<size_t>(n) + 1);
  const size_t perDoubles = crossDoubles + static_cast<size_t>(vecsize) * shape.blockCols();
  double* base = static_cast<double*>(memory);
  for (int i = 0; i < count; ++i) {
    double* p = base + perDoubles * i;
    ctx[i].shape = &shape;
    ctx[i].sums.cross = p;
    ctx[i].block = p + crossDoubles;
    ctx[i].vecsize = vecsize;
    ctx[i].shift = shift;
    ctx[i].platform = &platform;
    std::fill(p, p + crossDoubles, 0.0);
  }
  run.threads = count;
  run.vecsize = vecsize;

  if (count == 1) {
    for (;;) {
      const int r = fill(rd, ctx[0]);
      accumulateContext(ctx[0]);
      if (r != kFillFull) {
        run.readError = r == kFillReadError;
        break;
      }
    }
  } else {
    run.poolStatus = runPool(rd, ctx);
    for (const Context& c : ctx) run.readError = run.readError || c.stop;
  }

  // Merge: the threads' sums added in context order.
  for (int i = 0; i < count; ++i) {
    foldThreadSums(n, ctx[i].sums.cross, sums, packed);
    counts.add(ctx[i].sums.counts);
  }
  platform.release(memory);
  return run;
}

FinishOutcome finishMoments(const BlockShape& shape, std::string_view vardef, bool quietMissing,
                            const ObsCounters& c, const double* sums, double* q,
                            const double* shift, MomentsOut& out) {
  FinishOutcome res;
  auto note = [&res](int number, int nNumbers, double a, double b, bool table) {
    FinishNote& x = res.notes[res.nNotes++];
    x.number = number;
    x.nNumbers = nNumbers;
    x.a = a;
    x.b = b;
    x.tableName = table;
  };
  const int n = shape.n;
  const double freqRead = shape.hasFreq ? c.freqRead : c.recordsRead;
  out.counts = ObsCounts{c.recordsRead, c.recordsUsed, freqRead, c.freqUsed,
                         shape.hasWeight ? c.weightsRead : freqRead, c.weightsUsed};
  out.nObs = c.freqUsed;
  out.sumWeights = c.weightsUsed;

  if (c.missingRecords > 0 && !quietMissing) note(msg::kObsOmittedMissing.number, 2, c.missingRecords, c.recordsRead, false);
  if (c.nonPositive > 0) note(msg::kObsOmittedFreqWeight.number, 2, c.nonPositive, c.recordsRead, false);
  if (c.recordsRead <= 0) {
    note(msg::kNoObservations.number, 0, 0, 0, true);
    res.status = kCodeNoData;
    return res;
  }
  if (out.sumWeights <= 0) {
    note(msg::kNoUsableObservations.number, 0, 0, 0, false);
    res.status = kCodeNoData;
    return res;
  }
  if (out.nObs == (shape.noint ? 0.0 : 1.0)) {
    note(msg::kTooFewUsableObservations.number, 1, out.nObs + 1, 0, true);
    res.status = kCodeNoData;
    return res;
  }
  const double k = shape.noint ? 0.0 : 1.0;
  const double d = vardefDivisor(vardef, out.nObs, k, out.sumWeights, &res.vardefInvalid);
  out.divisor = d;
  if (d <= 0) {
    note(msg::kVardefDivisorNotPositive.number, 0, 0, 0, false);
    res.status = kCodeNoData;
    return res;
  }

  const double w = out.sumWeights;
  if (!shape.noint) {
    size_t p = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j, ++p) q[p] -= sums[i] * sums[j] / w;
  }
  for (int i = 0; i < n; ++i) {
    double& qii = q[packedIndex(static_cast<size_t>(i), static_cast<size_t>(i))];
    double sd = qii > 0 ? std::sqrt(qii / d) : 0.0;
    double mean = shape.noint ? sums[i] / w : shift[i] - sums[i] / w;
    // A spread below the resolution of the mean is rounding noise: the
    // variable is constant to working precision.
    if (std::fabs(mean) * kZeroTolerance > sd) {
      sd = 0.0;
      qii = 0.0;
    } else if (std::fabs(mean) < sd * kZeroTolerance) {
      mean = 0.0;
    }
    out.means[i] = mean;
    out.stdDevs[i] = sd;
  }
  covToCorr(n, q, out.scale);
  return res;
}

int decideThreadCount(double namedSetting, bool threadsOn, double cpuCount, bool* fallback) {
  if (fallback) *fallback = false;
  if (!isMissing(namedSetting) && std::isfinite(namedSetting)) {
    const double v = std::floor(namedSetting);
    return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(kMaxThreads)));
  }
  if (threadsOn && !isMissing(cpuCount) && cpuCount > 1)
    return static_cast<int>(std::min(std::floor(cpuCount), static_cast<double>(kMaxThreads)));
  if (fallback) *fallback = true;
  return 1;
}

}  // namespace zulfact
