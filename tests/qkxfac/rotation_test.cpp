// Criterion rotations of the engine against references computed here by
// other means: a search over the rotation angle for two factors, and for
// four factors the check that small random moves never improve the
// criterion at the returned solution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "qkxfac/column_alignment.hpp"
#include "qkxfac/crawford_ferguson.hpp"
#include "kernels/dense.hpp"
#include "kernels/eigen.hpp"
#include "kernels/lu.hpp"
#include "qkxfac/rotation.hpp"

namespace qkxfac {
namespace {

using Matrix = std::vector<double>;
using kernels::crossProduct;
using kernels::multiply;
using kernels::normalizeColumns;
using kernels::orthonormalize;

// The inverse of the m x m matrix a into inv.
bool invert(const Matrix& a, Matrix& inv, int m) {
  Matrix lu(a.size());
  std::vector<int> pivots(m);
  return kernels::invert(a.data(), inv.data(), m, lu.data(), pivots.data());
}

Matrix transposed(const Matrix& a, int m) {
  Matrix t(a.size());
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) t[j + i * m] = a[i + j * m];
  return t;
}

// Eight variables in two clusters, as an unrotated principal-axis pattern
// shows them: every variable loads on the first (general) factor.
const int kP2 = 8;
const Matrix kPattern2 = {0.86, 0.84, 0.81, 0.84, 0.76, 0.67, 0.62, 0.66,    // factor 1
                          -0.37, -0.44, -0.46, -0.40, 0.52, 0.53, 0.58, 0.41};  // factor 2

// Twelve variables, four factors: simple structure turned by a fixed
// rotation, with noise.
Matrix pattern4(int p = 12, int m = 4) {
  std::mt19937_64 gen(20011);
  std::normal_distribution<double> noise(0.0, 0.08);
  Matrix simple(static_cast<size_t>(p) * m);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j) simple[i + j * p] = (i % m == j ? 0.7 : 0.1) + noise(gen);
  Matrix t(static_cast<size_t>(m) * m);
  for (double& x : t) x = noise(gen);
  for (int j = 0; j < m; ++j) t[j + j * m] += 1.0;
  orthonormalize(t.data(), m);
  Matrix a(simple.size());
  multiply(simple.data(), t.data(), a.data(), p, m, m);
  return a;
}

zul_rotation_request request(int method, CfCoefficients k, int norm = ZUL_NORM_RAW) {
  zul_rotation_request r{};
  r.method = method;
  r.normalization = norm;
  r.rowNormalize = norm == 6 ? 1 : 0;
  r.one = r.wantTransform = 1;
  r.maxIter = 1000;
  r.gamma = r.tau = r.hkPower = r.power = zul_missing();
  r.convergence = 1e-9;
  r.coefficients[0] = k.k1;
  r.coefficients[1] = k.k2;
  r.coefficients[2] = k.k3;
  r.coefficients[3] = k.k4;
  return r;
}

RotationOutput run(const zul_rotation_request& r, const Matrix& a, int p, int m) {
  RotationInput in;
  in.p = p;
  in.m = m;
  in.pattern = a.data();
  return rotate(r, in);
}

double criterion(const CfCoefficients& k, const double* l, int p, int m) {
  std::vector<double> r(p), c(m);
  return cfEvaluate(k, l, p, m, nullptr, CfWork{r.data(), c.data()}).value;
}

// The pattern of a 2-factor oblique solution with axes at angles a and b:
// L = A (T^T)^-1, T = [cos a, cos b; sin a, sin b].
Matrix oblique2(const Matrix& a, int p, double u, double v) {
  const double t11 = std::cos(u), t21 = std::sin(u), t12 = std::cos(v), t22 = std::sin(v);
  const double det = t11 * t22 - t12 * t21;
  // (T^T)^-1 = (T^-1)^T; T^-1 = [t22, -t12; -t21, t11] / det.
  const double x11 = t22 / det, x21 = -t12 / det, x12 = -t21 / det, x22 = t11 / det;
  Matrix l(static_cast<size_t>(p) * 2);
  for (int i = 0; i < p; ++i) {
    l[i] = a[i] * x11 + a[i + p] * x21;
    l[i + p] = a[i] * x12 + a[i + p] * x22;
  }
  return l;
}

