// The host side of the sink at the ABI level: what the dispatch accepts,
// what it refuses, and the model it builds.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers.hpp"
#include "zul/output/report.hpp"

namespace zul::output {
namespace {

using namespace testing;

class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    report.beginStep("p.zul", 3);
    int32_t graphics = -1;
    ASSERT_EQ(call(nullptr, ZUL_OP_CREATE, {text(ZUL_SA_KIND, "manager"),
                                            data(ZUL_SA_RESULT, &sink, 8),
                                            data(ZUL_SA_GRAPHICS, &graphics, 4)}),
              0);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(graphics, 1);
  }
  int32_t call(void* object, int op, std::vector<zul_attr> a = {}) {
    return caller.call(object, op, std::move(a));
  }
  void* table(std::string_view name) {
    void* t = caller.create(sink, "data", name);
    EXPECT_EQ(call(t, ZUL_OP_OPEN_BODY), 0);
    return t;
  }
  void publish(void* t) {
    EXPECT_EQ(call(t, ZUL_OP_CLOSE_BODY), 0);
    EXPECT_EQ(call(t, ZUL_OP_FINISH), 0);
    EXPECT_EQ(call(t, ZUL_OP_PUBLISH), 0);
  }

  std::ostringstream listing;
  Report report{{&listing, true}};
  SinkCaller caller{report};
  void* sink = nullptr;
};

TEST_F(SinkTest, RefusesUnknownOperationsObjectsAndMalformedRequests) {
  EXPECT_EQ(call(sink, 12345), ZUL_SINK_UNKNOWN_OPERATION);
  EXPECT_EQ(static_cast<uint32_t>(call(sink, 12345)), 0x80008001u);
  EXPECT_EQ(report.lastProblem(), "operation 12345 on the sink");
  EXPECT_NE(sinkStatusText(ZUL_SINK_UNKNOWN_OPERATION).find("0x80008001"), std::string::npos);
  EXPECT_EQ(sinkStatusText(ZUL_SINK_NOTHING_TO_DO), "");
  int stranger = 0;
  EXPECT_EQ(call(&stranger, ZUL_OP_PUBLISH), ZUL_SINK_BAD_OBJECT);
  EXPECT_EQ(call(nullptr, ZUL_OP_PUBLISH), ZUL_SINK_BAD_OBJECT);
  // A table without a name, a column type that is neither 5 nor 6, a
  // text with a role that is neither Title nor Footnote.
  void* t = nullptr;
  EXPECT_EQ(call(sink, ZUL_OP_CREATE, {text(ZUL_SA_KIND, "data"), data(ZUL_SA_RESULT, &t, 8)}),
            ZUL_SINK_BAD_REQUEST);
  t = table("T");
  EXPECT_EQ(call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "x"), integer(ZUL_SA_COLUMN_TYPE, 7, ZUL_SK_ENUM)}),
            ZUL_SINK_BAD_REQUEST);
  EXPECT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Caption"), text(ZUL_SA_TEXT, "x")}),
            ZUL_SINK_BAD_REQUEST);
  // A numeric cell bound to fewer than 8 bytes would be read past its end.
  float small = 0;
  EXPECT_EQ(call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "x"), data(ZUL_SA_DATA, &small, 4)}),
            ZUL_SINK_BAD_REQUEST);
  // Nothing declared: emitting a row has nothing to do, and the module may
  // go on (the tolerated status).
  EXPECT_EQ(call(t, ZUL_OP_EMIT_ROW), ZUL_SINK_NOTHING_TO_DO);
  // A published table's handle is gone.
  EXPECT_EQ(call(t, ZUL_OP_PUBLISH), ZUL_SINK_NOTHING_TO_DO);
  EXPECT_EQ(call(t, ZUL_OP_PUBLISH), ZUL_SINK_BAD_OBJECT);
}

