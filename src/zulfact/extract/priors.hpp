// Prior communalities and the correlation products that come with them.
//
// groupPriors computes them from plain matrices; computePriors reads what
// the host holds for them and leaves behind, in the working matrix
// corrMatrix, the copy of the group's R with the prior communalities on
// the diagonal (the reduced matrix), the prior estimates in
// priorCommunalities and communalities, and the variable weights of the
// extraction method in varWeights. On the way it prints the inverse
// correlation matrix, the partial correlations controlling for all other
// variables and Kaiser's measure of sampling adequacy when asked, and the
// prior communality estimates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zulfact/data/row_gaps.hpp"
#include "zulfact/state/proc_state.hpp"

namespace zulfact {

// The whole step: reads what the host holds (the input table's PRIORS and
// WEIGHT rows, the seed), computes with groupPriors, stores the result
// and reports it. Raises ps.completionCode by maximum: 112 for a singular
// R (the SMC-type priors then fall back, message 180/16), 108 when a
// PRIORS/COMMUNAL or WEIGHT row is missing from the input table (a group
// without its PRIORS row runs with ONE: ps.priorsUsed). A message-file
// failure ends the run with 1020.
void computePriors(ProcState& ps);

// With MSA, the partial correlations controlling for all other variables
// and Kaiser's measure of the group's R, without priors: for the methods
// that read their solution (PATTERN, SCORE) and so never compute priors.
// A singular R gives message 180/13 and code 112, as under computePriors.
void samplingAdequacyOnly(ProcState& ps);

// What a group's priors are computed from: plain values, no host.
struct GroupPriorsInputs {
  int p = 0;
  const double* r = nullptr;          // the group's packed correlation matrix of order p
  const double* stdDevs = nullptr;    // p; a variable without spread gets 0
  int priors = kPriorsOne;            // PRIORS=
  int method = kMethodPrincipal;      // METHOD=, for the variable weights
  bool covariance = false;            // COV: the weights are in the metric of the variances
  const double* given = nullptr;      // NUMERIC: the statement's values; INPUT: the table's
                                      // PRIORS row, null when the table has none
  const double* invDiag = nullptr;    // diag(R^-1); null when R is singular or not inverted
  bool weightOption = false;          // WEIGHT: the weights are the table's WEIGHT row ...
  const double* weightRow = nullptr;  // ... this one, null when the table has none
  int32_t seed = 0;                   // RANDOM: the stream to draw from
};

// A group's priors: what the extraction starts from and what the step
// reports.
struct GroupPriors {
  int priorsUsed = kPriorsOne;  // the group's own code: ONE for INPUT without its row
  bool noPriorsRow = false;     // INPUT, and the table has no PRIORS row
  bool noWeightRow = false;     // WEIGHT, and the table has no WEIGHT row
  bool fellBack = false;        // SMC or ASMC without an inverse
  std::vector<double> h2;       // p prior communalities
  std::vector<double> reduced;  // packed R with h2 on its diagonal (R itself for NONE)
  std::vector<double> weights;  // p variable weights; empty for NONE
  int32_t seed = 0;             // the stream after RANDOM drew from it
};

// The priors of one group: the estimates of priorEstimates, the reduced
// matrix, and the variable weights, those of the WEIGHT row (times the
// variances under COV) or, without it, the method's (methodWeights).
GroupPriors groupPriors(const GroupPriorsInputs& in);

// ---- pieces, shared with the image extraction or exposed for tests ----

// What the prior estimates are computed from: plain matrices, no host.
struct PriorInputs {
  int p = 0;
  const double* r = nullptr;        // packed correlation matrix of order p
  const double* stdDevs = nullptr;  // p; a variable without spread gets 0
  int method = kPriorsOne;          // PRIORS= code (kPriorsNone gives ONE)
  const double* given = nullptr;    // NUMERIC or INPUT: the p values
  const double* invDiag = nullptr;  // diag(R^-1); nullptr when R is singular or not inverted
};

struct PriorEstimates {
  std::vector<double> h2;  // p prior communalities
  bool fellBack = false;   // SMC or ASMC without an inverse: 1.0 or the row maxima
};

// The prior communality estimates of one PRIORS= method: ONE 1.0; NUMERIC
// and INPUT the given values; RANDOM uniform numbers drawn from `seed`
// (advanced); MAX the row maxima of |r_ij|; SMC 1 - 1/r^ii; ASMC the SMC
// scaled to sum to the sum of the row maxima. A variable without spread
// gets 0.
PriorEstimates priorEstimates(const PriorInputs& in, int32_t& seed);

// R^-1 of the group's R (ps.groupCorr, left as it is) by sweeping with
// SINGULAR=, printed as "InvCorr" with the PRINT option; invDiag[i] = r^ii
// when invDiag is given. Empty, with completion code 112 and message
// 180/13, when a pivot was singular.
std::vector<double> inverseCorrelations(ProcState& ps, double* invDiag = nullptr);

// The partial correlations controlling for all other variables,
// -r^ij / sqrt(r^ii r^jj) with 1 on the diagonal, over the packed inverse
// R^-1 of order p.
void partialCorrelations(int p, double* inverse);

// Kaiser's (1970, 1974) measure of sampling adequacy from the packed
// correlation matrix r and the packed partial correlations q (controlling
// for all other variables), both of order p. msa receives p values; the
// result is the overall MSA. Sums with no correlation give 0.
double samplingAdequacy(int p, const double* r, const double* q, double* msa);

// Row maxima of |r_ij|, j != i, of a packed correlation matrix; variables
// whose standard deviation is not positive get 0. Returns their sum.
double maxAbsCorrelations(int p, const double* r, const double* stdDevs, double* out);

// Variable weights of the extraction method from the priors h2 (p of
// them): ALPHA 1/h2 (0 when h2 is not a normal positive number), ML-type
// and HARRIS 1/max(1 - h2, 0.001), otherwise the variances under COV,
// else 1.
void methodWeights(int p, int method, bool covariance, const double* stdDevs, const double* h2,
                   double* weights);

// The values of the input table's first row whose _TYPE_ is "WEIGHT"
// (missing values as 0, counted in gaps) into out (p doubles). False when the table has no
// such row; out is then untouched.
bool readWeightRow(const StepOptions& ps, double* out, RowGaps* gaps = nullptr);

// Prior communalities h2 (p of them) against [0, 1], the rule of the
// Heywood options: with ultraHeywood every value stands (Within); with
// heywood values above 1 become 1 and below 0 become 0 (Adjusted when any
// did); otherwise AboveOne (a Heywood case) when a value is above 1, else
// Negative when one is below 0, with h2 unchanged.
enum class PriorBound { Within, Adjusted, AboveOne, Negative };
PriorBound boundPriors(int p, double* h2, bool heywood, bool ultraHeywood);

// True when an upper-cased, blank-padded 8-character _TYPE_ value names a
// row of prior communalities ("PRIORS", or beginning with "COMMUNAL").
bool isPriorsType(const char* type8);

}  // namespace zulfact
