// The crossproduct engine: sums and crossproducts of raw observations,
// accumulated in blocks on worker threads, and the moments finished from
// them.
//
// Observations are read on the calling thread, in runs of records, into
// column-major blocks of `vecsize` slots (column c of slot t at
// c * vecsize + t: the n variables, then FREQ, then WEIGHT). Block b goes
// to thread b mod (threads), which folds it into its private sums S and
// crossproducts Q by one rank-k update (BLAS dsyrk on the block), with the
// combined weight applied as sqrt(weight) to the rows. Each thread has a
// ring of blocks, handed over several at a time, so that threads are not
// woken for every block.
// All values are taken about one shift vector, the first accepted
// observation of the group, fixed before any block is accumulated: this
// keeps the corrected sums accurate when means are large against the
// spread (West 1979; Chan, Golub & LeVeque 1983), and makes the result the
// same, up to rounding, for any number of threads. The threads' sums are
// added at the end.
// Values and weights so large that their squares or sums would overflow
// are brought near 1 by a power of two per variable (and one for the root
// weights), chosen from the data as they come and only ever lowered; the
// sums already made are rescaled with them. Powers of two scale exactly,
// so the result is that of one scale chosen in advance, and ordinary data
// (below 2^200) are not scaled at all.
//
// This header is the host-independent core; crossproduct_engine.cpp wires
// it to the host's reader, threads, memory and messages.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The eight counters of an accumulator, as doubles.
struct ObsCounters {
  double recordsRead = 0;
  double recordsUsed = 0;
  double missingRecords = 0;  // records dropped for a missing value
  double nonPositive = 0;     // records dropped for weight or frequency
  double freqRead = 0;
  double freqUsed = 0;
  double weightsRead = 0;
  double weightsUsed = 0;
  void add(const ObsCounters& o);
};

// What a block or a record holds.
struct BlockShape {
  int n = 0;             // analysis and partial variables
  bool hasFreq = false;  // a FREQ column follows the variables
  bool hasWeight = false;  // then a WEIGHT column
  bool noint = false;    // moments about zero: no shift
  int ncols() const { return n + (hasFreq ? 1 : 0) + (hasWeight ? 1 : 0); }
  // Columns of a block buffer: ncols, with a spare column after the
  // variables when there is neither FREQ nor WEIGHT.
  int blockCols() const { return ncols() > n ? ncols() : n + 1; }
};

// Observation rules for one record read into rec (ncols values in slot
// order). Updates the fill-side counters. Returns true when the record is
// accepted; its FREQ slot then holds the truncated frequency.
bool screenRecord(double* rec, const BlockShape& shape, ObsCounters& counts);

// The binary scale of accumulated sums: variable i's deviations are taken
// times 2^var[i] and the root weights times 2^root, so S_i holds
// 2^(var[i] + 2 root) sum w d_i and Q_ij 2^(var[i] + var[j] + 2 root)
// sum w d_i d_j. Every exponent is 0 or negative; an empty var means 0.
struct CrossScale {
  std::vector<int> var;
  int root = 0;
  int of(int i) const { return var.empty() ? 0 : var[static_cast<size_t>(i)]; }
};

// Private sums of one thread: the lower triangle of an (n + 1) x (n + 1)
// column-major matrix whose leading n x n block holds the crossproducts Q
// and whose last row holds the sums S (and, in the corner, the sum of the
// weights as the block update sees them), all at the binary scale `scale`.
struct ThreadSums {
  double* cross = nullptr;
  ObsCounters counts;
  CrossScale scale;
  CrossScale want;  // scratch of the block update
};

// Folds `count` accepted slots of a column-major block (blockCols()
// columns of `vecsize` slots) into `into`. The block is overwritten
// (deviations, scaled rows, the root weights in column n). `shift` holds
// the shift (ignored under NOINT).
void accumulateBlock(const BlockShape& shape, double* block, int vecsize, int count,
                     const double* shift, ThreadSums& into);

// Folds one accepted record directly into S and the packed Q, at the
// binary scale `scale` (lowered, with S and Q, when the record needs it):
// the single-observation mode used when no block buffer can be allocated.
void accumulateRecord(const BlockShape& shape, const double* rec, const double* shift,
                      double* sums, double* packed, ObsCounters& counts, CrossScale& scale);

// Adds a thread's sums (ThreadSums::cross, order n + 1) into S (n) and the
// packed Q (order n). The second form first brings the thread's sums from
// its scale `from` to the scale `to` of S and Q (no exponent of `to` above
// that of `from`); cross is rescaled in place.
void foldThreadSums(int n, const double* cross, double* sums, double* packed);
void foldThreadSums(int n, double* cross, const CrossScale& from, const CrossScale& to,
                    double* sums, double* packed);

