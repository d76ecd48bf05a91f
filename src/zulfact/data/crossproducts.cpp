#include "zulfact/data/crossproducts.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/data/vardef.hpp"
#include "kernels/centring.hpp"
#include "kernels/linalg.hpp"
#include "zul/abi.h"

// Fortran BLAS: present in every BLAS, reference or optimised.
extern "C" void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k,
                       const double* alpha, const double* a, const int* lda, const double* beta,
                       double* c, const int* ldc, size_t uploLength, size_t transLength);

namespace zulfact {

using kernels::covToCorr;
using kernels::packedIndex;

namespace {

constexpr int kStartVecsize = 64;
constexpr int kMaxThreads = 100;
// Fixed allowance for a thread context in the memory sizing.
constexpr double kContextBytes = 184.0;
// Host reader status of a record delivered with a remark: not an error.
// Fill results.
constexpr int kFillFull = 0;
constexpr int kFillEnd = -1;
constexpr int kFillReadError = 54;
// Pool results.
constexpr int kPoolWaitFailed = 55;
constexpr int kPoolStartFailed = 56;

inline bool isMissing(double x) { return zul_is_missing(x) != 0; }

// Values between 2^-kScaleLimit and 2^kScaleLimit are accumulated as they
// are; larger and smaller ones are scaled by a power of two to about 1.
// Block entries (a deviation times a root weight) then stay below
// 2^(2 kScaleLimit): their squares, summed over any count of observations,
// and the products of two sums in the centring stay far below the largest
// double (2^1024), and above the smallest normal one (2^-1022).
constexpr int kScaleLimit = 200;
// The exponent of sums that hold nothing yet: any scale fits them, so the
// first values choose it, upwards too. Also the cap of a scale exponent.
constexpr int kFreshExponent = 1000;

// b with |x| < 2^b; far below any limit for 0.
int binaryExponent(double x) {
  if (x == 0) return -100000;
  int e = 0;
  std::frexp(x, &e);
  return e;
}

// The scale exponent for values below 2^b (and at least 2^(b-1)). It never
// rises as b rises, so the running exponent of a variable is the lowest
// one of its blocks.
int scaleExponent(int b) {
  if (b > kScaleLimit) return -b;
  if (b < -kScaleLimit) return std::min(-b, kFreshExponent);
  return 0;
}

// Values below this need no scale at exponent 0: deviations from a shift
// below it stay below 2^kScaleLimit.
const double kQuickLimit = std::ldexp(1.0, kScaleLimit - 1);

// True when every |x[t]| is below `limit`: a test without a dependency from
// one value to the next, so that it runs at the speed of the loads.
bool allBelow(const double* x, int count, double limit) {
  int over = 0;
  for (int t = 0; t < count; ++t) over += std::fabs(x[t]) >= limit ? 1 : 0;
  return over == 0;
}

// The usual case, tested in one pass over the block: sums at exponent 0
// and every value, shift and root weight below kQuickLimit, so that the
// block needs no scale.
bool plainBlock(const BlockShape& shape, const double* block, int vecsize, int count,
                const double* shift, bool weighted, const CrossScale& now) {
  const int n = shape.n;
  if (now.root != 0) return false;
  for (int v : now.var)
    if (v != 0) return false;
  if (!shape.noint && !allBelow(shift, n, kQuickLimit)) return false;
  if (weighted && !allBelow(block + static_cast<size_t>(n) * vecsize, count, kQuickLimit))
    return false;
  if (count == vecsize) return allBelow(block, n * vecsize, kQuickLimit);
  for (int col = 0; col < n; ++col)
    if (!allBelow(block + static_cast<size_t>(col) * vecsize, count, kQuickLimit)) return false;
  return true;
}

// A scale for sums that hold nothing yet.
CrossScale freshScale(int n) {
  CrossScale s;
  s.root = kFreshExponent;
  s.var.assign(static_cast<size_t>(n), kFreshExponent);
  return s;
}

// The lowest scale exponent so far of a variable, given its block
// maximum m and the shift s: deviations s - x stay below 2^(max(b_s, b_m) + 1).
int variableExponent(int current, double s, double m, bool noint) {
  const int b = noint ? binaryExponent(m) : std::max(binaryExponent(std::fabs(s)), binaryExponent(m)) + 1;
  return std::min(current, scaleExponent(b));
}

// Multiplies element (a, b) of the lower triangle of a dense column-major
// matrix of order `order` by 2^(delta[a] + delta[b]).
void rescaleDense(int order, double* cross, const std::vector<int>& delta) {
  for (int b = 0; b < order; ++b)
    for (int a = b; a < order; ++a) {
      const int e = delta[static_cast<size_t>(a)] + delta[static_cast<size_t>(b)];
      if (e != 0) cross[static_cast<size_t>(b) * order + a] = std::ldexp(cross[static_cast<size_t>(b) * order + a], e);
    }
}

// Lowers `scale` to `to` (same layout), rescaling sums at the scale of the
// given S (n) and packed Q.
void rescalePacked(int n, double* sums, double* packed, CrossScale& scale, const CrossScale& to) {
  const int dRoot = 2 * (to.root - scale.root);
  size_t p = 0;
  for (int i = 0; i < n; ++i) {
    const int di = to.of(i) - scale.of(i);
    if (di + dRoot != 0) sums[i] = std::ldexp(sums[i], di + dRoot);
    for (int j = 0; j <= i; ++j, ++p) {
      const int e = di + to.of(j) - scale.of(j) + dRoot;
      if (e != 0) packed[p] = std::ldexp(packed[p], e);
    }
  }
  scale = to;
}

// The scale a block needs, into `want`: the thread's scale `now` lowered
// for the largest values of each variable column and of the root weights
// (count slots of a column-major block, the root weights in column n when
// weighted). True when it differs from `now`.
bool blockScale(const BlockShape& shape, const double* block, int vecsize, int count,
                const double* shift, bool weighted, const CrossScale& now, CrossScale& want) {
  const int n = shape.n;
  const double* root = block + static_cast<size_t>(n) * vecsize;
  if (plainBlock(shape, block, vecsize, count, shift, weighted, now)) return false;
  // Without weights the root column holds ones: exponent 0.
  double m = weighted ? 0.0 : 1.0;
  if (weighted && !(now.root == 0 && allBelow(root, count, kQuickLimit)))
    for (int t = 0; t < count; ++t) m = std::max(m, root[t]);
  want.root = std::min(now.root, scaleExponent(binaryExponent(m)));
  bool lower = want.root != now.root;
  want.var.resize(static_cast<size_t>(n));
  for (int col = 0; col < n; ++col) {
    const double* x = block + static_cast<size_t>(col) * vecsize;
    const double s = shape.noint ? 0.0 : shift[col];
    // The usual case: a variable at exponent 0 whose values need none.
    if (now.of(col) == 0 && std::fabs(s) < kQuickLimit && allBelow(x, count, kQuickLimit)) {
      want.var[static_cast<size_t>(col)] = 0;
      continue;
    }
    double m = 0;
    for (int t = 0; t < count; ++t) m = std::max(m, std::fabs(x[t]));
    const int e = variableExponent(now.of(col), s, m, shape.noint);
    want.var[static_cast<size_t>(col)] = e;
    lower = lower || e != now.of(col);
  }
  return lower;
}

// Brings a thread's dense sums from its scale to `to`: column c (variable
// c's deviation times the root weight, or the root weight for c = n) is
// scaled by 2^(var[c] + root).
void rescaleThread(int n, double* cross, CrossScale& scale, const CrossScale& to) {
  std::vector<int> delta(static_cast<size_t>(n) + 1);
  const int dRoot = to.root - scale.root;
  for (int c = 0; c < n; ++c) delta[static_cast<size_t>(c)] = to.of(c) - scale.of(c) + dRoot;
  delta[static_cast<size_t>(n)] = dRoot;
  rescaleDense(n + 1, cross, delta);
  scale = to;
}

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
  if (blockScale(shape, block, vecsize, count, shift, combined != nullptr, into.scale, into.want))
    rescaleThread(n, into.cross, into.scale, into.want);
  const CrossScale& scale = into.scale;
  if (scale.root != 0)
    for (int t = 0; t < count; ++t) root[t] = std::ldexp(root[t], scale.root);
  // Deviations s - x from the shift; the sign is undone when the means are
  // formed. A scaled variable is scaled before the subtraction, which
  // could overflow otherwise.
  for (int col = 0; col < n; ++col) {
    double* x = block + static_cast<size_t>(col) * vecsize;
    const int e = scale.of(col);
    if (e != 0) {
      const double f = std::ldexp(1.0, e);
      const double s = shape.noint ? 0.0 : shift[col] * f;
      for (int t = 0; t < count; ++t) x[t] = shape.noint ? x[t] * f : s - x[t] * f;
    } else if (!shape.noint) {
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
                      double* sums, double* packed, ObsCounters& counts, CrossScale& scale) {
  const int n = shape.n;
  const double f = shape.hasFreq ? rec[n] : 1.0;
  double w = f;
  if (shape.hasWeight) w = rec[n + (shape.hasFreq ? 1 : 0)] * f;
  counts.freqUsed += f;
  counts.weightsUsed += w;
  const bool weighted = shape.hasFreq || shape.hasWeight;
  // The scale this record needs; the sums so far follow it down.
  const int root = std::min(scale.root, scaleExponent(binaryExponent(weighted ? std::sqrt(w) : 1.0)));
  bool lower = root != scale.root;
  for (int i = 0; i < n && !lower; ++i)
    lower = variableExponent(scale.of(i), shift[i], std::fabs(rec[i]), shape.noint) != scale.of(i);
  if (lower) {
    CrossScale to;
    to.root = root;
    for (int i = 0; i < n; ++i)
      to.var.push_back(variableExponent(scale.of(i), shift[i], std::fabs(rec[i]), shape.noint));
    rescalePacked(n, sums, packed, scale, to);
  }
  const double ws = scale.root == 0 ? w : std::ldexp(w, 2 * scale.root);
  auto deviation = [&](int i) {
    const int e = scale.of(i);
    if (e == 0) return shape.noint ? rec[i] : shift[i] - rec[i];
    const double s = std::ldexp(1.0, e);
    return shape.noint ? rec[i] * s : shift[i] * s - rec[i] * s;
  };
  size_t p = 0;
  for (int i = 0; i < n; ++i) {
    const double di = deviation(i);
    const double wdi = weighted ? ws * di : di;
    sums[i] += wdi;
    for (int j = 0; j <= i; ++j, ++p) packed[p] += wdi * deviation(j);
  }
}

void foldThreadSums(int n, const double* cross, double* sums, double* packed) {
  const size_t ld = static_cast<size_t>(n) + 1;
  size_t p = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j, ++p) packed[p] += cross[j * ld + i];
  for (int j = 0; j < n; ++j) sums[j] += cross[j * ld + n];
}

void foldThreadSums(int n, double* cross, const CrossScale& from, const CrossScale& to,
                    double* sums, double* packed) {
  CrossScale scale = from;
  rescaleThread(n, cross, scale, to);
  foldThreadSums(n, cross, sums, packed);
}

double perThreadBytes(const BlockShape& shape, int vecsize) {
  const double n1 = shape.n + 1.0;
  // The dense sums and crossproducts the block update writes (order n + 1),
  // the context allowance, and the block itself.
  return n1 * n1 * 8.0 + kContextBytes + static_cast<double>(vecsize) * shape.blockCols() * 8.0;
}

namespace {

// Records asked of the platform at once.
constexpr int kRunRecords = 256;
// Blocks a worker may have waiting: about this many bytes of them, at
// most kMaxRing. They are handed over kRing / 2 at a time, so that a
// worker is woken once per several blocks rather than for each one.
constexpr double kRingBytes = 2.0 * 1024 * 1024;
constexpr int kMaxRing = 16;

// The reading side, shared by every fill: records come from the platform
// in runs and are screened one by one in file order.
class Reader {
 public:
  // The shift is `given` when there is one (never under NOINT), else 0 until
  // the first accepted record.
  Reader(CrossPlatform& platform, const BlockShape& shape, double* shift, const double* given)
      : platform_(platform), shape_(shape), ncols_(shape.ncols()), shift_(shift),
        shiftPending_(given == nullptr), run_(static_cast<size_t>(kRunRecords) * ncols_ + 1, 0.0) {
    if (given && !shape.noint)
      std::copy(given, given + shape.n, shift);
    else
      std::fill(shift, shift + shape.n, 0.0);
  }