// Best criterion value over a grid of angles refined by shrinking the grid
// around the best point: an exhaustive search, independent of the engine.
double searchOrthogonal2(const CfCoefficients& k, const Matrix& a, int p) {
  double best = -INFINITY, centre = 0.0, width = M_PI;
  for (int round = 0; round < 12; ++round) {
    double bestAngle = centre;
    for (int s = -200; s <= 200; ++s) {
      const double th = centre + width * s / 200.0;
      Matrix l = {};
      l.resize(static_cast<size_t>(p) * 2);
      for (int i = 0; i < p; ++i) {
        l[i] = a[i] * std::cos(th) + a[i + p] * std::sin(th);
        l[i + p] = -a[i] * std::sin(th) + a[i + p] * std::cos(th);
      }
      const double f = criterion(k, l.data(), p, 2);
      if (f > best) best = f, bestAngle = th;
    }
    centre = bestAngle;
    width /= 50.0;
  }
  return best;
}

double searchOblique2(const CfCoefficients& k, const Matrix& a, int p) {
  double best = INFINITY, cu = 0.0, cv = M_PI / 2, width = M_PI / 2;
  for (int round = 0; round < 10; ++round) {
    double bu = cu, bv = cv;
    for (int s = -60; s <= 60; ++s)
      for (int t = -60; t <= 60; ++t) {
        const double u = cu + width * s / 60.0, v = cv + width * t / 60.0;
        if (std::fabs(std::sin(v - u)) < 0.05) continue;  // nearly collinear axes
        Matrix l = oblique2(a, p, u, v);
        const double f = criterion(k, l.data(), p, 2);
        if (f < best) best = f, bu = u, bv = v;
      }
    cu = bu, cv = bv;
    width /= 20.0;
  }
  return best;
}

void expectMapsPattern(const RotationOutput& o, const Matrix& a, int p, int m) {
  Matrix l(static_cast<size_t>(p) * m);
  multiply(a.data(), o.transform.data(), l.data(), p, m, m);
  for (size_t i = 0; i < l.size(); ++i) EXPECT_NEAR(o.pattern[i], l[i], 1e-12);
}

// T^T T = I for T with `rows` rows (m by default) and m columns.
void expectOrthogonal(const Matrix& t, int m, int rows = 0) {
  Matrix c(static_cast<size_t>(m) * m);
  crossProduct(t.data(), t.data(), c.data(), rows > 0 ? rows : m, m, m);
  for (int j = 0; j < m; ++j)
    for (int i = 0; i < m; ++i) EXPECT_NEAR(c[i + j * m], i == j ? 1.0 : 0.0, 1e-12);
}

// Phi = (X^T X)^-1 with unit diagonal, and L Phi L^T = A A^T.
void expectObliqueSolution(const RotationOutput& o, const Matrix& a, int p, int m) {
  Matrix xtx(static_cast<size_t>(m) * m), phi(xtx.size());
  crossProduct(o.transform.data(), o.transform.data(), xtx.data(), m, m, m);
  ASSERT_TRUE(invert(xtx, phi, m));
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) {
      EXPECT_NEAR(o.factorCorr[i * (i + 1) / 2 + j], phi[i + j * m], 1e-10);
      if (i == j) {
        EXPECT_EQ(o.factorCorr[i * (i + 1) / 2 + j], 1.0);
      }
    }
  for (int r = 0; r < p; ++r)
    for (int s = 0; s < p; ++s) {
      double common = 0.0, original = 0.0;
      for (int j = 0; j < m; ++j) {
        original += a[r + j * p] * a[s + j * p];
        for (int l = 0; l < m; ++l) common += o.pattern[r + j * p] * phi[j + l * m] * o.pattern[s + l * p];
      }
      EXPECT_NEAR(common, original, 1e-10);
    }
}

// The rows of l divided by the row lengths of a (Kaiser normalisation).
Matrix kaiserRows(const Matrix& l, const Matrix& a, int p, int m) {
  Matrix rows(l.size());
  for (int i = 0; i < p; ++i) {
    double h = 0;
    for (int j = 0; j < m; ++j) h += a[i + j * p] * a[i + j * p];
    for (int j = 0; j < m; ++j) rows[i + j * p] = l[i + j * p] / std::sqrt(h);
  }
  return rows;
}

