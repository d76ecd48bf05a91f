// The C boundary of the procedure entry: module code ends a step from any
// depth with Host::endStep; guardStep catches that once, turns a fault of
// the module into a message and a completion code, and hands the step's
// end to the host's exit service, which returns. Nothing is thrown out.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/entry/c_boundary.hpp"

namespace {

struct Exit {
  int code, second;
};
std::vector<Exit> exits;            // calls of the exit service
std::vector<std::string> messages;  // "180/903 text"

void exitService(int32_t code, int32_t second) { exits.push_back({code, second}); }
void message(int32_t group, int32_t number, const zul_arg* args, int32_t n) {
  std::string m = std::to_string(group) + "/" + std::to_string(number);
  for (int i = 0; i < n; ++i)
    m += (i ? "|" : " ") + std::string(args[i].v.text, static_cast<size_t>(args[i].length));
  messages.push_back(m);
}

class CBoundary : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.provide(ZUL_END_STEP, &exitService);
    fake.provide(ZUL_MESSAGE, &message);
    zulfact::host().attach(fake.vector(), nullptr);
    messages.clear();
    exits.clear();
    ps.clearRecord();
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }

  // Runs body under guardStep: the code it returns, with the one call of
  // the exit service checked to carry the same code.
  template <class Body>
  int ended(Body body) {
    int code = -1;
    EXPECT_NO_THROW(code = zulfact::guardStep(ps, body));
    EXPECT_EQ(exits.size(), 1u);
    if (exits.size() != 1u) return -1;
    EXPECT_EQ(exits[0].code, code);
    return code;
  }
  zul_test::FakeHost fake;
  zulfact::StepRecord ps;
};

TEST_F(CBoundary, AFaultOfTheModuleEndsTheStepWithAMessageAndCode9999) {
  EXPECT_EQ(ended([] { throw std::out_of_range("vector index 12"); }), 9999);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/903 vector index 12");
  EXPECT_EQ(ps.completionCode, 9999);
}

TEST_F(CBoundary, MemoryRunningOutEndsTheStepWith1016) {
  EXPECT_EQ(ended([] { throw std::bad_alloc(); }), 1016);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/904");
}

TEST_F(CBoundary, AnEndFromAnyDepthReachesTheExitServiceWithBothValues) {
  // Frames between the end and the entry are unwound first (their owners
  // release what they hold), then the host is told once.
  bool released = false;
  struct Owner {
    bool& flag;
    ~Owner() { flag = true; }
  };
  auto deep = [&] {
    Owner owner{released};
    zulfact::host().endStep(1020, 3);
  };
  EXPECT_EQ(ended([&] { deep(); }), 1020);
  EXPECT_TRUE(released);
  EXPECT_EQ(exits[0].second, 3);
  EXPECT_TRUE(messages.empty());
  // A normal end (0) or a warning keeps its code.
  exits.clear();
  EXPECT_EQ(ended([] { zulfact::host().endStep(4); }), 4);
  EXPECT_EQ(ps.completionCode, 0);
}

TEST_F(CBoundary, AHigherCodeAlreadyReachedIsKept) {
  ps.completionCode = 9999;
  EXPECT_EQ(ended([] { throw std::bad_alloc(); }), 9999);
}

TEST_F(CBoundary, AnEndKeptByADestructorRaisesTheCode) {
  // A table that fails to publish in a destructor cannot throw: the end
  // is kept and the step ends with it, not with the lower code.
  EXPECT_EQ(ended([] {
              zulfact::host().deferEndStep({120, 0});
              zulfact::host().endStep(0);
            }),
            120);
  exits.clear();
  EXPECT_EQ(ended([] { zulfact::host().endStep(0); }), 0);  // used once
}

TEST_F(CBoundary, ABodyThatReturnsEndsNothing) {
  ps.completionCode = 4;
  EXPECT_EQ(zulfact::guardStep(ps, [] {}), 4);
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(CBoundary, TheCleanUpReportsAFaultAndGoesOn) {
  EXPECT_NO_THROW(zulfact::guardCleanup([] { throw std::runtime_error("sink gone"); }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "180/903 sink gone");
  // A handler that ends the step tells the exit service and throws nothing.
  EXPECT_NO_THROW(zulfact::guardCleanup([] { zulfact::host().endStep(1012); }));
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0].code, 1012);
}

}  // namespace
