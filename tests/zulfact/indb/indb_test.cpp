// The checks and trace of the scoring descriptor, and the column types the
// scoring refuses.
#include "zulfact/indb/indb.hpp"

#include <gtest/gtest.h>

namespace zulfact {
namespace {

sqlgen::ScoringSpec soundSpec() {
  sqlgen::ScoringSpec s;
  s.inputTable = "\"t\"";
  s.outputTable = "\"o\"";
  s.inputNames = {"a", "b"};
  s.outputNames = {"Factor1"};
  s.inputMean = {1, 2};
  s.inputStd = {3, 4};
  s.score = {0.5, 0.25};
  return s;
}

TEST(IndbScoring, FaultsOfTheDescriptorAreNamed) {
  EXPECT_TRUE(scoringFaults(soundSpec()).empty());
  struct Case {
    void (*spoil)(sqlgen::ScoringSpec&);
    const char* line;
  };
  const Case cases[] = {
      {[](sqlgen::ScoringSpec& s) { s.inputTable.clear(); }, "zsqlsco1: sqldata is null"},
      {[](sqlgen::ScoringSpec& s) { s.outputTable.clear(); }, "zsqlsco1: sqlout is null"},
      {[](sqlgen::ScoringSpec& s) { s.inputNames.clear(); }, "zsqlsco1: input_names is null"},
      {[](sqlgen::ScoringSpec& s) { s.outputNames.clear(); }, "zsqlsco1: num_output=0"},
      {[](sqlgen::ScoringSpec& s) { s.score.pop_back(); }, "zsqlsco1: score holds 1 values, not 2"},
      {[](sqlgen::ScoringSpec& s) { s.partialNames = {"p"}; }, "zsqlsco1: residual_names is null"},
  };
  for (const Case& c : cases) {
    sqlgen::ScoringSpec s = soundSpec();
    c.spoil(s);
    const auto faults = scoringFaults(s);
    ASSERT_FALSE(faults.empty()) << c.line;
    EXPECT_EQ(faults[0], c.line);
  }
}

TEST(IndbScoring, TraceListsEveryFieldAndAtLevelTwoTheCoefficients) {
  const auto one = scoringTrace(soundSpec(), 1);
  ASSERT_EQ(one.size(), 17u);
  EXPECT_EQ(one.front(), "sqldata        =\"t\"");
  EXPECT_EQ(one.back(), "prsq           =(null)");
  const auto two = scoringTrace(soundSpec(), 2);
  EXPECT_EQ(two[17], "input=a");
  EXPECT_EQ(two[18], " mean  =            1");
  EXPECT_EQ(two.back(), "a =          0.5  b =         0.25  ");
}

TEST(IndbScoring, CharacterAndUnknownColumnsAreRefusedDatesAreNot) {
  EXPECT_EQ(unscorableColumn(12, "name"), "Character DBMS type 12 returned by QKTSDescribeCol for name");
  EXPECT_EQ(unscorableColumn(-4, "blob"), "Unsupported DBMS type -4 returned by QKTSDescribeCol for blob");
  for (int code : {91, 92, 93, 8, 4, -5, 2})
    EXPECT_EQ(unscorableColumn(code, "x"), "") << code;
}

}  // namespace
}  // namespace zulfact
