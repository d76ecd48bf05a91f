// The C boundary of the procedure entry: a fault inside the module becomes
// a message and a completion code, while the host's own end of step (here
// a type of the test, as the real host's is unknown to the module) passes
// through untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "zulfact/entry/c_boundary.hpp"

namespace {

struct HostEnded {
  int code;
};

std::vector<std::string> messages;  // "180/903 text"

void endStep(int32_t code, int32_t) { throw HostEnded{code}; }
void message(int32_t group, int32_t number, const zul_arg* args, int32_t n) {
  std::string m = std::to_string(group) + "/" + std::to_string(number);
  for (int i = 0; i < n; ++i)
    m += (i ? "|" : " ") + std::string(args[i].v.text, static_cast<size_t>(args[i].length));
  messages.push_back(m);
}

zul_fn group39[ZUL_SLOTS_PER_GROUP];
const zul_fn* groups[ZUL_GROUP_COUNT];
uint8_t used[ZUL_GROUP_COUNT];
void* vec[ZUL_SV_WORDS];

class CBoundary : public ::testing::Test {
 protected:
  void SetUp() override {
    group39[4] = reinterpret_cast<zul_fn>(&endStep);
    group39[70] = reinterpret_cast<zul_fn>(&message);
    groups[39] = group39;
    vec[ZUL_SV_GROUPS] = groups;
    vec[ZUL_SV_USED] = used;
    zulfact::host().attach(vec, nullptr);
    messages.clear();
    std::memset(static_cast<void*>(&ps), 0, sizeof ps);
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }

  // The code the step ended with, or -1 when it did not end.
  template <class Body>
  int endedWith(Body body) {
    try {
      zulfact::guardStep(ps, body);
    } catch (const HostEnded& e) {
      return e.code;
    }
    return -1;
  }
  zulfact::ProcState ps;
};

TEST_F(CBoundary, AFaultOfTheModuleEndsTheStepWithAMessageAndCode9999) {
  EXPECT_EQ(endedWith([] { throw std::out_of_range("vector index 12"); }), 9999);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/903 vector index 12");
  EXPECT_EQ(ps.completionCode, 9999);
}

TEST_F(CBoundary, MemoryRunningOutEndsTheStepWith1016) {
  EXPECT_EQ(endedWith([] { throw std::bad_alloc(); }), 1016);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/904");
}

TEST_F(CBoundary, TheHostsEndOfStepPassesThroughUnchanged) {
  // A step that ends normally (code 0) or with a warning keeps its code,
  // and no fault is reported for it.
  EXPECT_EQ(endedWith([] { throw HostEnded{0}; }), 0);
  EXPECT_EQ(endedWith([] { throw HostEnded{4}; }), 4);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(ps.completionCode, 0);
}

TEST_F(CBoundary, AHigherCodeAlreadyReachedIsKept) {
  ps.completionCode = 9999;
  EXPECT_EQ(endedWith([] { throw std::bad_alloc(); }), 9999);
}

TEST_F(CBoundary, ABodyThatReturnsEndsNothing) {
  EXPECT_EQ(endedWith([] {}), -1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(CBoundary, TheCleanUpReportsAFaultAndGoesOn) {
  EXPECT_NO_THROW(zulfact::guardCleanup([] { throw std::runtime_error("sink gone"); }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/903 sink gone");
  // The host's end of step still passes (a handler that ends the step).
  EXPECT_THROW(zulfact::guardCleanup([] { throw HostEnded{1012}; }), HostEnded);
}

}  // namespace
