// Standard errors of rotated solutions checked against the delta method
// done numerically: the unrotated pattern is perturbed along the columns
// of a Cholesky factor of its covariance, each perturbed pattern is
// rotated by the rotation code itself (the engine, loaded as the module
// loads it; PROMAX and PROCRUSTES by the module's target rotation), and
// the Jacobian comes from central differences.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zul/abi_engine.h"
#include "zulfact/inference/rotation_errors.hpp"
#include "zulfact/rotate/criterion_rotate.hpp"
#include "zulfact/rotate/oblique_solution.hpp"
#include "zulfact/rotate/rotation_codes.hpp"
#include "zulfact/rotate/target_rotate.hpp"

namespace zulfact {
namespace {

constexpr int kP = 9, kM = 3, kPM = kP * kM;

// A pattern with three clusters and some complex loadings, so that every
// criterion has one clear optimum.
const std::vector<double> kPattern = {
    0.62, 0.58, 0.66, 0.55, 0.60, 0.57, 0.64, 0.52, 0.59,   // general
    0.45, 0.40, 0.38, -0.30, -0.35, -0.20, 0.05, -0.10, 0.02,
    0.10, 0.05, -0.12, 0.32, 0.25, 0.36, -0.42, -0.38, -0.45,
};

// A covariance of vec(A) with correlated errors: 0.0004 (I + 0.5 W W^T / n)
// for a fixed pseudo-random W.
std::vector<double> covarianceOfA() {
  std::vector<double> w(kPM * kPM), v(kPM * kPM);
  unsigned state = 12345u;
  for (double& x : w) {
    state = state * 1103515245u + 12345u;
    x = static_cast<double>((state >> 8) & 0xffff) / 65536.0 - 0.5;
  }
  for (int i = 0; i < kPM; ++i)
    for (int j = 0; j < kPM; ++j) {
      double s = 0.0;
      for (int k = 0; k < kPM; ++k) s += w[i + k * kPM] * w[j + k * kPM];
      v[i + j * kPM] = 0.0004 * ((i == j ? 1.0 : 0.0) + 0.5 * s / kPM);
    }
  return v;
}

// Lower Cholesky factor of the n x n matrix v.
std::vector<double> cholesky(const std::vector<double>& v, int n) {
  std::vector<double> l(v.size(), 0.0);
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) {
      double s = v[i + j * n];
      for (int k = 0; k < j; ++k) s -= l[i + k * n] * l[j + k * n];
      l[i + j * n] = i == j ? std::sqrt(s) : s / l[j + j * n];
    }
  return l;
}

// The rotation engine, loaded from the build as the module loads it.
class Engine {
 public:
  Engine() {
    const char* bin = std::getenv("ZUL_BIN");
    const std::string dir = bin != nullptr ? bin : ZUL_BINARY_DIR "/bin";
    lib_ = dlopen((dir + "/libqkxfac.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib_ == nullptr) return;
    auto create = reinterpret_cast<zul_engine_create_fn>(dlsym(lib_, ZUL_ENGINE_FACTORY));
    zul_engine_config config{};
    config.nVars = kP;
    config.fixed = -99;
    config.threadCount = 1;
    if (create != nullptr) engine_ = create(&config);
  }
  ~Engine() {
    if (engine_ != nullptr) engine_->ops->destroy(engine_);
    if (lib_ != nullptr) dlclose(lib_);
  }
  zul_engine* get() const { return engine_; }

 private:
  void* lib_ = nullptr;
  zul_engine* engine_ = nullptr;
};

struct Rotation {
  int code = kRotVarimax;
  bool kaiser = true;
};

struct Rotated {
  std::vector<double> pattern, phi, structure;  // phi m x m; structure oblique only
};

RotationParams coefficientsOf(const Rotation& r) {
  return criterionCoefficients(r.code, kP, kM, {0.0, 0.0, 0.0, 0.0});
}

Rotated criterionRotate(const Engine& engine, const Rotation& r, const std::vector<double>& a) {
  zul_rotation_request request{};
  request.method = rotationKind(r.code).engineMethod;
  request.normalization = r.kaiser ? ZUL_NORM_KAISER : ZUL_NORM_RAW;
  request.rowNormalize = r.kaiser ? 1 : 0;
  request.one = 1;
  request.wantTransform = 1;
  request.maxIter = 1000;
  request.gamma = request.tau = request.hkPower = request.power = zul_missing();
  request.convergence = 1e-13;
  const RotationParams k = coefficientsOf(r);
  for (int i = 0; i < 4; ++i) request.coefficients[i] = request.workCoefficients[i] = k[i];
  const bool oblique = isEngineOblique(r.code);
  CriterionResult result =
      runCriterionEngine(engine.get(), request, a.data(), kP, kM, false, false, oblique);
  EXPECT_TRUE(result.ok);
  Rotated out{result.pattern, std::vector<double>(kM * kM, 0.0), {}};
  for (int i = 0; i < kM; ++i)
    for (int j = 0; j < kM; ++j)
      out.phi[i + j * kM] = !oblique ? (i == j ? 1.0 : 0.0)
                                     : result.factorCorr[i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i];
  if (oblique) {
    out.structure = out.pattern;
    transformPattern(out.structure.data(), kP, kM, out.phi.data());
  }
  return out;
}

// A target rotation of the pattern a (with factor correlations phiBefore,
// m x m; empty: orthogonal) by the module's code, finished by FinishOblique.
Rotated targetRotate(const std::vector<double>& a, const std::vector<double>& target,
                     const std::vector<double>& phiBefore = {}) {
  std::vector<double> t(kM * kM), pattern = a, phi(kM * (kM + 1) / 2, 0.0), axes(phi.size()),
      structure(kPM), reference(kPM), scale(kM);
  for (int i = 0; i < kM; ++i)
    for (int j = 0; j <= i; ++j)
      phi[i * (i + 1) / 2 + j] = phiBefore.empty() ? (i == j ? 1.0 : 0.0) : phiBefore[i + j * kM];
  EXPECT_TRUE(procrustesTransform(a.data(), target.data(), kP, kM, t.data()));
  transformPattern(pattern.data(), kP, kM, t.data());
  StepRecord ps;
  ps.clearRecord();
  ps.opt.nVars = kP;
  ps.nFactors = kM;
  ps.opt.singularity = 1e-12;
  ps.loadings = pattern.data();
  ps.transform = t.data();
  ps.factorCorr = phi.data();
  ps.refAxisCorr = axes.data();
  ps.structure = structure.data();
  ps.refStructure = reference.data();
  ps.factorVector = scale.data();
  ps.obliqueCount = phiBefore.empty() ? 0 : kM;
  FinishOblique(ps, kObliqueTarget);
  Rotated out{pattern, std::vector<double>(kM * kM), structure};
  for (int i = 0; i < kM; ++i)
    for (int j = 0; j < kM; ++j) out.phi[i + j * kM] = phi[i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i];
  return out;
}

// Reorders and reflects the factors of r to match those of base (the
// criterion does not fix their order or signs).
void align(Rotated& r, const Rotated& base) {
  std::vector<int> from(kM);
  std::vector<double> sign(kM);
  for (int j = 0; j < kM; ++j) {
    double best = -1.0;
    for (int k = 0; k < kM; ++k) {
      double s = 0.0;
      for (int i = 0; i < kP; ++i) s += r.pattern[i + k * kP] * base.pattern[i + j * kP];
      if (std::fabs(s) > best) {
        best = std::fabs(s);
        from[j] = k;
        sign[j] = s < 0.0 ? -1.0 : 1.0;
      }
    }
  }
  Rotated out = r;
  for (int j = 0; j < kM; ++j) {
    for (int i = 0; i < kP; ++i) {
      out.pattern[i + j * kP] = sign[j] * r.pattern[i + from[j] * kP];
      if (!r.structure.empty()) out.structure[i + j * kP] = sign[j] * r.structure[i + from[j] * kP];
    }
    for (int i = 0; i < kM; ++i) out.phi[i + j * kM] = sign[i] * sign[j] * r.phi[from[i] + from[j] * kM];
  }
  r = out;
}

// Standard errors of the delta method done numerically with the rotation
// `rotate` (a function of the unrotated pattern).
template <class Rotate>
SolutionErrors numericalErrors(const std::vector<double>& a, const std::vector<double>& v, Rotate rotate) {
  const Rotated base = rotate(a);
  const std::vector<double> l = cholesky(v, kPM);
  SolutionErrors e{std::vector<double>(kPM, 0.0), std::vector<double>(kM * kM, 0.0),
                   std::vector<double>(kPM, 0.0)};
  const double h = 1e-3;
  for (int c = 0; c < kPM; ++c) {
    std::vector<double> plus = a, minus = a;
    for (int r = 0; r < kPM; ++r) {
      plus[r] += h * l[r + c * kPM];
      minus[r] -= h * l[r + c * kPM];
    }
    Rotated up = rotate(plus), down = rotate(minus);
    align(up, base);
    align(down, base);
    auto add = [&](std::vector<double>& var, const std::vector<double>& x, const std::vector<double>& y) {
      for (size_t r = 0; r < var.size() && r < x.size(); ++r) var[r] += std::pow((x[r] - y[r]) / (2 * h), 2);
    };
    add(e.pattern, up.pattern, down.pattern);
    add(e.factorCorr, up.phi, down.phi);
    add(e.structure, up.structure, down.structure);
  }
  for (auto* part : {&e.pattern, &e.factorCorr, &e.structure})
    for (double& x : *part) x = std::sqrt(x);
  return e;
}

// Agreement to 1 per cent of the standard error, or 1e-6 for tiny ones.
void expectClose(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t r = 0; r < got.size(); ++r)
    EXPECT_NEAR(got[r], want[r], 0.01 * want[r] + 1e-6) << what << " element " << r;
}

// The Jacobian of a criterion rotation of kPattern by the engine.
SolutionJacobian criterionJacobianOf(const Engine& engine, const Rotation& r, Rotated& solution) {
  solution = criterionRotate(engine, r, kPattern);
  std::vector<double> x;
  EXPECT_TRUE(transformFrom(kPattern.data(), solution.pattern.data(), kP, kM, x));
  RotationCriterion criterion;
  const RotationParams k = coefficientsOf(r);
  criterion.k = {k[0], k[1], k[2], k[3]};
  criterion.kaiser = r.kaiser;
  criterion.oblique = isEngineOblique(r.code);
  SolutionJacobian j;
  EXPECT_EQ(criterionJacobian(kPattern.data(), x.data(), kP, kM, criterion, j), RotationErrorStatus::kOk);
  return j;
}

void expectAllClose(const SolutionErrors& got, const SolutionErrors& want) {
  expectClose(got.pattern, want.pattern, "pattern");
  expectClose(got.factorCorr, want.factorCorr, "factor correlations");
  expectClose(got.structure, want.structure, "structure");
}

TEST(RotationErrors, CriterionRotationsAgreeWithTheNumericalDeltaMethod) {
  const Engine engine;
  ASSERT_NE(engine.get(), nullptr) << "libqkxfac.so not found in the build";
  const std::vector<double> v = covarianceOfA();
  const Rotation rotations[] = {
      {kRotVarimax, true}, {kRotQuartimax, false}, {kRotQuartimin, true}, {kRotQuartimin, false},
  };
  for (const Rotation& r : rotations) {
    SCOPED_TRACE(testing::Message() << "code " << r.code << (r.kaiser ? " Kaiser" : " raw"));
    Rotated solution;
    const SolutionErrors got = solutionErrors(criterionJacobianOf(engine, r, solution), v.data());
    const SolutionErrors want = numericalErrors(kPattern, v, [&](const std::vector<double>& a) {
      return criterionRotate(engine, r, a);
    });
    if (isEngineOblique(r.code)) expectAllClose(got, want);
    else expectClose(got.pattern, want.pattern, "pattern");
  }
}

// PROCRUSTES towards a fixed target: the target does not move with A.
TEST(RotationErrors, ProcrustesAgreesWithTheNumericalDeltaMethod) {
  const std::vector<double> v = covarianceOfA();
  std::vector<double> target(kPM, 0.0);
  for (int i = 0; i < kP; ++i) target[i + (i / 3) * kP] = 0.7;
  SolutionJacobian j;
  ASSERT_EQ(procrustesJacobian(kPattern.data(), target.data(), kP, kM, j), RotationErrorStatus::kOk);
  expectAllClose(solutionErrors(j, v.data()), numericalErrors(kPattern, v, [&](const std::vector<double>& a) {
                   return targetRotate(a, target);
                 }));
}

// PROMAX after VARIMAX and after QUARTIMIN: the target is a power of the
// prerotated pattern, so it moves with A through the prerotation.
TEST(RotationErrors, PromaxAgreesWithTheNumericalDeltaMethod) {
  const Engine engine;
  ASSERT_NE(engine.get(), nullptr) << "libqkxfac.so not found in the build";
  const std::vector<double> v = covarianceOfA();
  const struct { Rotation prerotation; double power; bool normalize; } cases[] = {
      {{kRotVarimax, true}, 3.0, true}, {{kRotVarimax, true}, 2.5, false}, {{kRotQuartimin, true}, 4.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "prerotation " << c.prerotation.code << " power " << c.power);
    Rotated prerotated;
    const SolutionJacobian pre = criterionJacobianOf(engine, c.prerotation, prerotated);
    SolutionJacobian j;
    ASSERT_EQ(promaxJacobian(kPattern.data(), prerotated.pattern.data(), pre, kP, kM, c.power, c.normalize, j),
              RotationErrorStatus::kOk);
    const SolutionErrors want = numericalErrors(kPattern, v, [&](const std::vector<double>& a) {
      const Rotated l = criterionRotate(engine, c.prerotation, a);
      std::vector<double> target(kPM);
      promaxTarget(l.pattern.data(), kP, kM, c.power, !c.normalize, target.data());
      return targetRotate(l.pattern, target, isEngineOblique(c.prerotation.code) ? l.phi : std::vector<double>());
    });
    expectAllClose(solutionErrors(j, v.data()), want);
  }
}

// The analytic derivatives of the stationarity conditions (with the row
// normalisation inside) against complex steps through the same conditions,
// at transformations away from the optimum, so that every term of the
// criterion's Hessian counts; and the factored standard errors against
// diag(J V J^T) of the explicit complex-step Jacobian.
TEST(RotationErrors, AnalyticDerivativesAgreeWithComplexSteps) {
  const std::vector<double> v = covarianceOfA();
  std::vector<double> zeroRow = kPattern;
  for (int j = 0; j < kM; ++j) zeroRow[4 + j * kP] = 0.0;  // not normalised
  const struct { std::array<double, 4> k; bool kaiser, oblique, zero; } rows[] = {
      {{0.0, 0.0, -1.0, kP}, true, false, false},       // varimax
      {{0.0, 0.0, 0.0, -1.0}, false, false, false},     // quartimax
      {{0.0, 1.0, 0.0, -1.0}, true, true, false},       // quartimin
      {{0.3, 0.7, -0.4, -0.2}, false, true, false},     // every coefficient
      {{0.3, 0.7, -0.4, -0.2}, true, false, true},
      {{0.0, 1.0, 0.0, -1.0}, true, true, true},
  };
  const double t[kM * kM] = {0.95, 0.2, -0.1, -0.15, 0.9, 0.25, 0.1, -0.3, 1.05};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "k2 " << r.k[1] << (r.kaiser ? " Kaiser" : " raw")
                                    << (r.oblique ? " oblique" : " orthogonal")
                                    << (r.zero ? " zero row" : ""));
    const std::vector<double>& a = r.zero ? zeroRow : kPattern;
    RotationCriterion c;
    c.k = r.k;
    c.kaiser = r.kaiser;
    c.oblique = r.oblique;
    std::vector<double> got, want;
    ASSERT_TRUE(transformDerivative(a.data(), t, kP, kM, c, got));
    ASSERT_TRUE(transformDerivativeByComplexSteps(a.data(), t, kP, kM, c, want));
    ASSERT_EQ(got.size(), want.size());
    double scale = 0.0;
    for (double w : want) scale = std::max(scale, std::fabs(w));
    for (size_t q = 0; q < got.size(); ++q) EXPECT_NEAR(got[q], want[q], 1e-9 * scale) << q;

