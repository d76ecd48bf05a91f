#include "zulfact/output/intervals.hpp"

#include <cmath>

namespace zulfact {

namespace {

bool usable(double se) { return se > 0.0 && std::isfinite(se); }

// Acklam's coefficients (relative error below 1.15e-9 before refinement).
constexpr double kA[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                         1.383577518672690e+02, -3.066479806614716e+01, 2.506628277459239e+00};
constexpr double kB[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                         6.680131188771972e+01, -1.328068155288572e+01};
constexpr double kC[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                         -2.549732539343734e+00, 4.374664141464968e+00, 2.938163982698783e+00};
constexpr double kD[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                         3.754408661907416e+00};

double tailApproximation(double q) {  // q < 0.5: the lower tail
  const double r = std::sqrt(-2.0 * std::log(q));
  return (((((kC[0] * r + kC[1]) * r + kC[2]) * r + kC[3]) * r + kC[4]) * r + kC[5]) /
         ((((kD[0] * r + kD[1]) * r + kD[2]) * r + kD[3]) * r + 1.0);
}

double centralApproximation(double q) {
  const double s = q - 0.5, r = s * s;
  return (((((kA[0] * r + kA[1]) * r + kA[2]) * r + kA[3]) * r + kA[4]) * r + kA[5]) * s /
         (((((kB[0] * r + kB[1]) * r + kB[2]) * r + kB[3]) * r + kB[4]) * r + 1.0);
}

}  // namespace

double normalUpperTail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

double normalQuantile(double q) {
  if (!(q > 0.0 && q < 1.0)) return std::nan("");
  double x;
  if (q < 0.02425) x = tailApproximation(q);
  else if (q > 1.0 - 0.02425) x = -tailApproximation(1.0 - q);
  else x = centralApproximation(q);
  // One Halley step on the lower tail P(Z <= x) - q.
  const double e = normalUpperTail(-x) - q;
  const double u = e * std::sqrt(2.0 * M_PI) * std::exp(x * x / 2.0);
  return x - u / (1.0 + x * u / 2.0);
}

Interval waldInterval(double estimate, double se, double z, bool fisher) {
  if (!usable(se) || !std::isfinite(estimate)) return {0.0, 0.0, false};
  if (!fisher) return {estimate - z * se, estimate + z * se, true};
  if (!(std::fabs(estimate) < 1.0)) return {0.0, 0.0, false};
  const double centre = std::atanh(estimate), half = z * se / (1.0 - estimate * estimate);
  return {std::tanh(centre - half), std::tanh(centre + half), true};
}

std::string coveragePicture(double estimate, const Interval& in, double cover) {
  if (!in.valid) return "   .";
  const double lo = in.lower, hi = in.upper;
  cover = std::fabs(cover);
  if (cover == 0.0) {
    if (hi < 0.0) return " []0";
    if (lo > 0.0) return " 0[]";
    return " [0]";
  }
  if (estimate >= 0.0) {  // 0 < mark; the upper bound is at least the estimate
    const double mark = cover;
    if (lo > mark) return "0*[]";
    if (lo > 0.0) return hi >= mark ? "0[*]" : "0[]*";
    return hi >= mark ? "[0*]" : "[0]*";
  }
  const double mark = -cover;  // mark < 0; the lower bound is at most the estimate
  if (hi < mark) return "[]*0";
  if (hi < 0.0) return lo <= mark ? "[*]0" : "*[]0";
  return lo <= mark ? "[*0]" : "*[0]";
}

HypothesisTest hypothesisTest(double estimate, double se, double value, bool oneSided) {
  if (!usable(se) || !std::isfinite(estimate)) return {0.0, 0.0, false};
  const double z = (std::fabs(estimate) - value) / se;
  const double p = oneSided ? normalUpperTail(z) : 2.0 * normalUpperTail(std::fabs(z));
  return {z, p, true};
}

}  // namespace zulfact