TEST_F(SinkTest, RowsAreReadFromTheBoundCells) {
  void* t = table("SamplingAdequacy");
  char name[8];
  double msa = 0;
  ASSERT_EQ(call(t, ZUL_OP_COLUMN,
                 {text(ZUL_SA_NAME, "Variable"), integer(ZUL_SA_COLUMN_TYPE, 6, ZUL_SK_ENUM),
                  integer(ZUL_SA_WIDTH, 8), data(ZUL_SA_DATA, name, 8),
                  text(ZUL_SA_COLUMN_ROLE, "HeaderText")}),
            0);
  ASSERT_EQ(call(t, ZUL_OP_COLUMN,
                 {text(ZUL_SA_NAME, "MSA"), hstring(ZUL_SA_LABEL, "Measure"),
                  integer(ZUL_SA_COLUMN_TYPE, 5, ZUL_SK_ENUM), text(ZUL_SA_FORMAT, "rf"),
                  data(ZUL_SA_DATA, &msa, 8)}),
            0);
  std::memcpy(name, "income  ", 8);
  msa = 0.75;
  ASSERT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  std::memcpy(name, "age\0xxxx", 8);  // a NUL ends the text early
  msa = zul_missing();
  ASSERT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  std::memcpy(name, "a\tb\nc  ", 8);  // a name from a quoted CSV field
  ASSERT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  double overall = 0.8125;
  ASSERT_EQ(call(t, ZUL_OP_NAMED_NUMBER, {text(ZUL_SA_NAME, "_OverallMSA"), data(ZUL_SA_DATA, &overall, 8)}), 0);
  ASSERT_EQ(call(t, ZUL_OP_NAMED_TEXT, {text(ZUL_SA_NAME, "Alpha"), text(ZUL_SA_TEXT, "95")}), 0);
  ASSERT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Footnote"), text(ZUL_SA_TEXT, "f1")}), 0);
  ASSERT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "title"), text(ZUL_SA_TEXT, "Kaiser's MSA"),
                                  text(ZUL_SA_NAME, "titmsa")}),
            0);
  publish(t);

  ASSERT_EQ(report.model().items.size(), 1u);
  const Item& item = report.model().items[0];
  EXPECT_EQ(item.templatePath, "Stat.Factor.SamplingAdequacy");
  ASSERT_EQ(item.columns.size(), 2u);
  EXPECT_EQ(item.columns[0].role, Role::HeaderText);
  EXPECT_TRUE(item.columns[0].isCharacter);
  EXPECT_EQ(item.columns[1].label, "Measure");
  ASSERT_EQ(item.rows.size(), 3u);
  // A cell stands on one line of the listing: no tab or line break in it.
  EXPECT_EQ(item.rows[2][0].text, "a\\x09b\\x0Ac");
  EXPECT_EQ(item.rows[0][0].text, "income");
  EXPECT_DOUBLE_EQ(item.rows[0][1].number, 0.75);
  EXPECT_EQ(item.rows[1][0].text, "age");
  EXPECT_TRUE(item.rows[1][1].isMissing());
  ASSERT_EQ(item.values.size(), 2u);
  EXPECT_EQ(item.values[0].first, "_OverallMSA");
  EXPECT_DOUBLE_EQ(item.values[0].second.number, 0.8125);
  EXPECT_EQ(item.values[1].second.text, "95");
  ASSERT_EQ(item.titles.size(), 1u);
  EXPECT_EQ(item.titles[0].item, "titmsa");
  EXPECT_EQ(item.footnotes, std::vector<std::string>{"f1"});
  // Published means printed.
  EXPECT_NE(listing.str().find("Kaiser's MSA"), std::string::npos);
}

TEST_F(SinkTest, SectionsOfTheSameLevelFollowEachOtherAndNestOtherwise) {
  auto section = [&](const char* name, const char* heading, bool level) {
    ASSERT_EQ(call(sink, ZUL_OP_SECTION, {text(ZUL_SA_NAME, name), text(ZUL_SA_LABEL, name)}), 0);
    if (level) {
      ASSERT_EQ(call(sink, ZUL_OP_SECTION_SET, {integer(ZUL_SA_HEADING_LEVEL, 2)}), 0);
    }
    ASSERT_EQ(call(sink, ZUL_OP_SECTION_SET,
                   {integer(ZUL_SA_HEADING_OPTION, 2), integer(ZUL_SA_OPTION, -1),
                    text(ZUL_SA_HEADING_TEXT, heading)}),
              0);
    ASSERT_EQ(call(sink, ZUL_OP_CLOSE), 0);
  };
  auto tableIn = [&](const char* name) {
    void* t = table(name);
    double x = 1;
    call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "x"), data(ZUL_SA_DATA, &x, 8)});
    call(t, ZUL_OP_EMIT_ROW);
    publish(t);
  };
  section("InitialSolution", "Initial Factor Method: Principal Components", true);
  tableIn("Eigenvalues");
  section("ScreeAndVarExp", "", false);  // no level: inside the current one
  tableIn("A");
  section("RotatedSolution", "Rotation Method: Varimax", true);  // replaces both
  tableIn("B");
  ASSERT_EQ(call(sink, ZUL_OP_CLOSE, {integer(ZUL_SA_CLOSE_HOW, 1)}), 0);
  tableIn("C");

  const Model& m = report.model();
  ASSERT_EQ(m.items.size(), 4u);
  EXPECT_EQ(m.sectionPath(m.items[0].section), "InitialSolution");
  EXPECT_EQ(m.sectionPath(m.items[1].section), "InitialSolution/ScreeAndVarExp");
  EXPECT_EQ(m.sectionPath(m.items[2].section), "RotatedSolution");
  EXPECT_EQ(m.sectionPath(m.items[3].section), "");
  EXPECT_EQ(m.sections[static_cast<size_t>(m.items[2].section)].heading, "Rotation Method: Varimax");
  // Each heading is printed once, before its first table.
  std::string text = listing.str();
  size_t first = text.find("Initial Factor Method");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("Initial Factor Method", first + 1), std::string::npos);
}