  // The next record (ncols values, which the caller may change), or
  // nullptr at the end of the group or after a read error (readError()).
  double* next() {
    if (next_ == have_) {
      if (error_ || ended_) return nullptr;
      int32_t status = 0;
      have_ = platform_.readRecords(run_.data(), ncols_, kRunRecords, status);
      next_ = 0;
      // Records read before a failing one are used; the error comes after them.
      if (status != 0 && status != ZUL_READ_REMARK) error_ = true;
      if (have_ <= 0) {
        have_ = 0;
        ended_ = true;
        return nullptr;
      }
    }
    return run_.data() + static_cast<size_t>(next_++) * ncols_;
  }
  bool readError() const { return error_ && next_ == have_; }

  // Screens rec into counts; true when it is accepted. The first accepted
  // record of the group becomes the shift.
  bool accept(double* rec, ObsCounters& counts) {
    if (!screenRecord(rec, shape_, counts)) return false;
    if (shiftPending_) {
      if (!shape_.noint) std::memcpy(shift_, rec, sizeof(double) * shape_.n);
      shiftPending_ = false;
    }
    counts.recordsUsed += 1;
    return true;
  }

 private:
  CrossPlatform& platform_;
  const BlockShape& shape_;
  const int ncols_;
  double* shift_;
  bool shiftPending_;
  std::vector<double> run_;
  int have_ = 0, next_ = 0;
  bool error_ = false, ended_ = false;
};

// One thread's context: its ring of blocks, its sums and its counters.
// The reading thread fills the blocks in order and publishes them; the
// worker accumulates them in the same order.
struct Context {
  const BlockShape* shape = nullptr;
  double* blocks = nullptr;  // ring blocks of vecsize * blockCols() doubles
  int ring = 1;
  int vecsize = 0;
  std::vector<int> filled;   // accepted slots of each ring block
  const double* shift = nullptr;
  ThreadSums sums;           // the worker's sums and block counters
  ObsCounters readCounts;    // the reading thread's counters of this context's blocks
  CrossPlatform* platform = nullptr;
  // Blocks published to the worker and accumulated by it.
  std::atomic<int64_t> published{0};
  std::atomic<int64_t> consumed{0};
  std::atomic<bool> quit{false};
  std::atomic<bool> waitFailed{false};
  void* go = nullptr;     // set when blocks are published or quit is set
  void* space = nullptr;  // set when the worker has freed a block

