// Graphs through the sink: a graph's data tables join the graph, never
// the listing; its dynamic values and titles stay with it; the JSON file
// carries the tables marked with their graph.
#include <gtest/gtest.h>

#include <sstream>

#include "helpers.hpp"
#include "zul/output/json_writer.hpp"
#include "zul/output/report.hpp"

namespace zul::output {
namespace {

using namespace testing;

class GraphSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    report.beginStep("p.zul", 1);
    sink = caller.create(nullptr, "manager");
    ASSERT_NE(sink, nullptr);
  }
  int32_t call(void* object, int op, std::vector<zul_attr> a = {}) {
    return caller.call(object, op, std::move(a));
  }
  void* graph(std::string_view name) {
    void* g = nullptr;
    EXPECT_EQ(call(sink, ZUL_OP_GRAPH_CREATE, {text(ZUL_SA_NAME, name),
                                               text(ZUL_SA_LABEL, "Scree Plot"),
                                               data(ZUL_SA_RESULT, &g, 8)}),
              0);
    return g;
  }

  std::ostringstream listing;
  Report report{{&listing, true}};
  SinkCaller caller{report};
  void* sink = nullptr;
};

TEST_F(GraphSinkTest, DataTablesJoinTheirGraphAndStayOutOfTheListing) {
  void* g = graph("ScreePlot");
  ASSERT_NE(g, nullptr);
  double cell = 2.5;
  void* t = caller.numberTable(g, "ScreePlotData", "Eigenvalue", &cell);
  EXPECT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  cell = 0.5;
  EXPECT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  EXPECT_EQ(call(t, ZUL_OP_PUBLISH), 0);
  double n = 2;
  EXPECT_EQ(call(g, ZUL_OP_NAMED_NUMBER, {text(ZUL_SA_NAME, "NEigen"), data(ZUL_SA_DATA, &n, 8)}),
            0);
  EXPECT_EQ(call(g, ZUL_OP_NAMED_TEXT, {text(ZUL_SA_NAME, "XVAR"), text(ZUL_SA_TEXT, "Factor1")}),
            0);
  EXPECT_EQ(call(g, ZUL_OP_TEXT, {text(ZUL_SA_TEXT_ROLE, "Title"), text(ZUL_SA_TEXT, "Scree")}), 0);
  EXPECT_TRUE(report.model().items.empty());  // nothing before the graph ends
  EXPECT_EQ(call(g, ZUL_OP_GRAPH_END), 0);

  ASSERT_EQ(report.model().items.size(), 1u);
  const Item& item = report.model().items[0];
  EXPECT_EQ(item.kind, Item::Kind::Graph);
  EXPECT_EQ(item.templatePath, "Stat.Factor.Graphics.ScreePlot");
  ASSERT_NE(item.dataTable("ScreePlotData"), nullptr);
  EXPECT_EQ(item.dataTable("ScreePlotData")->rows.size(), 2u);
  EXPECT_EQ(item.value("NEigen")->number, 2);
  EXPECT_EQ(item.value("XVAR")->text, "Factor1");
  EXPECT_EQ(item.titles.at(0).text, "Scree");
  EXPECT_EQ(listing.str(), "");
  // The handle died with the graph.
  EXPECT_EQ(call(g, ZUL_OP_GRAPH_END), ZUL_SINK_BAD_OBJECT);

  const nlohmann::ordered_json doc = toJson(report.model());
  ASSERT_EQ(doc["tables"].size(), 2u);
  EXPECT_EQ(doc["tables"][0]["name"], "ScreePlotData");
  EXPECT_EQ(doc["tables"][0]["graph"], "ScreePlot");
  EXPECT_EQ(doc["tables"][0]["rows"][1][0], 0.5);
  EXPECT_EQ(doc["tables"][1]["kind"], "graph");
  EXPECT_EQ(doc["tables"][1]["values"]["NEigen"], 2);
}

TEST_F(GraphSinkTest, AGraphLeftOpenIsPublishedWithItsTablesWhenTheSinkClosesAll) {
  void* g = graph("ParallelPlot");
  const double cell = 1.0;
  void* t = caller.numberTable(g, "ParallelPlotData", "Eigenvalue", &cell);
  EXPECT_EQ(call(t, ZUL_OP_EMIT_ROW), 0);
  EXPECT_EQ(call(sink, ZUL_OP_CLOSE, {integer(ZUL_SA_CLOSE_HOW, 4)}), 0);
  ASSERT_EQ(report.model().items.size(), 1u);
  EXPECT_EQ(report.model().items[0].data.at(0).rows.size(), 1u);
}

// Without a JSON file or HTML report nothing reads a table once it is
// printed: the report drops it (a step of 20,000 BY groups kept 375 MB of
// printed tables), and keeps the graphs that --graphs writes at the end.
TEST(PrintOnlyReport, DropsPrintedTablesAndKeepsGraphs) {
  std::ostringstream listing;
  ReportOptions options{&listing, true};
  options.keepTables = false;
  Report report{options};
  const SinkCaller caller{report};
  report.beginStep("p.zul", 1);
  void* sink = caller.create(nullptr, "manager");
  const double x = 2.75;
  void* t = caller.numberTable(sink, "Eigenvalues", "Eigenvalue", &x);
  ASSERT_EQ(caller.call(t, ZUL_OP_EMIT_ROW), 0);
  ASSERT_EQ(caller.call(t, ZUL_OP_PUBLISH), 0);
  EXPECT_NE(listing.str().find("2.75"), std::string::npos) << listing.str();
  EXPECT_TRUE(report.model().items.empty());

  void* g = caller.create(sink, "", "ScreePlot", ZUL_OP_GRAPH_CREATE);
  ASSERT_EQ(caller.call(g, ZUL_OP_GRAPH_END), 0);
  ASSERT_EQ(report.model().items.size(), 1u);
  EXPECT_EQ(report.model().items[0].kind, Item::Kind::Graph);
}

TEST_F(GraphSinkTest, RefusesWhatAGraphCannotHold) {
  void* g = graph("ScreePlot");
  void* t = nullptr;
  EXPECT_EQ(call(g, ZUL_OP_CREATE,
                 {text(ZUL_SA_KIND, "matrix"), text(ZUL_SA_NAME, "M"), data(ZUL_SA_RESULT, &t, 8)}),
            ZUL_SINK_BAD_REQUEST);
  EXPECT_EQ(call(g, ZUL_OP_SECTION, {text(ZUL_SA_NAME, "S")}), ZUL_SINK_UNKNOWN_OPERATION);
  void* unnamed = nullptr;
  EXPECT_EQ(call(sink, ZUL_OP_GRAPH_CREATE, {data(ZUL_SA_RESULT, &unnamed, 8)}),
            ZUL_SINK_BAD_REQUEST);
  // A frame of a character plot (446) takes no data table and is kept by
  // name only: the JSON file has no entry for it.
  void* frame = nullptr;
  EXPECT_EQ(call(sink, ZUL_OP_GRAPH_BEGIN,
                 {text(ZUL_SA_NAME, "PatternPlot"), data(ZUL_SA_RESULT, &frame, 8)}),
            0);
  EXPECT_EQ(call(frame, ZUL_OP_CREATE,
                 {text(ZUL_SA_KIND, "data"), text(ZUL_SA_NAME, "D"), data(ZUL_SA_RESULT, &t, 8)}),
            ZUL_SINK_BAD_OBJECT);
  EXPECT_EQ(call(frame, ZUL_OP_GRAPH_VALUE), 0);
  EXPECT_EQ(toJson(report.model())["tables"].size(), 0u);
}

}  // namespace
}  // namespace zul::output