TEST_F(SinkTest, CloseAllPublishesOpenTablesAndTheStepReleasesItsHandles) {
  void* t = table("IterationHistory");
  double x = 2;
  call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "x"), data(ZUL_SA_DATA, &x, 8)});
  call(t, ZUL_OP_EMIT_ROW);
  void* empty = table("Empty");  // no column: dropped, not published
  // A column declared after a row: the earlier row gets an empty cell.
  double y = 3;
  call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "y"), data(ZUL_SA_DATA, &y, 8)});
  call(t, ZUL_OP_EMIT_ROW);
  ASSERT_EQ(call(sink, ZUL_OP_CLOSE, {integer(ZUL_SA_CLOSE_HOW, 4)}), 0);
  ASSERT_EQ(report.model().items.size(), 1u);
  const Item& item = report.model().items[0];
  EXPECT_EQ(item.name, "IterationHistory");
  ASSERT_EQ(item.rows.size(), 2u);
  EXPECT_TRUE(item.rows[0][1].isMissing());
  EXPECT_DOUBLE_EQ(item.rows[1][1].number, 3);
  EXPECT_EQ(call(t, ZUL_OP_EMIT_ROW), ZUL_SINK_BAD_OBJECT);
  EXPECT_EQ(call(empty, ZUL_OP_EMIT_ROW), ZUL_SINK_BAD_OBJECT);

  void* t2 = table("Late");
  report.endStep(4);
  EXPECT_EQ(call(t2, ZUL_OP_OPEN_BODY), ZUL_SINK_BAD_OBJECT);
  EXPECT_EQ(call(sink, ZUL_OP_CLOSE), ZUL_SINK_BAD_OBJECT);
  EXPECT_EQ(report.model().steps[0].completionCode, 4);
}

TEST_F(SinkTest, NotesOutsideTablesAreItemsInPlace) {
  ASSERT_EQ(call(sink, ZUL_OP_NOTE, {text(ZUL_SA_NAME, "EigenNote"), text(ZUL_SA_TEXT, "QL failed; bisection used.")}), 0);
  ASSERT_EQ(report.model().items.size(), 1u);
  EXPECT_EQ(report.model().items[0].kind, Item::Kind::Note);
  EXPECT_EQ(report.model().items[0].name, "EigenNote");
  EXPECT_NE(listing.str().find("QL failed; bisection used."), std::string::npos);
}

