// Significance tests and fit measures of a maximum likelihood solution:
// Bartlett's (1950) corrected chi-square tests of "no common factors" and
// of "k factors are sufficient", the discrepancy n F, Akaike's (1973)
// and Schwarz's (1978) criteria, and Tucker and Lewis's (1973) reliability
// coefficient.
#pragma once

#include "zulfact/state/proc_state.hpp"

namespace zulfact {

struct FitStatistics {
  double df0, chiSq0, prob0;   // H0: no common factors
  double dfK, chiSqK, probK;   // H0: k factors are sufficient
  double discrepancy;          // D = n F, n = N - 1 (N under NOINT)
  double akaike, schwarz, tuckerLewis;
  double multiplier;           // B - 2k/3; at or below 0 every statistic is missing
};

// The statistics for p variables, N observations and k factors (below 0
// counts as 0, when F is taken as -ln|R|), from ln|R| and the final ML
// criterion F. Bartlett's multiplier B = n - (2p + 5)/6, with n = N - 1
// degrees of freedom of the data, or N about zero (NOINT), gives
// chi2_0 = -B ln|R| on p(p-1)/2 df and chi2_k = (B - 2k/3) F on
// ((p - k)^2 - (p + k))/2 df. Probabilities of df <= 0 are missing. When
// B - 2k/3 is not positive there are too few observations for the test:
// every statistic but the degrees of freedom is missing.
FitStatistics fitStatistics(int p, int k, double nObs, double lnDetR, double criterion,
                            bool aboutZero = false);

// The degrees of freedom of the data: N - 1, or N under NOINT.
double dataDegreesOfFreedom(const ProcState& ps);

// The "SignifTests" and "FitMeasures" tables of the statistics (the k
// factor rows only when k > 0), with a note when the multiplier is not
// positive. Nothing without an output sink.
void significanceTests(ProcState& ps, double lnDetR, double criterion);

// Upper-tail probability of the chi-square distribution with df degrees of
// freedom at x: the regularised incomplete gamma function Q(df/2, x/2),
// by its series below x/2 < df/2 + 1 and by Lentz's continued fraction
// above (Press et al. 2007, 6.2). Missing when df <= 0 or x is not finite.
double chiSquareUpperTail(double x, double df);

}  // namespace zulfact