  double* block(int64_t j) const {
    return blocks + static_cast<size_t>(j % ring) * static_cast<size_t>(vecsize) * shape->blockCols();
  }
};

// Fills one block with up to vecsize accepted records: kFillFull, or
// kFillEnd / kFillReadError with what was read so far in *count.
int fill(Reader& rd, const BlockShape& shape, double* block, int vecsize, ObsCounters& counts,
         int* count) {
  const int ncols = shape.ncols();
  int filled = 0;
  int result = kFillFull;
  while (filled < vecsize) {
    double* rec = rd.next();
    if (!rec) {
      result = rd.readError() ? kFillReadError : kFillEnd;
      break;
    }
    if (!rd.accept(rec, counts)) continue;
    for (int col = 0; col < ncols; ++col) block[static_cast<size_t>(col) * vecsize + filled] = rec[col];
    ++filled;
  }
  *count = filled;
  return result;
}

// Waits until ready() holds; the event is reset before the last check, so
// a set that comes after it is never lost. false when the wait failed.
template <class Ready>
bool waitUntil(CrossPlatform& pf, void* event, Ready ready) {
  while (!ready()) {
    pf.eventReset(event);
    if (ready()) break;
    if (pf.eventWaitAny(&event, 1) < 0) return false;
  }
  return true;
}

// Worker: accumulates each published block in order until told to quit.
void workerMain(void* arg) {
  Context& ctx = *static_cast<Context*>(arg);
  CrossPlatform& pf = *ctx.platform;
  int64_t done = 0;
  for (;;) {
    const bool ok = waitUntil(pf, ctx.go, [&] {
      return ctx.published.load(std::memory_order_acquire) > done ||
             ctx.quit.load(std::memory_order_acquire);
    });
    if (!ok) {
      ctx.waitFailed.store(true, std::memory_order_release);
      pf.eventSet(ctx.space);
      return;
    }
    const int64_t upTo = ctx.published.load(std::memory_order_acquire);
    if (done == upTo) return;  // quit, and every block is done
    for (; done < upTo; ++done) {
      accumulateBlock(*ctx.shape, ctx.block(done), ctx.vecsize,
                      ctx.filled[static_cast<size_t>(done % ctx.ring)], ctx.shift, ctx.sums);
      ctx.consumed.store(done + 1, std::memory_order_release);
      pf.eventSet(ctx.space);
    }
  }
}

// The pool: one worker per context. The reading thread fills the blocks
// in turn, block b going to context b mod count: a fixed order makes each
// thread's sums, and so the rounding of the merged result, the same from
// run to run. The first block goes to the first context, and the shift is
// taken while it is filled, before any worker runs; the caller has filled
// it already (firstFilled records, a full block).
int runPool(Reader& rd, std::vector<Context>& ctx, int firstFilled) {
  CrossPlatform& pf = *ctx[0].platform;
  const BlockShape& shape = *ctx[0].shape;
  const int count = static_cast<int>(ctx.size());
  std::vector<void*> threads(count, nullptr);
  std::vector<int64_t> nFilled(count, 0);  // blocks filled per context
  int status = 0;
  int started = 0;
  for (int i = 0; i < count; ++i) {
    ctx[i].go = pf.eventCreate();
    ctx[i].space = pf.eventCreate();
    if (!ctx[i].go || !ctx[i].space) {
      status = kPoolStartFailed;
      break;
    }
    threads[i] = pf.threadCreate(workerMain, &ctx[i]);
    if (!threads[i]) {
      status = kPoolStartFailed;
      break;
    }
    started = i + 1;
  }
  auto publish = [&](Context& c, int64_t upTo) {
    if (c.published.load(std::memory_order_relaxed) == upTo) return;
    c.published.store(upTo, std::memory_order_release);
    pf.eventSet(c.go);
  };
  if (status == 0) {
    ctx[0].filled[0] = firstFilled;
    nFilled[0] = 1;
    if (1 >= std::max(1, ctx[0].ring / 2)) publish(ctx[0], 1);
    for (int64_t b = 1;; ++b) {
      const int turn = static_cast<int>(b % count);
      Context& c = ctx[turn];
      const int64_t j = nFilled[turn];
      // A free block in the ring.
      const bool ok = waitUntil(pf, c.space, [&] {
        return j - c.consumed.load(std::memory_order_acquire) < c.ring ||
               c.waitFailed.load(std::memory_order_acquire);
      });
      if (!ok || c.waitFailed.load(std::memory_order_acquire)) {
        status = kPoolWaitFailed;
        break;
      }
      int got = 0;
      const int r = fill(rd, shape, c.block(j), c.vecsize, c.readCounts, &got);
      if (got > 0) {
        c.filled[static_cast<size_t>(j % c.ring)] = got;
        nFilled[turn] = j + 1;
        if (j + 1 - c.published.load(std::memory_order_relaxed) >= std::max(1, c.ring / 2))
          publish(c, j + 1);
      }
      if (r != kFillFull) break;
    }
  }
  // Hand over what is left, let every started worker finish, then stop it.
  for (int i = 0; i < started; ++i) {
    Context& c = ctx[i];
    publish(c, nFilled[i]);
    const bool ok = waitUntil(pf, c.space, [&] {
      return c.consumed.load(std::memory_order_acquire) == nFilled[i] ||
             c.waitFailed.load(std::memory_order_acquire);
    });
    if ((!ok || c.waitFailed.load()) && status == 0) status = kPoolWaitFailed;
    c.quit.store(true, std::memory_order_release);
    pf.eventSet(c.go);
    pf.threadJoin(threads[i]);
  }
  for (int i = 0; i < count; ++i) {
    if (ctx[i].go) pf.eventDestroy(ctx[i].go);
    if (ctx[i].space) pf.eventDestroy(ctx[i].space);
  }
  return status;
}

}  // namespace

int CrossPlatform::readRecords(double* values, int ncols, int max, int32_t& status) {
  status = 0;
  int got = 0;
  const size_t width = static_cast<size_t>(ncols);
  while (got < max) {
    int32_t st = 0;
    const int one = readRecord(values + width * static_cast<size_t>(got), st);
    if (st != 0 && st != ZUL_READ_REMARK) {
      status = st;
      break;
    }
    if (st == ZUL_READ_REMARK) status = ZUL_READ_REMARK;
    if (!one) break;
    ++got;
  }
  return got;
}

namespace {

// Memory for `count` thread contexts (lowered to what the platform has
// and gives), or for one with a block of `vecsize` slots halved until it
// fits; count 0 and nullptr when not even a two-slot block fits.
void* reserveContexts(CrossPlatform& platform, const BlockShape& shape, int& count, int& vecsize) {
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
  return memory;
}

// The lower of two scales, exponent by exponent.
CrossScale lowerScale(int n, const CrossScale& a, const CrossScale& b) {
  CrossScale low;
  low.root = std::min(a.root, b.root);
  if (a.var.empty() && b.var.empty()) return low;
  for (int i = 0; i < n; ++i) low.var.push_back(std::min(a.of(i), b.of(i)));
  return low;
}

}  // namespace

CrossRun accumulateGroup(CrossPlatform& platform, const BlockShape& shape, int threads,
                         double* sums, double* packed, double* shift, ObsCounters& counts,
                         const double* givenShift) {
  const int n = shape.n;
  const size_t nPacked = static_cast<size_t>(n) * (n + 1) / 2;
  std::fill(sums, sums + n, 0.0);
  std::fill(packed, packed + nPacked, 0.0);
  counts = ObsCounters{};
  Reader rd(platform, shape, shift, givenShift);

  CrossRun run;
  int count = std::clamp(threads, 0, kMaxThreads);
  int vecsize = kStartVecsize;
  void* memory = reserveContexts(platform, shape, count, vecsize);

  if (count == 0) {
    // Single-observation mode: every accepted record goes straight into
    // S and the packed Q.
    run.singleObservation = true;
    run.threads = 1;
    run.vecsize = 1;
    run.scale = freshScale(n);
    while (double* rec = rd.next()) {
      if (rd.accept(rec, counts))
        accumulateRecord(shape, rec, shift, sums, packed, counts, run.scale);
    }
    run.readError = rd.readError();
    return run;
  }

  // Carve the contexts out of the one allocation: S, dense Q, block. With
  // several threads each context gets a ring of blocks of its own when
  // memory allows; its block in the allocation is then unused.
  const size_t crossDoubles = (static_cast<size_t>(n) + 1) * (static_cast<size_t>(n) + 1);
  const size_t blockDoubles = static_cast<size_t>(vecsize) * shape.blockCols();
  const size_t perDoubles = crossDoubles + blockDoubles;
  int ring = 1;
  void* ringMemory = nullptr;
  if (count > 1) {
    ring = static_cast<int>(std::clamp(kRingBytes / (8.0 * blockDoubles), 1.0, double{kMaxRing}));
    while (ring > 1 && !(ringMemory = platform.alloc(8.0 * blockDoubles * ring * count))) ring /= 2;
  }
  std::vector<Context> ctx(count);
  double* base = static_cast<double*>(memory);
  for (int i = 0; i < count; ++i) {
    double* p = base + perDoubles * i;
    ctx[i].shape = &shape;
    ctx[i].sums.cross = p;
    ctx[i].ring = ring;
    ctx[i].blocks = ringMemory ? static_cast<double*>(ringMemory) + blockDoubles * ring * i
                               : p + crossDoubles;
    ctx[i].filled.assign(static_cast<size_t>(ring), 0);
    ctx[i].vecsize = vecsize;
    ctx[i].shift = shift;
    ctx[i].sums.scale = freshScale(n);
    ctx[i].platform = &platform;
    std::fill(p, p + crossDoubles, 0.0);
  }
  run.threads = count;
  run.vecsize = vecsize;

  if (count == 1) {
    for (;;) {
      int got = 0;
      const int r = fill(rd, shape, ctx[0].blocks, vecsize, ctx[0].readCounts, &got);
      accumulateBlock(shape, ctx[0].blocks, vecsize, got, shift, ctx[0].sums);
      if (r != kFillFull) {
        run.readError = r == kFillReadError;
        break;
      }
    }
  } else {
    // The first block is filled before the pool starts: a group that ends
    // within it (BY groups of a few rows, often thousands of them) is summed
    // here, as the first worker would sum it, since starting and joining the
    // threads would cost far more than the block.
    int got = 0;
    const int r = fill(rd, shape, ctx[0].block(0), vecsize, ctx[0].readCounts, &got);
    if (r == kFillFull) {
      run.poolStatus = runPool(rd, ctx, got);
    } else {
      accumulateBlock(shape, ctx[0].block(0), vecsize, got, shift, ctx[0].sums);
    }
    run.readError = rd.readError();
  }

  // Merge: the threads' sums added in context order, at the lowest scale
  // of any. The reading and the block counters of a context hold
  // different fields.
  run.scale = ctx[0].sums.scale;
  for (int i = 1; i < count; ++i) run.scale = lowerScale(n, run.scale, ctx[i].sums.scale);
  for (int i = 0; i < count; ++i) {
    foldThreadSums(n, ctx[i].sums.cross, ctx[i].sums.scale, run.scale, sums, packed);
    counts.add(ctx[i].readCounts);
    counts.add(ctx[i].sums.counts);
  }
  if (ringMemory) platform.release(ringMemory);
  platform.release(memory);
  return run;
}

bool shiftTooFar(const BlockShape& shape, double sumWeights, const double* sums,
                 const double* packed, const double* shift, const CrossScale& scale,
                 double* means) {
  if (shape.noint || !(sumWeights > 0) || !std::isfinite(sumWeights)) return false;
  const double w = std::ldexp(sumWeights, 2 * scale.root);
  bool far = false;
  for (int i = 0; i < shape.n; ++i) {
    const double raw = packed[packedIndex(static_cast<size_t>(i), static_cast<size_t>(i))];
    if (kernels::centringCancels(raw, sums[i] * sums[i] / w)) far = true;
    means[i] = shift[i] - std::ldexp(sums[i] / w, -scale.of(i));
  }
  return far && std::all_of(means, means + shape.n, [](double m) { return std::isfinite(m); });
}

FinishOutcome finishMoments(const BlockShape& shape, std::string_view vardef, bool quietMissing,
                            const ObsCounters& c, const double* sums, double* q,
                            const double* shift, MomentsOut& out, const CrossScale& scale) {
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
  // The sums themselves are scaled, but the count and the sum of weights
  // are not: past the largest double they would make every mean 0 and
  // every variance 0, a wrong answer given as a right one.
  if (!std::isfinite(out.nObs) || !std::isfinite(out.sumWeights)) {
    note(msg::kWeightSumTooLarge.number, 0, 0, 0, false);
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

  // The sum of weights at the scale of the sums, and each variable's
  // exponent back to the units of the data (0 unless the values were huge).
  const double w = scale.root == 0 ? out.sumWeights : std::ldexp(out.sumWeights, 2 * scale.root);
  auto unscale = [&](double x, int e) { return e == 0 ? x : std::ldexp(x, e); };
  if (!shape.noint) {
    size_t p = 0;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j, ++p) q[p] -= sums[i] * sums[j] / w;
  }
  for (int i = 0; i < n; ++i) {
    double& qii = q[packedIndex(static_cast<size_t>(i), static_cast<size_t>(i))];
    double sd = qii > 0 ? unscale(std::sqrt(qii / d), -scale.of(i) - scale.root) : 0.0;
    const double meanDeviation = unscale(sums[i] / w, -scale.of(i));
    double mean = shape.noint ? meanDeviation : shift[i] - meanDeviation;
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
  for (int i = 0; i < n; ++i) out.scale[i] = unscale(out.scale[i], -scale.of(i) - scale.root);
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
