// Wald confidence limits, hypothesis tests and coverage pictures of
// estimates with standard errors. Host-free.
//
// Limits are estimate -/+ z SE with z the normal quantile at 1 - ALPHA/2.
// A correlation between oblique factors has its limits through Fisher's
// z = atanh(phi), whose standard error is SE / (1 - phi^2) by the delta
// method, so that they stay inside (-1, 1): tanh(atanh(phi) -/+ z SE /
// (1 - phi^2)).
//
// HYPVALUE=v (v >= 0) tests |lambda| = v against |lambda| > v with
// z = (|estimate| - v) / SE; the one-sided p-value is the upper normal tail
// at z, the two-sided one twice the tail at |z|.
#pragma once

#include <string>

namespace zulfact {

// The standard normal quantile at probability q (0 < q < 1): Acklam's
// rational approximation refined by one Halley step on erfc.
double normalQuantile(double q);

// P(Z > z) for a standard normal Z.
double normalUpperTail(double z);

struct Interval {
  double lower;
  double upper;
  bool valid;  // false when the standard error is not positive or missing
};

// The Wald interval of an estimate with standard error `se` at quantile z;
// `fisher` for a correlation (|estimate| < 1).
Interval waldInterval(double estimate, double se, double z, bool fisher);

// The four-character coverage picture of the interval of `estimate`
// against 0 and the COVER= value (at minus it for a negative estimate):
// "[", "]" the bounds, "0" zero, "*" the COVER= value, in their order on
// the number line; with cover 0 one of " []0", " [0]", " 0[]". A point on
// a bound counts as inside. An invalid interval gives "   .".
std::string coveragePicture(double estimate, const Interval& interval, double cover);

struct HypothesisTest {
  double z;
  double p;
  bool valid;
};

// The z statistic (|estimate| - value) / se and its p-value.
HypothesisTest hypothesisTest(double estimate, double se, double value, bool oneSided);

}  // namespace zulfact