// The services the engine needs from its platform: the record reader,
// memory, threads and events. The host provides them in production.
class CrossPlatform {
 public:
  virtual ~CrossPlatform() = default;
  // 1 with a record in values (ncols slots), 0 at the end; status as the
  // host's reader: 0 or ZUL_READ_REMARK are fine, anything else is a read error.
  virtual int readRecord(double* values, int32_t& status) = 0;
  // Up to max records, record k at values + k * ncols: their count, 0 at
  // the end; status as readRecord's, an error coming after the records
  // returned. This one reads them one by one.
  virtual int readRecords(double* values, int ncols, int max, int32_t& status);
  virtual double availableMemory() = 0;  // units of 1000 bytes; < 0 unknown
  virtual void* alloc(double bytes) = 0;
  virtual void release(void* block) = 0;
  virtual void* threadCreate(void (*start)(void*), void* arg) = 0;
  virtual void threadJoin(void* thread) = 0;
  virtual void* eventCreate() = 0;
  virtual void eventSet(void* event) = 0;
  virtual void eventReset(void* event) = 0;
  virtual int eventWaitAny(void* const* events, int count) = 0;  // index or -1
  virtual void eventDestroy(void* event) = 0;
};

// Outcome of reading and accumulating one group.
struct CrossRun {
  int poolStatus = 0;      // 0, 55 (a wait failed), 56 (allocation or thread)
  bool readError = false;  // the reader failed; sums hold what was read
  int threads = 1;         // threads that accumulated
  int vecsize = 64;        // 1 in single-observation mode
  bool singleObservation = false;
  CrossScale scale;        // the binary scale of sums and packed
};

// Reads every record of the group and accumulates it. `threads` is the
// wanted count (0 asks for the single-observation mode); it is lowered to
// what memory allows. On return sums (n), packed (n(n+1)/2) and shift (n)
// hold the merged sums, the packed crossproducts (both at the binary scale
// CrossRun::scale) and the shift, counts the summed counters. sums and
// packed are zeroed first. With `givenShift` (n values) the sums are taken
// about it instead of the first accepted observation.
CrossRun accumulateGroup(CrossPlatform& platform, const BlockShape& shape, int threads,
                         double* sums, double* packed, double* shift, ObsCounters& counts,
                         const double* givenShift = nullptr);

// Whether the shift lies so far from the weighted means, against the
// spread, that the corrected sums Q - S S'/W lose more than a quarter of
// their digits (a few observations of overwhelming weight or frequency far
// from the first one): the group is then summed again about its means,
// which go to `means` (n). Never under NOINT.
bool shiftTooFar(const BlockShape& shape, double sumWeights, const double* sums,
                 const double* packed, const double* shift, const CrossScale& scale,
                 double* means);

// Bytes the engine asks for per extra thread and for the main block.
double perThreadBytes(const BlockShape& shape, int vecsize);

// One message of group 230 to issue while finishing.
struct FinishNote {
  int number = 0;        // msg::kObsOmittedMissing.number, ...
  double a = 0, b = 0;   // numeric arguments, in order
  int nNumbers = 0;      // how many of a, b are used
  bool tableName = false;  // followed by the table name
};

struct FinishOutcome {
  int status = 0;            // 0 or 108
  FinishNote notes[4];
  int nNotes = 0;
  bool vardefInvalid = false;
};

// Where the finished moments go.
struct MomentsOut {
  double* means = nullptr;    // n
  double* stdDevs = nullptr;  // n
  double* scale = nullptr;    // n: roots of the corrected diagonal
  double nObs = 0;
  double sumWeights = 0;
  double divisor = 0;
  ObsCounts counts{};
};

// Finishes the moments from the merged sums: observation counts, the
// messages 3 to 8 of group 230 (returned, not issued), the divisor of
// `vardef`, centering, means and standard deviations with the rule for
// variables constant to working precision, and the packed Q converted in
// place to correlations. `quietMissing` suppresses message 3. `scale` is
// the binary scale of sums and packed; means, standard deviations and
// `out.scale` come out in the units of the data (not finite when they
// exceed the largest double).
FinishOutcome finishMoments(const BlockShape& shape, std::string_view vardef, bool quietMissing,
                            const ObsCounters& counts, const double* sums, double* packed,
                            const double* shift, MomentsOut& out,
                            const CrossScale& scale = CrossScale{});

// Thread count from the named setting "zacorr_threads" (missing when not
// set), the THREADS system option (on/off, when given) and CPUCOUNT
// (missing when not given). *fallback is set when neither source gave a
// count (one thread). 0 means one thread in single-observation mode.
int decideThreadCount(double namedSetting, bool threadsOn, double cpuCount, bool* fallback);

}  // namespace zulfact