TEST(Rotation, TwoFactorOrthogonalCriteriaReachTheBestAngle) {
  const int p = kP2;
  const struct { int method; CfCoefficients k; } cases[] = {
      {ZUL_METHOD_QUARTIMAX, {0, 0, 0, 1}},                    // quartimax
      {ZUL_METHOD_VARIMAX, {0, 0, -1, double(p)}},           // varimax
      {ZUL_METHOD_EQUAMAX, {0, 0, -2, 2.0 * p}},             // equamax, m = 2
      {ZUL_METHOD_ORTHCF, {0, 0, -0.3, 0.7}},              // a Crawford-Ferguson pair
  };
  for (const auto& c : cases) {
    const RotationOutput o = run(request(c.method, c.k), kPattern2, p, 2);
    ASSERT_EQ(o.status, ZUL_ENGINE_STATUS_CONVERGED) << c.method;
    EXPECT_NEAR(o.criterion, searchOrthogonal2(c.k, kPattern2, p), 1e-11 * std::fabs(o.criterion))
        << c.method;
    EXPECT_LE(o.measure, 1e-9);
    EXPECT_NEAR(criterion(c.k, o.pattern.data(), p, 2), o.criterion, 1e-12 * std::fabs(o.criterion));
    expectMapsPattern(o, kPattern2, p, 2);
    expectOrthogonal(o.transform, 2);
  }
}

TEST(Rotation, TwoFactorObliqueCriteriaReachTheBestAxes) {
  const int p = kP2;
  const struct { int method; CfCoefficients k; } cases[] = {
      {ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1}},                                  // quartimin
      {ZUL_METHOD_OBLIMIN, {-0.3 / p, 1, 0.3 / p, -1}},                    // oblimin, tau 0.3
      {ZUL_METHOD_OBLICF, {0, 0.8, 0.2, -1}},                             // oblique CF
  };
  for (const auto& c : cases) {
    const RotationOutput o = run(request(c.method, c.k), kPattern2, p, 2);
    ASSERT_EQ(o.status, ZUL_ENGINE_STATUS_CONVERGED) << c.method;
    EXPECT_NEAR(o.criterion, searchOblique2(c.k, kPattern2, p), 1e-9) << c.method;
    expectMapsPattern(o, kPattern2, p, 2);
    expectObliqueSolution(o, kPattern2, p, 2);
  }
}

// Small random moves around the solution never improve the criterion.
TEST(Rotation, FourFactorSolutionsAreLocalOptima) {
  const int p = 12, m = 4;
  const Matrix a = pattern4(p, m);
  std::mt19937_64 gen(7);
  std::normal_distribution<double> step(0.0, 1e-3);
  const struct { int method; CfCoefficients k; bool oblique; } cases[] = {
      {ZUL_METHOD_VARIMAX, {0, 0, -1, double(p)}, false},
      {ZUL_METHOD_PARSIMAX, {0, 0, -(m - 1.0), p + m - 2.0}, false},  // parsimax: several starts
      {ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1}, true},
      {ZUL_METHOD_BIQUARTIMIN, {-0.5 / p, 1, 0.5 / p, -1}, true},        // biquartimin: several starts
  };
  for (const auto& c : cases) {
    const RotationOutput o = run(request(c.method, c.k, ZUL_NORM_BY_FLAG), a, p, m);
    ASSERT_TRUE(o.status == ZUL_ENGINE_STATUS_CONVERGED || o.status == ZUL_ENGINE_STATUS_AT_START)
        << c.method << " status " << o.status;
    expectMapsPattern(o, a, p, m);
    // The criterion is evaluated on the Kaiser-normalised rows.
    const Matrix rows = kaiserRows(o.pattern, a, p, m);
    const double f0 = criterion(c.k, rows.data(), p, m);
    EXPECT_NEAR(f0, o.criterion, 1e-12 * std::fabs(f0));
    // Not worse than the unrotated start.
    const double fStart = criterion(c.k, kaiserRows(a, a, p, m).data(), p, m);
    if (c.oblique) EXPECT_LE(f0, fStart) << c.method;
    else EXPECT_GE(f0, fStart) << c.method;
    for (int trial = 0; trial < 50; ++trial) {
      Matrix move(static_cast<size_t>(m) * m), moved(rows.size());
      if (c.oblique) {
        // L0 = A X0 with X0 = T0^-T for some T0 of unit columns (T0^T T0 =
        // Phi); a nearby T1 of unit columns gives L1 = A T1^-T.
        Matrix t0(move.size()), t1(move.size()), x1(move.size()), l1(rows.size());
        ASSERT_TRUE(invert(transposed(o.transform, m), t0, m));
        for (size_t i = 0; i < t1.size(); ++i) t1[i] = t0[i] + step(gen);
        normalizeColumns(t1.data(), m, m);
        ASSERT_TRUE(invert(transposed(t1, m), x1, m));
        multiply(a.data(), x1.data(), l1.data(), p, m, m);
        moved = kaiserRows(l1, a, p, m);
        EXPECT_GE(criterion(c.k, moved.data(), p, m), f0 - 1e-12 * std::fabs(f0)) << c.method;
      } else {
        for (double& x : move) x = step(gen);
        for (int j = 0; j < m; ++j) move[j + j * m] += 1.0;
        orthonormalize(move.data(), m);
        multiply(rows.data(), move.data(), moved.data(), p, m, m);
        EXPECT_LE(criterion(c.k, moved.data(), p, m), f0 + 1e-12 * std::fabs(f0)) << c.method;
      }
    }
  }
}

