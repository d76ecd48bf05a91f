// The standard-error step of the rotations: which rotation gets which
// message, the results where the tables find them, and the pattern
// derivatives kept for a PROMAX that follows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/rotate/rotated_errors.hpp"
#include "zulfact/rotate/standard_errors.hpp"

namespace zulfact {
namespace {

void* poolAlloc(size_t bytes, uint32_t) { return std::malloc(bytes); }
void poolRelease(void* block, int32_t, int32_t) { std::free(block); }
const zul_pool kPool{poolAlloc, poolRelease};

constexpr int kP = 6;

// The memory the fake host reports as available (units of 1000 bytes;
// negative: it cannot tell).
double gAvailable = -1.0;
double availableMemory() { return gAvailable; }

// An ML step after its unrotated standard errors: the kept covariance
// (diagonal) and unrotated pattern of m factors.
struct Step {
  zul_test::FakeHost fake;
  StepRecord ps;
  std::vector<double> a, loadings, cov;
  explicit Step(int m) {
    fake.recordMessages();
    fake.setPool(&kPool);
    fake.provide(ZUL_AVAILABLE_MEMORY, &availableMemory);
    gAvailable = -1.0;
    host().attach(fake.vector(), nullptr);
    ps.clearRecord();
    ps.opt.method = kMethodMl;
    ps.opt.flags.needStdErr = true;
    ps.opt.nVars = kP;
    ps.nFactors = m;
    const double columns[2][kP] = {{0.8, 0.7, 0.6, 0.2, 0.1, 0.3}, {0.1, 0.3, 0.2, 0.7, 0.8, 0.6}};
    for (int j = 0; j < m; ++j) a.insert(a.end(), columns[j], columns[j] + kP);
    loadings = a;
    cov.assign(a.size() * a.size(), 0.0);
    for (size_t k = 0; k < a.size(); ++k) cov[k + k * a.size()] = 0.0025;
    ps.loadings = loadings.data();
    ps.unrotatedCopy = a.data();
    ps.unrotatedCov = cov.data();
    ps.unrotatedCovFactors = m;
  }
  ~Step() {
    for (double* block : {ps.stdErrPattern, ps.stdErrStructure, ps.stdErrFactorCorr, ps.patternJacobian})
      std::free(block);
    host().attach(nullptr, nullptr);
  }
  bool anyErrors() const {
    return ps.stdErrPattern != nullptr || ps.stdErrFactorCorr != nullptr || ps.stdErrStructure != nullptr;
  }
};

const double kVarimax[4] = {0.0, 0.0, -1.0, kP};

// Standard errors are computed only when something takes them: a printed
// table or the OUTSTAT= table; never for a NOPRINT step without OUTSTAT=.
TEST(StdErrorsWanted, OnlyWhenPrintedOrStored) {
  int object = 0;
  void* sink = &object;
  auto* table = reinterpret_cast<zul_table*>(&object);
  const struct { int method; void* sink; zul_table* outstat; bool wanted; } rows[] = {
      {kMethodMl, sink, nullptr, true},
      {kMethodMl, nullptr, table, true},
      {kMethodMl, nullptr, nullptr, false},
      {kMethodPrincipal, sink, table, false},
  };
  for (const auto& r : rows) {
    Step step(2);
    step.ps.opt.method = r.method;
    step.ps.sink = r.sink;
    step.ps.opt.outstatTable = r.outstat;
    EXPECT_EQ(rotatedErrorsWanted(step.ps), r.wanted)
        << r.method << " " << r.sink << " " << r.outstat;
  }
}

TEST(CriterionStdErrors, RotationsWithoutStandardErrorsSayWhy) {
  const struct { int code; int norm; int m; int message; } rows[] = {
      {kRotVarimax, kNormWeight, 2, 360},
      {kRotQuartimin, kNormCov, 2, 360},
      {kRotHk, 0, 2, 359},
      {kRotVarimax, 0, 1, 0},  // one factor: no message
  };
  for (const auto& r : rows) {
    Step step(r.m);
    step.ps.opt.norm = r.norm;
    criterionStdErrors(step.ps, r.code, kVarimax);
    EXPECT_FALSE(step.anyErrors()) << r.code;
    EXPECT_EQ(step.fake.messages.size(), r.message == 0 ? 0u : 1u) << r.code;
    if (r.message != 0) {
      EXPECT_TRUE(step.fake.issued(180, r.message)) << r.code;
    }
  }
}

TEST(CriterionStdErrors, NoneWithoutTheKeptCovarianceOrWhenItIsOfOtherFactors) {
  Step step(2);
  step.ps.unrotatedCovFactors = 3;  // kept before factors were dropped
  criterionStdErrors(step.ps, kRotVarimax, kVarimax);
  step.ps.unrotatedCovFactors = 2;
  step.ps.unrotatedCov = nullptr;
  criterionStdErrors(step.ps, kRotVarimax, kVarimax);
  EXPECT_FALSE(step.anyErrors());
  EXPECT_TRUE(step.fake.messages.empty());
}

// PROCRUSTES fills all three matrices (factor correlations packed, 0 on
// the diagonal) and keeps its pattern's derivatives: a PROMAX from that
// pattern knows them, from another pattern it does not.
TEST(TargetStdErrors, ProcrustesFillsTheSolutionAndKeepsItsDerivatives) {
  Step step(2);
  std::vector<double> target(2 * kP, 0.0);
  for (int i = 0; i < kP; ++i) target[i + (i / 3) * kP] = 1.0;
  const PatternInHand unrotated = patternInHand(step.ps);
  EXPECT_TRUE(unrotated.known);
  step.loadings[0] = 0.9;  // stands for the rotated pattern
  targetStdErrors(step.ps, kRotProcrustes, target.data(), unrotated, 3.0);
  ASSERT_NE(step.ps.stdErrPattern, nullptr);
  ASSERT_NE(step.ps.stdErrStructure, nullptr);
  ASSERT_NE(step.ps.stdErrFactorCorr, nullptr);
  EXPECT_EQ(step.ps.stdErrFactorCorr[0], 0.0);
  EXPECT_GT(step.ps.stdErrFactorCorr[1], 0.0);
  EXPECT_EQ(step.ps.stdErrFactorCorr[2], 0.0);
  for (int k = 0; k < 2 * kP; ++k) EXPECT_GT(step.ps.stdErrPattern[k], 0.0) << k;
  EXPECT_TRUE(step.fake.messages.empty());

  EXPECT_TRUE(patternInHand(step.ps).known);
  step.ps.opt.nVars = kP / 2;  // a later BY group of another size
  EXPECT_FALSE(patternInHand(step.ps).known);
  step.ps.opt.nVars = kP;
  step.loadings[0] = 0.5;
  EXPECT_FALSE(patternInHand(step.ps).known);
  // PROMAX from an unknown pattern: no standard errors, no second message.
  releaseStdErrors(step.ps);
  targetStdErrors(step.ps, kRotPromax, target.data(), patternInHand(step.ps), 3.0);
  EXPECT_EQ(step.ps.stdErrPattern, nullptr);
}

TEST(TargetStdErrors, SingularPatternGivesMessage355) {
  Step step(2);
  for (int i = 0; i < kP; ++i) step.a[i + kP] = step.a[i];  // two equal columns
  std::vector<double> target(2 * kP, 0.5);
  targetStdErrors(step.ps, kRotProcrustes, target.data(), patternInHand(step.ps), 3.0);
  EXPECT_FALSE(step.anyErrors());
  EXPECT_TRUE(step.fake.issued(180, 355));
}

// Too little memory for the estimate is message 358 and no standard errors
// for the unrotated solution (nor a covariance kept for the rotations), a
// criterion rotation and a target rotation; with enough, they are there.
TEST(StdErrorsMemoryCheck, TooLittleMemoryGivesMessage358AndNoErrors) {
  const double k[4] = {0.0, 1.0, 0.0, -1.0};
  std::vector<double> target(2 * kP, 0.0);
  for (int i = 0; i < kP; ++i) target[i + (i / 3) * kP] = 1.0;
  for (double available : {0.5, 1e9}) {
    SCOPED_TRACE(available);
    const bool enough = available > 1.0;
    {
      Step step(2);
      gAvailable = available;
      criterionStdErrors(step.ps, kRotQuartimin, k);
      EXPECT_EQ(step.anyErrors(), enough);
      EXPECT_EQ(step.fake.issued(180, 358), !enough);
    }
    {
      Step step(2);
      gAvailable = available;
      targetStdErrors(step.ps, kRotProcrustes, target.data(), patternInHand(step.ps), 3.0);
      EXPECT_EQ(step.anyErrors(), enough);
      EXPECT_EQ(step.fake.issued(180, 358), !enough);
    }
  }
  Step step(2);
  gAvailable = 0.5;
  step.ps.unrotatedCov = nullptr;  // the unrotated step starts without one
  step.ps.unrotatedCopy = nullptr;
  RotationStdErrors(step.ps, kUnrotatedErrors, nullptr);
  EXPECT_FALSE(step.anyErrors());
  EXPECT_EQ(step.ps.unrotatedCov, nullptr);
  EXPECT_TRUE(step.fake.issued(180, 358));
  EXPECT_EQ(step.fake.messages.size(), 1u);
}

}  // namespace
}  // namespace zulfact
