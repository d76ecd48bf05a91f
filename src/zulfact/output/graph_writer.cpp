#include "zulfact/output/graph_writer.hpp"

#include <exception>
#include <vector>

#include "zulfact/host/host.hpp"
#include "zulfact/output/sink_attributes.hpp"

namespace zulfact {

using sink_attr::chars;
using sink_attr::data;

namespace {

int dispatch(void* object, int operation, std::vector<zul_attr> a) {
  return checkSinkStatus(host().sinkDispatch(object, operation, static_cast<int>(a.size()),
                                             a.empty() ? nullptr : a.data()));
}

}  // namespace

GraphWriter::~GraphWriter() {
  if (graph_ && std::uncaught_exceptions() == 0) {
    try {
      end();
    } catch (const EndOfStep& e) {
      host().deferEndStep(e);
    } catch (...) {
      // Left to the sink's clean-up, as a table would be.
    }
  }
}

bool GraphWriter::begin(std::string_view name, std::string_view templatePath, const Text& label) {
  if (!sink_) return false;
  if (graph_) end();
  void* graph = nullptr;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), data(ZUL_SA_RESULT, &graph, sizeof graph)};
  if (!templatePath.empty()) a.push_back(chars(ZUL_SA_TEMPLATE, templatePath));
  if (!label.empty()) a.push_back(sink_attr::text(ZUL_SA_LABEL, label));
  if (dispatch(sink_, ZUL_OP_GRAPH_CREATE, a) < 0 || !graph) return false;
  graph_ = graph;
  return true;
}

void GraphWriter::title(const Text& text) {
  if (!graph_) return;
  dispatch(graph_, ZUL_OP_TEXT, {chars(ZUL_SA_TEXT_ROLE, "Title"), sink_attr::text(ZUL_SA_TEXT, text)});
}

void GraphWriter::value(std::string_view name, double number) {
  if (!graph_) return;
  dispatch(graph_, ZUL_OP_NAMED_NUMBER,
           {chars(ZUL_SA_NAME, name), data(ZUL_SA_DATA, &number, sizeof number)});
}

void GraphWriter::value(std::string_view name, std::string_view text) {
  if (!graph_) return;
  dispatch(graph_, ZUL_OP_NAMED_TEXT, {chars(ZUL_SA_NAME, name), chars(ZUL_SA_TEXT, text)});
}

void GraphWriter::end() {
  if (!graph_) return;
  void* graph = graph_;
  graph_ = nullptr;
  dispatch(graph, ZUL_OP_GRAPH_END, {});
}

}  // namespace zulfact