// Kaiser normalisation rotates the unit-length rows and scales them back:
// the same transformation as a raw rotation of the normalised pattern.
TEST(Rotation, KaiserNormalisationEqualsRotatingTheNormalisedRows) {
  const int p = 12, m = 4;
  const Matrix a = pattern4(p, m);
  const Matrix rows = kaiserRows(a, a, p, m);
  const CfCoefficients varimax{0, 0, -1, double(p)};
  const RotationOutput kaiser = run(request(ZUL_METHOD_VARIMAX, varimax, ZUL_NORM_KAISER), a, p, m);
  const RotationOutput raw = run(request(ZUL_METHOD_VARIMAX, varimax, ZUL_NORM_RAW), rows, p, m);
  ASSERT_EQ(kaiser.status, ZUL_ENGINE_STATUS_CONVERGED);
  for (size_t i = 0; i < kaiser.transform.size(); ++i)
    EXPECT_NEAR(kaiser.transform[i], raw.transform[i], 1e-9);
  for (double w : kaiser.varWeights) EXPECT_EQ(w, 1.0);
  // Without the flag, code 6 leaves the rows as they are.
  const RotationOutput none = run(request(ZUL_METHOD_VARIMAX, varimax, ZUL_NORM_RAW), a, p, m);
  zul_rotation_request plain = request(ZUL_METHOD_VARIMAX, varimax, ZUL_NORM_BY_FLAG);
  plain.rowNormalize = 0;
  const RotationOutput none6 = run(plain, a, p, m);
  for (size_t i = 0; i < none.pattern.size(); ++i) EXPECT_EQ(none.pattern[i], none6.pattern[i]);
}

// Cureton and Mulaik (1975): a variable on the first axis alone weighs
// 0.001, one at 1/sqrt(m) of it weighs 1.001; covariance weights are the
// inverse standard deviations from the analysed matrix's diagonal.
TEST(Rotation, VariableWeights) {
  const int p = 3, m = 2;
  const double c = 1.0 / std::sqrt(2.0);
  const Matrix a = {2.0, c, 0.0, 0.0, c, 0.5};
  const RotationOutput cm =
      run(request(ZUL_METHOD_VARIMAX, {0, 0, -1, double(p)}, ZUL_NORM_CURETON_MULAIK), a, p, m);
  ASSERT_EQ(cm.varWeights.size(), 3u);
  EXPECT_NEAR(cm.varWeights[0], 0.001, 1e-15);
  EXPECT_NEAR(cm.varWeights[1], 1.001, 1e-12);
  EXPECT_NEAR(cm.varWeights[2], 0.001, 1e-15);

  const double variances[] = {4.0, 1.0, 0.25};
  RotationInput in{p, m, a.data(), variances};
  const RotationOutput cov =
      rotate(request(ZUL_METHOD_VARIMAX, {0, 0, -1, double(p)}, ZUL_NORM_COVARIANCE), in);
  EXPECT_EQ(cov.varWeights, (std::vector<double>{0.5, 1.0, 2.0}));
}

