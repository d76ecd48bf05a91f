// zbysync against a small stand-in host: the real host never gives the
// out-of-range answers that must end the step with 9999, so a vector of
// our own supplies them (and records what the routine asks of the host).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zulfact/entry/by_sync.hpp"
#include "zulfact/host/host.hpp"

namespace {

struct Fake {
  int compareResult = 0;
  int listCalls = 0;
  int lastListCode = 0;
  std::vector<std::string> logLines;
  std::vector<std::string> messages;  // "153/5 a|b"
} fake;

void logLine(int32_t, const char* text, int32_t length) { fake.logLines.emplace_back(text, length); }
void message(int32_t group, int32_t number, const zul_arg* args, int32_t n) {
  std::string m = std::to_string(group) + "/" + std::to_string(number);
  for (int i = 0; i < n; ++i)
    m += (i ? "|" : " ") + std::string(args[i].v.text, static_cast<size_t>(args[i].length));
  fake.messages.push_back(m);
}
int32_t compare(zul_table*, zul_table*) { return fake.compareResult; }
void byList(zul_table*, int32_t code) {
  ++fake.listCalls;
  fake.lastListCode = code;
}
int32_t attribute(zul_table* t, int32_t attribute, void* cell) {
  const char* text = attribute == ZUL_ATTR_BYDESC ? "g=B" : attribute == ZUL_ATTR_BYDESC_TARGET ? "g=A" : nullptr;
  if (!text) return 1;
  std::strcpy(static_cast<char*>(cell), text);
  return 0;
}

zul_fn group39[ZUL_SLOTS_PER_GROUP], group212[ZUL_SLOTS_PER_GROUP];
const zul_fn* groups[ZUL_GROUP_COUNT];
uint8_t used[ZUL_GROUP_COUNT];
void* vec[ZUL_SV_WORDS];

class BySync : public ::testing::Test {
 protected:
  void SetUp() override {
    group39[89] = reinterpret_cast<zul_fn>(&logLine);
    group39[70] = reinterpret_cast<zul_fn>(&message);
    group212[6] = reinterpret_cast<zul_fn>(&compare);
    group212[5] = reinterpret_cast<zul_fn>(&byList);
    group212[50] = reinterpret_cast<zul_fn>(&attribute);
    groups[39] = group39;
    groups[212] = group212;
    vec[ZUL_SV_GROUPS] = groups;
    vec[ZUL_SV_USED] = used;
    zulfact::host().attach(vec, nullptr);
    fake = Fake{};
    std::memset(static_cast<void*>(&ps), 0, sizeof ps);
  }
  void TearDown() override { zulfact::host().attach(nullptr, nullptr); }
  zulfact::ProcState ps;
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
  EXPECT_EQ(fake.listCalls, 2);
  EXPECT_EQ(fake.lastListCode, 70);
}

TEST_F(BySync, MatchingSkippedAndMismatchedGroups) {
  fake.compareResult = 0;
  EXPECT_EQ(zulfact::zbysync(ps, in, target, 0), 0);
  EXPECT_TRUE(fake.messages.empty());
  // 1: the target has no such group: 153/5 with both descriptions, skip.
  fake.compareResult = 1;
  EXPECT_EQ(zulfact::zbysync(ps, in, target, 0), 1);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0], "153/5 g=B|g=A");
  EXPECT_EQ(ps.completionCode, 0);
  // 2: the message, then the step ends with 1008.
  fake.compareResult = 2;
  try {
    zulfact::zbysync(ps, in, target, 0);
    FAIL() << "the step should have ended";
  } catch (const zulfact::EndOfStep& e) {
    EXPECT_EQ(e.completionCode, 1008);
  }
  EXPECT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(ps.completionCode, 1008);
}

TEST_F(BySync, OutOfRangeValuesAreProgramFaults) {
  try {
    zulfact::zbysync(ps, in, target, 3);
    FAIL();
  } catch (const zulfact::EndOfStep& e) {
    EXPECT_EQ(e.completionCode, 9999);
  }
  ASSERT_EQ(fake.logLines.size(), 1u);
  EXPECT_EQ(fake.logLines[0], "zbysync: invalid listrc");
  fake.compareResult = 3;
  try {
    zulfact::zbysync(ps, in, target, 0);
    FAIL();
  } catch (const zulfact::EndOfStep& e) {
    EXPECT_EQ(e.completionCode, 9999);
  }
  ASSERT_EQ(fake.logLines.size(), 2u);
  EXPECT_EQ(fake.logLines[1], "zbysync: invalid return code from xbysync");
  EXPECT_EQ(used[39], 1);  // the used byte of each group called is set
  EXPECT_EQ(used[212], 1);
}

}  // namespace
