// The parallel-analysis and MAP items through the engine's get and set.
#include "qkxfac/engine.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qkxfac {
namespace {

zul_engine_config config(int p) {
  zul_engine_config c{};
  c.nVars = p;
  c.fixed = -99;
  c.threadCount = 2;
  c.parallelLevel = 0.05;
  c.nSims = 200;
  c.seed = 17;
  return c;
}

template <typename T>
int32_t get(Engine& e, int32_t item, std::vector<T>& out) {
  int64_t length = static_cast<int64_t>(out.size() * sizeof(T));
  const int32_t status = e.get(item, out.data(), &length);
  if (status == ZUL_ENGINE_OK) {
    EXPECT_EQ(length, static_cast<int64_t>(out.size() * sizeof(T)));
  }
  return status;
}

TEST(EngineItems, ResultsFollowTheGroupsMatrixAndResetDropsThem) {
  Engine e(config(3));
  std::vector<double> eigen(3), mean(3), critical(3), ave2(3);
  std::vector<int32_t> count(1);
  // Nothing to work from yet.
  EXPECT_EQ(get(e, ZUL_ITEM_PARALLEL_FACTORS, count), ZUL_ENGINE_NOT_AVAILABLE);
  EXPECT_EQ(get(e, ZUL_ITEM_MAP_FACTORS2, count), ZUL_ENGINE_NOT_AVAILABLE);

  const double n = 100;
  const double r[6] = {1, 0.6, 1, 0, 0, 1};
  ASSERT_EQ(e.set(ZUL_ITEM_NOBS, &n, 8), ZUL_ENGINE_OK);
  ASSERT_EQ(e.set(ZUL_ITEM_CORR, r, 48), ZUL_ENGINE_OK);
  ASSERT_EQ(get(e, ZUL_ITEM_OBSERVED_EIGEN, eigen), ZUL_ENGINE_OK);
  EXPECT_NEAR(eigen[0], 1.6, 1e-14);
  EXPECT_NEAR(eigen[2], 0.4, 1e-14);
  ASSERT_EQ(get(e, ZUL_ITEM_PARALLEL_MEAN, mean), ZUL_ENGINE_OK);
  ASSERT_EQ(get(e, ZUL_ITEM_PARALLEL_CRITICAL, critical), ZUL_ENGINE_OK);
  EXPECT_GT(critical[0], mean[0]);
  ASSERT_EQ(get(e, ZUL_ITEM_PARALLEL_FACTORS, count), ZUL_ENGINE_OK);
  EXPECT_EQ(count[0], 1);  // 1.6 against about 1.3 for N = 100, p = 3
  ASSERT_EQ(get(e, ZUL_ITEM_MAP_AVERAGE2, ave2), ZUL_ENGINE_OK);
  EXPECT_NEAR(ave2[0], 0.12, 1e-14);

  // A short buffer is refused and told the length it needs.
  int64_t length = 8;
  EXPECT_EQ(e.get(ZUL_ITEM_PARALLEL_MEAN, mean.data(), &length), ZUL_ENGINE_BAD_LENGTH);
  EXPECT_EQ(length, 24);

  // A new matrix in the same group: the results are computed again.
  const double independent[6] = {1, 0, 1, 0, 0, 1};
  ASSERT_EQ(e.set(ZUL_ITEM_CORR, independent, 48), ZUL_ENGINE_OK);
  ASSERT_EQ(get(e, ZUL_ITEM_PARALLEL_FACTORS, count), ZUL_ENGINE_OK);
  EXPECT_EQ(count[0], 0);

  e.reset();
  EXPECT_EQ(get(e, ZUL_ITEM_MAP_AVERAGE2, ave2), ZUL_ENGINE_NOT_AVAILABLE);

  // Simulations beyond the memory are told apart from results that cannot
  // be computed, so that the module can ask for a smaller NSIMS=.
  zul_engine_config huge = config(3);
  huge.nSims = 2147483647;
  Engine big(huge);
  ASSERT_EQ(big.set(ZUL_ITEM_NOBS, &n, 8), ZUL_ENGINE_OK);
  ASSERT_EQ(big.set(ZUL_ITEM_CORR, r, 48), ZUL_ENGINE_OK);
  int64_t four = 4;
  EXPECT_EQ(big.ops->get(&big, ZUL_ITEM_PARALLEL_FACTORS, count.data(), &four, 0, 0),
            ZUL_ENGINE_NO_MEMORY);
}

}  // namespace
}  // namespace qkxfac
