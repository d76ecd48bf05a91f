#include "zulfact/extract/fit_tests.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "zulfact/state/constants.hpp"
#include "zulfact/state/message_ids.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/table_writer.hpp"
#include "zulfact/output/vector_table.hpp"

namespace zulfact {

namespace {

// Near x = a both the series and the fraction need some sqrt(a) terms: the
// limit grows with a, so that a large N's noncentral sums stay exact.
double termLimit(double a) { return 100000.0 + 20.0 * std::sqrt(a); }

// ln Q(a, x) pieces: P(a, x) by the series sum x^n / (a (a+1) ... (a+n)),
// Q(a, x) by the continued fraction, both times exp(-x + a ln x - lnGamma(a)).
double gammaSeriesP(double a, double x) {
  double term = 1.0 / a, sum = term;
  const double limit = termLimit(a);
  for (double n = 1; n < limit; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-17) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

double gammaFractionQ(double a, double x) {
  const double tiny = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / tiny, d = 1.0 / b, h = d;
  const double limit = termLimit(a);
  for (double i = 1; i < limit; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return h * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

}  // namespace

double chiSquareUpperTail(double x, double df) {
  if (!(df > 0.0) || !std::isfinite(x)) return zul_missing();
  if (x <= 0.0) return 1.0;
  const double a = 0.5 * df, z = 0.5 * x;
  return z < a + 1.0 ? 1.0 - gammaSeriesP(a, z) : gammaFractionQ(a, z);
}

double dataDegreesOfFreedom(const ProcState& ps) {
  return ps.opt.flags.noIntercept ? ps.nObs : ps.nObs - 1.0;
}

FitStatistics fitStatistics(int p, int k, double nObs, double lnDetR, double criterion,
                            bool aboutZero) {
  const int kk = std::max(0, k);
  const double f = kk == 0 ? -lnDetR : criterion;
  // Crossproducts about zero lose no degree of freedom to the means.
  const double n = aboutZero ? nObs : nObs - 1.0;
  const double b = n - (2.0 * p + 5.0) / 6.0;
  FitStatistics s;
  s.df0 = p * (p - 1.0) / 2.0;
  s.chiSq0 = -b * lnDetR;
  s.prob0 = chiSquareUpperTail(s.chiSq0, s.df0);
  s.dfK = ((p - kk) * double(p - kk) - (p + kk)) / 2.0;
  s.chiSqK = (b - 2.0 * kk / 3.0) * f;
  s.probK = chiSquareUpperTail(s.chiSqK, s.dfK);
  s.discrepancy = n * f;
  s.akaike = s.discrepancy - 2.0 * s.dfK;
  s.schwarz = s.discrepancy - std::log(nObs) * s.dfK;
  s.multiplier = b - 2.0 * kk / 3.0;
  if (!(s.multiplier > 0.0)) {
    // Negative chi-squares and discrepancies would read as a perfect fit.
    for (double* v : {&s.chiSq0, &s.prob0, &s.chiSqK, &s.probK, &s.discrepancy, &s.akaike,
                      &s.schwarz, &s.tuckerLewis})
      *v = zul_missing();
    return s;
  }
  const double rho0 = s.df0 < kSmallestNormal ? zul_missing() : s.chiSq0 / s.df0;
  const double rhoK = s.dfK <= 0.0 ? rho0 : s.chiSqK / s.dfK;
  if (!std::isfinite(rho0) || !std::isfinite(rhoK)) {
    s.tuckerLewis = zul_missing();
  } else {
    s.tuckerLewis = rho0 <= 1.0 ? 0.0 : (rho0 - rhoK) / (rho0 - 1.0);
  }
  return s;
}

void significanceTests(ProcState& ps, double lnDetR, double criterion) {
  if (ps.sink == nullptr) return;
  Host& h = host();
  const int kk = std::max(0, ps.factorsRetained);
  const bool aboutZero = ps.opt.flags.noIntercept;
  const FitStatistics s = fitStatistics(ps.opt.nVars, kk, ps.nObs, lnDetR, criterion, aboutZero);
  const double missing = zul_missing();
  if (!(s.multiplier > 0.0))
    h.message(aboutZero ? msg::kFitTestsTooFewObservationsAboutZero
                        : msg::kFitTestsTooFewObservations,
              {s.multiplier, ps.nObs, ps.opt.nVars, kk});
  {
    TableWriter out(ps.sink);
    out.beginTable("SignifTests");
    out.title(Text(titleLine(msg::kSignifTestsTitle, {})), "titsigt");
    out.column(Column::text("Test", 40));
    out.column(Column::number("DF", "8.0"));
    out.column(Column::number("ChiSq", "10.4"));
    out.column(Column::number("ProbChiSq", "PVALUE6.4"));
    out.row({h.formatMessage(msg::kNoCommonFactorTest), s.df0, s.chiSq0, s.prob0});
    out.row({h.formatMessage(msg::kSomeCommonFactorAlternative), missing, missing, missing});
    if (kk > 0) {
      out.row({h.formatMessage(kk == 1 ? msg::kOneFactorSufficientTest : msg::kFactorsSufficientTest, {kk}), s.dfK, s.chiSqK, s.probK});
      out.row({h.formatMessage(msg::kMoreFactorsAlternative), missing, missing, missing});
    }
    out.endTable();
  }
  VectorTable fit;
  fit.name = "FitMeasures";
  fit.title = h.formatMessage(msg::kFitMeasuresTitle);
  fit.labelKind = 'T';
  fit.labelColumn = "factoid";
  const msg::Id discrepancy = aboutZero ? msg::kDiscrepancyAboutZeroLabel : msg::kDiscrepancyLabel;
  for (msg::Id label : {discrepancy, msg::kAkaikeLabel, msg::kSchwarzLabel, msg::kTuckerLewisLabel})
    fit.rowLabels.push_back(h.messageText(label));
  fit.nRows = 4;
  const double values[4] = {s.discrepancy, s.akaike, s.schwarz, s.tuckerLewis};
  fit.columns.push_back({"Value", " ", values});
  printVectorTable(ps, fit);
}

}  // namespace zulfact