// Harris-Kaiser: the eigenvectors Q of the pattern, rescaled by M^(power/2)
// (M the eigenvalues of A^T A), are rotated; always L = A X. Power 0
// rotates Q itself, so that L^T L = I (the columns of L are Q T); power 1
// rotates A V, and X = V T is orthogonal.
TEST(Rotation, HarrisKaiserRotatesTheRescaledEigenvectors) {
  const int p = 12, m = 4;
  const Matrix a = pattern4(p, m);
  // The eigenvalues of A^T A by the characteristic equation would need a
  // quartic; the solver of the engine is tested on its own, so its values
  // serve here, and the check is that the weights are their 1/4 powers.
  Matrix ata(static_cast<size_t>(m) * m), values(m), work(kernels::fullEigenWorkSize(m));
  crossProduct(a.data(), a.data(), ata.data(), p, m, m);
  kernels::symmetricEigenFull(m, ata.data(), values.data(), 0, nullptr, work.data());

  zul_rotation_request r = request(ZUL_METHOD_HARRIS_KAISER, {0, 0, -1, double(p)}, ZUL_NORM_BY_FLAG);
  r.hkPower = 0.5;
  const RotationOutput hk = run(r, a, p, m);
  ASSERT_EQ(hk.status, ZUL_ENGINE_STATUS_CONVERGED);
  ASSERT_EQ(hk.factorWeights.size(), size_t(m));
  for (int j = 0; j < m; ++j) EXPECT_NEAR(hk.factorWeights[j], std::pow(values[j], 0.25), 1e-12);
  EXPECT_TRUE(hk.factorCorr.empty());
  expectMapsPattern(hk, a, p, m);

  // A varimax request with an HK power takes the same road.
  zul_rotation_request v = request(ZUL_METHOD_VARIMAX, {0, 0, -1, double(p)}, ZUL_NORM_BY_FLAG);
  v.hkPower = 0.5;
  const RotationOutput hv = run(v, a, p, m);
  for (size_t i = 0; i < hk.pattern.size(); ++i) EXPECT_EQ(hk.pattern[i], hv.pattern[i]);

  r.hkPower = 1.0;
  const RotationOutput h1 = run(r, a, p, m);
  expectOrthogonal(h1.transform, m);
  for (double w : h1.factorWeights) EXPECT_NE(w, 1.0);

  r.hkPower = zul_missing();  // power 0
  const RotationOutput h0 = run(r, a, p, m);
  expectMapsPattern(h0, a, p, m);
  for (double w : h0.factorWeights) EXPECT_EQ(w, 1.0);
  expectOrthogonal(h0.pattern, m, p);  // L^T L = I
}

TEST(Rotation, StatusOfRequestsThatCannotBeCarriedOut) {
  const int p = 12, m = 4;
  Matrix a = pattern4(p, m);
  EXPECT_EQ(run(request(22, {0, 1, 0, -1}), a, p, m).status, ZUL_ENGINE_STATUS_UNSUPPORTED);
  EXPECT_EQ(run(request(0, {0, 1, 0, -1}), a, p, m).status, ZUL_ENGINE_STATUS_UNSUPPORTED);

  zul_rotation_request few = request(ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1});
  few.maxIter = 2;
  const RotationOutput limited = run(few, a, p, m);
  EXPECT_EQ(limited.status, ZUL_ENGINE_STATUS_ITERATION_LIMIT);
  EXPECT_EQ(limited.iterations, 2);
  EXPECT_GT(limited.measure, 1e-9);

  RotationInput none{p, m, nullptr, nullptr};
  EXPECT_EQ(rotate(request(ZUL_METHOD_VARIMAX, {0, 0, -1, 12}), none).status, ZUL_ENGINE_STATUS_FAILED);
  // Covarimin has no minimum here: the factors merge as it decreases.
  EXPECT_EQ(run(request(ZUL_METHOD_COVARIMIN, {-1.0 / p, 1, 1.0 / p, -1}), a, p, m).status,
            ZUL_ENGINE_STATUS_NO_PROGRESS);
  a[5] = NAN;
  EXPECT_EQ(run(request(ZUL_METHOD_VARIMAX, {0, 0, -1, 12}), a, p, m).status, ZUL_ENGINE_STATUS_NO_PROGRESS);
}

