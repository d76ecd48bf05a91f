// The C boundary of the procedure entry: a fault inside the module becomes
// a message and a completion code, while the host's own end of step (here
// the fake host's StepEnded, as the real host's is unknown to the module)
// passes through untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/entry/c_boundary.hpp"

namespace {

using zul_test::StepEnded;

class CBoundary : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.endStepThrows();
    fake.recordMessages();
    zulfact::host().attach(fake.vector(), nullptr);
    std::memset(static_cast<void*>(&ps), 0, sizeof ps);
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }
  std::vector<std::string> messages() const { return fake.messageTexts(); }

  // The code the step ended with, or -1 when it did not end.
  template <class Body>
  int endedWith(Body body) {
    try {
      zulfact::guardStep(ps, body);
    } catch (const StepEnded& e) {
      return e.code;
    }
    return -1;
  }
  zul_test::FakeHost fake;
  zulfact::ProcState ps;
};

TEST_F(CBoundary, AFaultOfTheModuleEndsTheStepWithAMessageAndCode9999) {
  EXPECT_EQ(endedWith([] { throw std::out_of_range("vector index 12"); }), 9999);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "180/903 vector index 12");
  EXPECT_EQ(ps.completionCode, 9999);
}

TEST_F(CBoundary, MemoryRunningOutEndsTheStepWith1016) {
  EXPECT_EQ(endedWith([] { throw std::bad_alloc(); }), 1016);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "180/904");
}

TEST_F(CBoundary, TheHostsEndOfStepPassesThroughUnchanged) {
  // A step that ends normally (code 0) or with a warning keeps its code,
  // and no fault is reported for it.
  EXPECT_EQ(endedWith([] { throw StepEnded{0}; }), 0);
  EXPECT_EQ(endedWith([] { throw StepEnded{4}; }), 4);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(ps.completionCode, 0);
}

TEST_F(CBoundary, AHigherCodeAlreadyReachedIsKept) {
  ps.completionCode = 9999;
  EXPECT_EQ(endedWith([] { throw std::bad_alloc(); }), 9999);
}

TEST_F(CBoundary, ABodyThatReturnsEndsNothing) {
  EXPECT_EQ(endedWith([] {}), -1);
  EXPECT_TRUE(messages().empty());
}

TEST_F(CBoundary, TheCleanUpReportsAFaultAndGoesOn) {
  EXPECT_NO_THROW(zulfact::guardCleanup([] { throw std::runtime_error("sink gone"); }));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0], "180/903 sink gone");
  // The host's end of step still passes (a handler that ends the step).
  EXPECT_THROW(zulfact::guardCleanup([] { throw StepEnded{1012}; }), StepEnded);
}

}  // namespace
