// The engine's C boundary: every operation answers with a status, whatever
// happens inside, and refuses bad arguments without touching them.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "qkxfac/engine.hpp"
#include "zul/abi_engine.h"

namespace {

using qkxfac::Engine;

TEST(EngineBoundary, NothingThrownInsideLeavesAnOperation) {
  EXPECT_EQ(qkxfac::guarded([]() -> int32_t { throw std::bad_alloc(); }), ZUL_ENGINE_NO_MEMORY);
  EXPECT_EQ(qkxfac::guarded([]() -> int32_t { throw std::logic_error("x"); }),
            ZUL_ENGINE_INTERNAL_FAULT);
  EXPECT_EQ(qkxfac::guarded([]() -> int32_t { throw 42; }), ZUL_ENGINE_INTERNAL_FAULT);
  EXPECT_EQ(qkxfac::guarded([] { return ZUL_ENGINE_OK; }), ZUL_ENGINE_OK);
}

class EngineOps : public ::testing::Test {
 protected:
  void SetUp() override {
    zul_engine_config config{};
    config.nVars = 3;
    config.threadCount = 1;
    engine = zul_engine_create(&config);
    ASSERT_NE(engine, nullptr);
  }
  void TearDown() override { engine->ops->destroy(engine); }
  zul_engine* engine = nullptr;
};

TEST_F(EngineOps, BadItemsAndArgumentsGiveAStatus) {
  const zul_engine_ops* ops = engine->ops;
  double x[6] = {};
  int64_t length = sizeof x;
  EXPECT_EQ(ops->set(engine, 9999, x, 8), ZUL_ENGINE_UNKNOWN_ITEM);
  EXPECT_EQ(ops->set(engine, ZUL_ITEM_CORR, x, -8), ZUL_ENGINE_BAD_ARGUMENT);
  EXPECT_EQ(ops->set(engine, ZUL_ITEM_CORR, nullptr, 48), ZUL_ENGINE_BAD_ARGUMENT);
  EXPECT_EQ(ops->set(engine, ZUL_ITEM_CORR, x, 40), ZUL_ENGINE_BAD_LENGTH);  // packed 3 x 3 is 48
  EXPECT_EQ(ops->get(engine, ZUL_ITEM_CORR, x, nullptr, 0, 0), ZUL_ENGINE_BAD_ARGUMENT);
  EXPECT_EQ(ops->get(engine, 9999, x, &length, 0, 0), ZUL_ENGINE_UNKNOWN_ITEM);
  EXPECT_EQ(ops->get(nullptr, ZUL_ITEM_CORR, x, &length, 0, 0), ZUL_ENGINE_BAD_ARGUMENT);
  EXPECT_EQ(ops->run(engine, nullptr), ZUL_ENGINE_BAD_ARGUMENT);
  ops->reset(nullptr);  // nothing to reset, nothing thrown
  EXPECT_EQ(zul_engine_create(nullptr), nullptr);
}

}  // namespace
