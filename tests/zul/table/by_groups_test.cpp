// BY-group reading: ascending, DESCENDING and NOTSORTED order, the error
// for a table out of order, rewinding a group, and synchronising a second
// table with the groups of the first.
#include <gmock/gmock.h>

#include "test_util.hpp"

namespace zul::table {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::errorOf;
using testing::readGroupAsText;

class ByGroups : public testing::ScratchDir {
 protected:
  // Every group as "description: rows".
  std::vector<std::string> groups(InputTable& t) {
    std::vector<std::string> out;
    while (t.nextByGroup() > 0) {
      std::string s = t.byDescription() + ":";
      for (const auto& r : readGroupAsText(t)) s += " " + r;
      out.push_back(s);
    }
    return out;
  }
};

// Ascending with missing first, "1" and "1.0" one group and 2 < 10
// numerically; character ascending then numeric descending; NOTSORTED
// takes runs of equal values.
TEST_F(ByGroups, GroupsInEachOrder) {
  const struct {
    std::string csv;
    BySpec by;
    std::vector<std::string> groups;
  } cases[] = {
      {"g,x\n.,0\n1,1\n1.0,2\n2,3\n10,4\n", {{{"G", false}}, false},
       {"g=.: |0", "g=1: 1|1 1.0|2", "g=2: 2|3", "g=10: 10|4"}},
      {"a,b,x\nA,3,1\nA,3,2\nA,1,3\nB,5,4\nB,2,5\n", {{{"a", false}, {"b", true}}, false},
       {"a=A b=3: A|3|1 A|3|2", "a=A b=1: A|1|3", "a=B b=5: B|5|4", "a=B b=2: B|2|5"}},
      {"g,x\n2,1\n2,2\n1,3\n2,4\n", {{{"g", false}}, true}, {"g=2: 2|1 2|2", "g=1: 1|3", "g=2: 2|4"}},
  };
  for (const auto& c : cases) {
    InputTable t(table("t", c.csv));
    t.setBy(c.by);
    EXPECT_EQ(groups(t), c.groups) << c.csv;
    EXPECT_EQ(t.nextByGroup(), 0);
  }
}

TEST_F(ByGroups, UnsortedTableNamesTheFirstRowOutOfOrder) {
  InputTable t(table("unsorted", "g,x\n1,1\n2,2\n2,3\n1,4\n3,5\n"));
  t.setBy({{{"g", false}}, false});
  // The order is checked before the first group is handed out, so that no
  // group is analysed from a table that turns out to be unsorted.
  const std::string error = errorOf([&] { t.nextByGroup(); });
  // "1,4" is on file line 5 (the header is line 1).
  EXPECT_THAT(error, HasSubstr("Table WORK.UNSORTED is not sorted by the BY variables (g)"));
  EXPECT_THAT(error, HasSubstr("line 5 (g=1) comes after a row with g=2"));
  EXPECT_EQ(t.nextByGroup(), 0);
  InputTable d(table("d", "g\n3\n2\n5\n"));
  d.setBy({{{"g", true}}, false});
  EXPECT_THAT(errorOf([&] { d.nextByGroup(); }), HasSubstr("(DESCENDING g): the row on line 4 (g=5)"));
}

TEST_F(ByGroups, RewindRereadsTheCurrentGroupOnly) {
  InputTable t(table("r", "g,x\n1,1\n1,2\n2,3\n2,4\n2,5\n3,6\n"));
  t.setBy({{{"g", false}}, false});
  ASSERT_EQ(t.nextByGroup(), 1);
  ASSERT_EQ(t.nextByGroup(), 1);  // the first group skipped unread
  EXPECT_EQ(t.byNumber(0), 2.0);
  ASSERT_TRUE(t.nextRecord());
  EXPECT_EQ(t.text(1), "3");
  t.rewindGroup();  // part way through
  EXPECT_FALSE(t.hasRecord());
  EXPECT_THAT(readGroupAsText(t), ElementsAre("2|3", "2|4", "2|5"));
  t.rewindGroup();  // after the end of the group
  EXPECT_THAT(readGroupAsText(t), ElementsAre("2|3", "2|4", "2|5"));
  ASSERT_EQ(t.nextByGroup(), 1);
  EXPECT_THAT(readGroupAsText(t), ElementsAre("3|6"));
  t.rewindGroup();  // last group, at the end of the file
  EXPECT_THAT(readGroupAsText(t), ElementsAre("3|6"));
  EXPECT_EQ(t.nextByGroup(), 0);
  t.rewindTable();
  EXPECT_EQ(t.nextByGroup(), 1);
  EXPECT_EQ(t.byDescription(), "g=1");
}

TEST_F(ByGroups, WithoutByTheTableIsOneGroupEvenWhenEmpty) {
  InputTable empty(table("e", "x,y\n"));
  EXPECT_EQ(empty.nextByGroup(), 1);
  EXPECT_FALSE(empty.nextRecord());
  EXPECT_EQ(empty.nextByGroup(), 0);

  InputTable byEmpty(table("e2", "x,y\n"));
  byEmpty.setBy({{{"x", false}}, false});
  EXPECT_EQ(byEmpty.nextByGroup(), 0);

  InputTable t(table("w", "x\n1\n2\n"));
  EXPECT_EQ(t.nextByGroup(), 1);
  EXPECT_EQ(t.byDescription(), "");
  EXPECT_THAT(readGroupAsText(t), ElementsAre("1", "2"));
  t.rewindGroup();
  EXPECT_THAT(readGroupAsText(t), ElementsAre("1", "2"));
  EXPECT_EQ(t.nextByGroup(), 0);
}

// A display format groups by the formatted value: "3." rounds half away
// from zero, "$1." keeps the first byte. The group shows its formatted
// value, and a table sorted by its own values passes the order check.
TEST_F(ByGroups, FormattedVariablesGroupByTheirFormattedValue) {
  write("f.csv-metadata.json",
        R"({"@context": "http://www.w3.org/ns/csvw", "url": "f.csv",
            "tableSchema": {"columns": [{"name": "a", "datatype": "string", "zul:format": "$1."},
                                        {"name": "g", "datatype": "double", "zul:format": "3."},
                                        {"name": "x", "datatype": "double"}]}})");
  InputTable t(table("f", "a,g,x\nAbe,.,0\nAbe,1.2,1\nAnna,1.4,2\nAnna,2.49,3\nBo,-0.4,4\nBo,0.2,5\nBo,2.5,6\n"));
  t.setBy({{{"a", false}, {"g", false}}, false});
  EXPECT_THAT(groups(t), ElementsAre("a=A g=.: Abe||0", "a=A g=1: Abe|1.2|1 Anna|1.4|2",
                                     "a=A g=2: Anna|2.49|3", "a=B g=0: Bo|-0.4|4 Bo|0.2|5",
                                     "a=B g=3: Bo|2.5|6"));

