// zbysync against the fake host: the real host never gives the
// out-of-range answers that must end the step with 9999, so table services
// of our own supply them (and record what the routine asks of the host).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_host/fake_host.hpp"
#include "zulfact/entry/by_sync.hpp"
#include "zulfact/host/host.hpp"

namespace {

// The table services' answers and what zbysync asked of them.
struct Tables {
  int compareResult = 0;
  int listCalls = 0;
  int lastListCode = 0;
} tables;

int32_t compare(zul_table*, zul_table*) { return tables.compareResult; }
void byList(zul_table*, int32_t code) {
  ++tables.listCalls;
  tables.lastListCode = code;
}
int32_t attribute(zul_table* t, int32_t attribute, void* cell) {
  const char* text = attribute == ZUL_ATTR_BYDESC ? "g=B" : attribute == ZUL_ATTR_BYDESC_TARGET ? "g=A" : nullptr;
  if (!text) return 1;
  std::strcpy(static_cast<char*>(cell), text);
  return 0;
}

class BySync : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.recordLogLines();
    fake.recordMessages();
    fake.provide(ZUL_BY_COMPARE, &compare);
    fake.provide(ZUL_BY_LIST, &byList);
    fake.provide(ZUL_ATTRIBUTE, &attribute);
    zulfact::host().attach(fake.vector(), nullptr);
    tables = Tables{};
    ps.clearRecord();
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }
  std::string logLine(size_t i) const { return fake.logLines.at(i).second; }
  // The completion code zbysync ends the step with (-1: it did not end it).
  int endCode(int mode) {
    try {
      zulfact::zbysync(ps, in, target, mode);
    } catch (const zulfact::EndOfStep& e) {
      return e.completionCode;
    }
    return -1;
  }
  zul_test::FakeHost fake;
  zulfact::StepRecord ps;
  zul_table* in = reinterpret_cast<zul_table*>(0x10);
  zul_table* target = reinterpret_cast<zul_table*>(0x20);
};

TEST_F(BySync, WithoutATargetThereIsNothingToMatch) {
  EXPECT_EQ(zulfact::zbysync(ps, in, nullptr, 0), 0);
  EXPECT_EQ(zulfact::zbysync(ps, nullptr, target, 0), 0);
  // Even a bad mode is not looked at without both tables.
  EXPECT_EQ(zulfact::zbysync(ps, in, nullptr, 7), 0);
  EXPECT_TRUE(fake.logLines.empty());
}

TEST_F(BySync, ModesOneAndTwoListTheTargetAndGoOn) {
  for (int mode : {1, 2}) EXPECT_EQ(zulfact::zbysync(ps, in, target, mode), 0);
  EXPECT_EQ(tables.listCalls, 2);
  EXPECT_EQ(tables.lastListCode, 70);
}

TEST_F(BySync, MatchingSkippedAndMismatchedGroups) {
  tables.compareResult = 0;
  EXPECT_EQ(zulfact::zbysync(ps, in, target, 0), 0);
  EXPECT_TRUE(fake.messages.empty());
  // 1: the target has no such group: 153/5 with both descriptions, skip.
  tables.compareResult = 1;
  EXPECT_EQ(zulfact::zbysync(ps, in, target, 0), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text(), "153/5 g=B|g=A");
  EXPECT_EQ(ps.completionCode, 0);
  // 2: the message, then the step ends with 1008.
  tables.compareResult = 2;
  EXPECT_EQ(endCode(0), 1008);
  EXPECT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(ps.completionCode, 1008);
}

TEST_F(BySync, OutOfRangeValuesAreProgramFaults) {
  EXPECT_EQ(endCode(3), 9999);
  ASSERT_EQ(fake.logLines.size(), 1u);
  EXPECT_EQ(logLine(0), "zbysync: invalid listrc");
  tables.compareResult = 3;
  EXPECT_EQ(endCode(0), 9999);
  ASSERT_EQ(fake.logLines.size(), 2u);
  EXPECT_EQ(logLine(1), "zbysync: invalid return code from xbysync");
  EXPECT_TRUE(fake.groupUsed(39));  // the used byte of each group called is set
  EXPECT_TRUE(fake.groupUsed(212));
}

}  // namespace