// A character plot: its lines reach the listing with their blanks, and
// neither the model (JSON, HTML) nor a data table may take a "Line".
TEST_F(SinkTest, TextBlocksArePrintedAsTheyStandInTheListingOnly) {
  void* t = caller.create(sink, "text", "ScreePlot");
  ASSERT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Title"), text(ZUL_SA_TEXT, "Scree")}), 0);
  for (const char* line : {"  1 |  A", "    |", " .0 +--B--  F2"})
    ASSERT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Line"), text(ZUL_SA_TEXT, line)}), 0);
  publish(t);
  EXPECT_TRUE(report.model().items.empty());
  // The block (14 wide) is centred on the 80-character page as a whole.
  const std::string indent(33, ' ');
  EXPECT_NE(listing.str().find("Scree\n\n" + indent + "  1 |  A\n" + indent + "    |\n" + indent +
                               " .0 +--B--  F2\n"),
            std::string::npos)
      << listing.str();
  void* d = table("T");
  EXPECT_EQ(call(d, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Line"), text(ZUL_SA_TEXT, "x")}),
            ZUL_SINK_BAD_REQUEST);
  // A block still open when the group ends is printed, not dropped.
  t = caller.create(sink, "text", "PatternPlot");
  ASSERT_EQ(call(t, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Line"), text(ZUL_SA_TEXT, "late line")}), 0);
  report.endStep(0);
  EXPECT_NE(listing.str().find("late line"), std::string::npos);
  std::ostringstream json;
  report.writeJson(json);
  EXPECT_EQ(json.str().find("Plot"), std::string::npos);
}

// Three steps through one sink: two BY groups with a section, a table, a
// note and a graph; a step that publishes nothing and fails; a last table.
void publishRun(Report& report) {
  const SinkCaller c{report};
  auto numberTable = [&](void* owner, const char* name, double x) {
    static const double one = 1;
    void* t = c.numberTable(owner, name, "Number", &one);
    c.call(t, ZUL_OP_COLUMN, {text(ZUL_SA_NAME, "Eigenvalue"), data(ZUL_SA_DATA, &x, 8)});
    c.call(t, ZUL_OP_EMIT_ROW);
    c.call(t, ZUL_OP_PUBLISH);
  };
  report.beginStep("p.zul", 3);
  void* sink = c.create(nullptr, "manager");
  for (const char* group : {"A", "B"}) {
    report.setBy({{"g", group, std::nullopt}});
    c.call(sink, ZUL_OP_SECTION, {text(ZUL_SA_NAME, "InitialSolution")});
    c.call(sink, ZUL_OP_SECTION_SET, {text(ZUL_SA_HEADING_TEXT, "Initial Factor Method")});
    c.call(sink, ZUL_OP_CLOSE);
    numberTable(sink, "Eigenvalues", 2.5);
    c.call(sink, ZUL_OP_NOTE, {text(ZUL_SA_NAME, "EigenNote"), text(ZUL_SA_TEXT, "A <note>.")});
    void* g = c.create(sink, "", "ScreePlot", ZUL_OP_GRAPH_CREATE);
    numberTable(g, "ScreePlotData", 1.5);
    c.call(g, ZUL_OP_GRAPH_END);
  }
  report.endStep(0);
  report.beginStep("q.zul", 7);
  report.endStep(1012);
  report.beginStep("q.zul", 9);
  sink = c.create(nullptr, "manager");
  numberTable(sink, "NObs", 40);
  report.endStep(0);
}

TEST(ReportParts, WrittenAsTheRunGoesTheFilesAreThoseOfTheWholeModel) {
  std::ostringstream listing;
  Report whole({&listing, true});
  publishRun(whole);
  std::stringstream json, contents, body;
  ReportOptions options{&listing, true};
  options.jsonTables = &json;
  options.htmlContents = &contents;
  options.htmlBody = &body;
  options.keepGraphs = false;
  Report parts(options);
  publishRun(parts);
  // Nothing is held for the end.
  EXPECT_TRUE(parts.model().items.empty());
  ASSERT_EQ(whole.model().items.size(), 7u);

  std::ostringstream wholeJson, partsJson, wholeHtml, partsHtml;
  whole.writeJson(wholeJson);
  parts.writeJson(partsJson);
  EXPECT_EQ(partsJson.str(), wholeJson.str());
  EXPECT_NE(wholeJson.str().find("\"ScreePlotData\""), std::string::npos);
  whole.writeHtml(wholeHtml);
  parts.writeHtml(partsHtml);
  EXPECT_EQ(partsHtml.str(), wholeHtml.str());
  // The failed step between the other two says so in its place.
  const std::string page = partsHtml.str();
  const size_t stopped = page.find("completion code 1012");
  ASSERT_NE(stopped, std::string::npos);
  EXPECT_LT(page.find("g=B"), stopped);
  EXPECT_LT(stopped, page.find("Number of Observations</p>"));
}

// A part that could not be written (a full disk) fails the file it is
// copied into: the run must not report a short file as written.
TEST(ReportParts, AFailedPartFailsTheFile) {
  std::stringstream json;
  ReportOptions options;
  options.jsonTables = &json;
  Report report(options);
  report.beginStep("p.zul", 1);
  report.endStep(0);
  json.setstate(std::ios::badbit);
  std::ostringstream out;
  report.writeJson(out);
  EXPECT_FALSE(out.good());
}

TEST(ServiceDispatch, FailsCleanlyWithoutAReport) {
  setCurrentReport(nullptr);
  EXPECT_EQ(serviceDispatch(nullptr, ZUL_OP_CREATE, 0, nullptr), ZUL_SINK_BAD_OBJECT);
  Report report;
  setCurrentReport(&report);
  void* sink = nullptr;
  zul_attr a[2] = {text(ZUL_SA_KIND, "manager"), data(ZUL_SA_RESULT, &sink, 8)};
  EXPECT_EQ(serviceDispatch(nullptr, ZUL_OP_CREATE, 2, a), 0);
  EXPECT_NE(sink, nullptr);
  EXPECT_FALSE(report.graphicsEnabled());
  // A negative count or a null array with a count is refused, not read.
  EXPECT_EQ(serviceDispatch(sink, ZUL_OP_CLOSE, -1, a), ZUL_SINK_BAD_REQUEST);
  EXPECT_EQ(serviceDispatch(sink, ZUL_OP_CLOSE, 2, nullptr), ZUL_SINK_BAD_REQUEST);
  setCurrentReport(nullptr);
}

}  // namespace
}  // namespace zul::output