  // Rows out of order by their formatted values are still refused.
  write("u.csv-metadata.json",
        R"({"@context": "http://www.w3.org/ns/csvw", "url": "u.csv",
            "tableSchema": {"columns": [{"name": "g", "datatype": "double", "zul:format": "3."}]}})");
  InputTable u(table("u", "g\n1.2\n2.2\n1.4\n"));
  u.setBy({{{"g", false}}, false});
  EXPECT_THROW(u.nextByGroup(), TableError);

  // A character format kept for a numeric column cannot group it.
  write("w.csv-metadata.json",
        R"({"@context": "http://www.w3.org/ns/csvw", "url": "w.csv",
            "tableSchema": {"columns": [{"name": "g", "datatype": "double", "zul:format": "$3."}]}})");
  InputTable w(table("w", "g\n1\n"));
  EXPECT_THAT(errorOf([&] { w.setBy({{{"g", false}}, false}); }),
              HasSubstr("the numeric BY variable g has the display format $3., which is for "
                        "character values"));
  EXPECT_THAT(errorOf([&] { w.setBy({{{"nope", false}}, false}); }),
              HasSubstr("The BY variable nope is not in table WORK.W"));
}

TEST_F(ByGroups, TargetTableFollowsTheInputGroups) {
  InputTable in(table("in", "g,x\n1,1\n2,2\n3,3\n4,4\n"));
  InputTable target(table("target", "g,t\n1,10\n1,11\n3,30\n4,40\n"));
  InputTable noBy(table("noby", "t\n7\n8\n"));
  InputTable partial(table("partial", "h,t\n1,1\n"));
  in.setBy({{{"g", false}}, false});
  EXPECT_EQ(bySyncMode(in, target), 0);
  EXPECT_EQ(bySyncMode(in, noBy), 2);

  std::vector<std::string> seen;
  while (in.nextByGroup() > 0) {
    int r = syncByGroup(in, target);
    std::string s = in.byDescription() + "->" + std::to_string(r);
    if (r == 0)
      for (const auto& row : readGroupAsText(target)) s += " " + row;
    seen.push_back(s);
    // A table without the BY variables is read whole for every group.
    ASSERT_EQ(syncByGroup(in, noBy), 0);
    EXPECT_THAT(readGroupAsText(noBy), ElementsAre("7", "8"));
  }
  EXPECT_THAT(seen, ElementsAre("g=1->0 1|10 1|11", "g=2->1", "g=3->0 3|30", "g=4->0 4|40"));

  InputTable in2(table("in2", "g,h\n1,1\n"));
  in2.setBy({{{"g", false}, {"h", false}}, false});
  ASSERT_EQ(in2.nextByGroup(), 1);
  EXPECT_EQ(bySyncMode(in2, partial), 1);
  EXPECT_EQ(syncByGroup(in2, partial), 2);
  // A BY variable of another type in the target cannot be matched.
  InputTable in3(table("in3", "g\n1\n")), text(table("text", "g\na\n"));
  in3.setBy({{{"g", false}}, false});
  ASSERT_EQ(in3.nextByGroup(), 1);
  EXPECT_EQ(syncByGroup(in3, text), 2);
}

}  // namespace
}  // namespace zul::table
