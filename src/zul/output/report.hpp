// The host side of the output-table sink: decodes the module's dispatch
// calls (zul/abi_output.h) into the run's Model, prints each table to the
// listing when it is published, and writes the JSON file and the HTML
// report at the end of the run.
//
// Use from the host:
//
//   output::Report report({&listingStream, /*graphics=*/htmlRequested});
//   output::setCurrentReport(&report);        // 400/1 -> serviceDispatch
//   report.beginStep("p.zul", 3);
//   for each BY group: report.setBy({{"grp", "A", std::nullopt}}); ...run...
//   report.endStep(completionCode);
//   report.writeJson(jsonStream); report.writeHtml(htmlStream);
//
// serviceDispatch is the function to put into the service table at 400/1.
// It never throws: failures come back as negative sink statuses.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "zul/abi.h"
#include "zul/output/html_writer.hpp"
#include "zul/output/listing.hpp"
#include "zul/output/model.hpp"

namespace zul::output {

struct ReportOptions {
  std::ostream* listing = nullptr;  // tables are printed here when published
  bool graphics = false;            // answer to the module: draw graphs
  int lineSize = kDefaultLineSize;  // listing page width
  std::function<int()> maxLineSize = {};  // widest table line; wider ones are split
  // The JSON file or the HTML report will read the tables at the end of
  // the run. When neither is written, a table is dropped once printed:
  // steps with thousands of BY groups, or matrices of thousands of
  // variables, would otherwise hold every table they printed.
  bool keepTables = true;
  // Temporary files the JSON file and the HTML report are written to as
  // the run goes (null: not written, or kept in the model until the end):
  // each table is rendered when published and then dropped, so that a
  // step with thousands of BY groups does not hold them all. Given for
  // every report the run writes, or for none.
  std::iostream* jsonTables = nullptr;
  std::iostream* htmlContents = nullptr;  // both or neither
  std::iostream* htmlBody = nullptr;
  bool keepGraphs = true;  // graphs stay in the model (graph files are drawn from it)
};

class Report {
 public:
  explicit Report(ReportOptions options = {});
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  // A FACTOR step begins: its program file and line. Returns its index.
  int beginStep(std::string program, int line);
  // The BY values of the group about to run (empty without BY). Closes the
  // sections of the previous group; open tables stay open.
  void setBy(std::vector<ByValue> by);
  // The step ended: open tables are published, the sink is released.
  void endStep(int completionCode);

  int32_t dispatch(void* object, int32_t operation, int32_t nAttributes, zul_attr* attributes);

  bool graphicsEnabled() const { return options_.graphics; }
  // The last refused request, "operation 338 on a table", for the log
  // line that goes with the status report; "" when none was refused.
  const std::string& lastProblem() const { return lastProblem_; }
  const Model& model() const { return model_; }

  void writeJson(std::ostream& out) const;
  void writeHtml(std::ostream& out, const std::string& title = "zul report") const;

 private:
  struct Object;
  struct Sink;
  struct Table;
  struct Graph;

  int32_t route(void* object, int32_t operation, int32_t n, const zul_attr* a);
  int32_t create(Object* object, const zul_attr* a, int32_t n);
  int32_t onSink(Sink& sink, int32_t operation, const zul_attr* a, int32_t n);
  int32_t onTable(Table& table, int32_t operation, const zul_attr* a, int32_t n);
  int32_t createGraph(const zul_attr* a, int32_t n);
  int32_t onGraph(Graph& graph, int32_t operation, const zul_attr* a, int32_t n);
  void publishGraph(Graph& graph);
  int32_t addColumn(Table& table, const zul_attr* a, int32_t n);
  int32_t emitRow(Table& table);
  void publish(Item item);
  void publishTable(Table& table);
  void closeAll();
  Item newItem(Item::Kind kind) const;

  ReportOptions options_;
  Model model_;
  Listing listing_;
  int currentStep_ = -1;
  int byGroup_ = -1;
  std::vector<ByValue> by_;
  std::vector<int> sectionStack_;       // indices into model_.sections
  std::vector<int64_t> sectionLevels_;  // heading level of each, 0 none
  bool definingSection_ = false;
  Sink* sink_ = nullptr;  // the step's sink, owned by objects_
  // Live handles given to the module; a pointer not found here is refused.
  std::unordered_map<void*, std::unique_ptr<Object>> objects_;
  std::vector<Table*> openTables_;  // in creation order
  std::vector<Graph*> openGraphs_;  // graphs not yet ended
  std::string lastProblem_;
  size_t jsonWritten_ = 0;  // entries written to options_.jsonTables
  std::unique_ptr<HtmlReportParts> html_;
};

// A sentence for the log about a sink status (ZUL_SINK_...); "" for the
// tolerated status and for statuses that are not the sink's.
std::string sinkStatusText(int32_t status);

// The report that serviceDispatch forwards to (null: every call fails
// with ZUL_SINK_BAD_OBJECT).
void setCurrentReport(Report* report);
int32_t serviceDispatch(void* object, int32_t operation, int32_t nAttributes,
                        zul_attr* attributes);

}  // namespace zul::output