// An already rotated pattern is a stationary point: no iteration.
TEST(Rotation, SolutionRotatedAgainStaysPut) {
  const int p = 12, m = 4;
  const Matrix a = pattern4(p, m);
  const CfCoefficients varimax{0, 0, -1, double(p)};
  const RotationOutput first = run(request(ZUL_METHOD_VARIMAX, varimax), a, p, m);
  const RotationOutput again = run(request(ZUL_METHOD_VARIMAX, varimax), first.pattern, p, m);
  EXPECT_TRUE(again.status == ZUL_ENGINE_STATUS_AT_START || again.iterations <= 2) << again.status;
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(again.pattern[i], first.pattern[i], 1e-8);
  // The same request twice gives the same bits.
  const RotationOutput repeat = run(request(ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1}), a, p, m);
  const RotationOutput once = run(request(ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1}), a, p, m);
  EXPECT_EQ(repeat.pattern, once.pattern);
  EXPECT_EQ(repeat.iterations, once.iterations);
}

// The criteria repeat a quarter turn apart: a rotation must stop at the
// optimum nearest the unrotated start, not at a copy with its factors
// reflected or swapped. Both patterns once ended a quarter or half turn
// away; the transformations are R 4.2 stats::varimax(A, eps = 1e-15)$rotmat.
TEST(Rotation, VarimaxStopsAtTheOptimumNearestTheStart) {
  const Matrix socioeconomic = {0.580957, 0.767037, 0.672431, 0.932393, 0.791161,
                                0.806421, -0.544756, 0.726045, -0.104305, -0.558179};
  const Matrix nineTests = {0.463668, 0.295829, 0.358061, 0.441264, 0.796418, 0.820048,
                            0.829106, 0.70028,  0.837698, 0.522658, 0.325352, 0.490552,
                            0.41327,  -0.105088, -0.083891, -0.128153, 0.108523, -0.162779};
  const struct { const Matrix& a; int p, norm; double c, s; } cases[] = {
      {socioeconomic, 5, ZUL_NORM_RAW, 0.8179958900, 0.5752240641},   // normalize = FALSE
      {nineTests, 9, ZUL_NORM_KAISER, 0.9124742848, 0.4091340607},    // normalize = TRUE
  };
  for (const auto& c : cases) {
    const CfCoefficients varimax{0, 0, -1, double(c.p)};
    const RotationOutput o = run(request(ZUL_METHOD_VARIMAX, varimax, c.norm), c.a, c.p, 2);
    ASSERT_EQ(o.status, ZUL_ENGINE_STATUS_CONVERGED) << c.p;
    const double want[] = {c.c, -c.s, c.s, c.c};  // by columns
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(o.transform[i], want[i], 1e-7) << c.p << " " << i;
  }
}

// A solution whose factors came permuted and reflected (as from a random
// start) is put back in the reference's order and signs, with its T and
// Phi moved along: L = A T and L Phi L^T still hold.
TEST(ColumnAlignment, PermutedAndReflectedFactorsGoBack) {
  const int p = 12, m = 4;
  const Matrix a = pattern4(p, m);
  const RotationOutput o =
      run(request(ZUL_METHOD_QUARTIMIN, {0, 1, 0, -1}, ZUL_NORM_BY_FLAG), a, p, m);
  ASSERT_EQ(o.status, ZUL_ENGINE_STATUS_CONVERGED);
  const int order[m] = {2, 0, 3, 1};
  const double sign[m] = {-1, 1, -1, 1};
  Matrix l(o.pattern.size()), t(o.transform.size());
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) l[i + j * p] = sign[j] * o.pattern[i + order[j] * p];
    for (int i = 0; i < m; ++i) t[i + j * m] = sign[j] * o.transform[i + order[j] * m];
  }
  Matrix phi(o.factorCorr.size());
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) {
      const int r = std::max(order[i], order[j]), c = std::min(order[i], order[j]);
      phi[i * (i + 1) / 2 + j] = sign[i] * sign[j] * o.factorCorr[r * (r + 1) / 2 + c];
    }
  const ColumnMatch match = matchColumns(o.pattern.data(), l.data(), p, m);
  applyMatch(match, p, m, l, t, phi);
  for (size_t i = 0; i < l.size(); ++i) EXPECT_EQ(l[i], o.pattern[i]);
  for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(t[i], o.transform[i]);
  for (size_t i = 0; i < phi.size(); ++i) EXPECT_EQ(phi[i], o.factorCorr[i]);
  // Nearly equal columns still pair one to one: no column is taken twice.
  Matrix twins = {1, 1, 0, 0.01, 1, 1, 0, 0};
  const ColumnMatch pairs = matchColumns(twins.data(), twins.data(), 4, 2);
  EXPECT_NE(pairs.source[0], pairs.source[1]);
}

}  // namespace
}  // namespace qkxfac