    SolutionJacobian analytic, stepped;
    ASSERT_EQ(criterionJacobian(a.data(), t, kP, kM, c, analytic), RotationErrorStatus::kOk);
    ASSERT_EQ(criterionJacobianByComplexSteps(a.data(), t, kP, kM, c, stepped), RotationErrorStatus::kOk);
    ASSERT_EQ(analytic.pattern.size(), stepped.pattern.size());
    for (size_t q = 0; q < stepped.pattern.size(); ++q)
      EXPECT_NEAR(analytic.pattern[q], stepped.pattern[q], 1e-9 * (1.0 + scale)) << q;
    const SolutionErrors e = solutionErrors(analytic, v.data()), f = solutionErrors(stepped, v.data());
    const std::pair<const std::vector<double>*, const std::vector<double>*> parts[] = {
        {&e.pattern, &f.pattern}, {&e.factorCorr, &f.factorCorr}, {&e.structure, &f.structure}};
    for (const auto& [mine, reference] : parts) {
      ASSERT_EQ(mine->size(), reference->size());
      for (size_t q = 0; q < mine->size(); ++q)
        EXPECT_NEAR((*mine)[q], (*reference)[q], 1e-9 * (*reference)[q]) << q;
    }
  }
}

}  // namespace
}  // namespace zulfact
