#include "zul/output/json_writer.hpp"

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>

#include "zul/output/display.hpp"
#include "zul/output/stream_copy.hpp"

namespace zul::output {

namespace {

using Json = nlohmann::ordered_json;

// 2^53: every integer below it is exact in a double.
constexpr double kExactIntegers = 9007199254740992.0;

Json number(double x) {
  if (!std::isfinite(x)) return nullptr;
  if (x == std::floor(x) && std::fabs(x) < kExactIntegers && !(x == 0 && std::signbit(x))) {
    return static_cast<int64_t>(x);
  }
  return x;
}

Json value(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Number: return number(v.number);
    case Value::Kind::Text: return v.text;
    case Value::Kind::Missing: break;
  }
  return nullptr;
}

Json table(const Model& model, const Item& item) {
  Json t;
  t["step"] = item.step;
  Json by = Json::object();
  for (const ByValue& b : item.by)
    by[b.name] = b.missing ? Json(nullptr) : b.number ? number(*b.number) : Json(b.text);
  t["by"] = by;
  t["section"] = model.sectionPath(item.section);
  t["name"] = item.name;
  t["template"] = item.templatePath;
  Json titles = Json::array(), footnotes = Json::array(), notes = Json::array();
  for (const Title& x : item.titles) titles.push_back(x.text);
  for (const std::string& x : item.footnotes) footnotes.push_back(x);
  for (const Note& x : item.notes) notes.push_back(x.text);
  t["titles"] = titles;
  t["footnotes"] = footnotes;
  t["notes"] = notes;
  Json columns = Json::array();
  for (size_t j = 0; j < item.columns.size(); ++j) {
    const Column& c = item.columns[j];
    columns.push_back({{"name", c.name},
                       {"label", c.label},
                       {"type", c.isCharacter ? "character" : "numeric"},
                       {"format", resolvedFormatText(item, j)},
                       {"role", roleName(c.role)}});
  }
  t["columns"] = columns;
  Json rows = Json::array();
  for (const auto& row : item.rows) {
    Json r = Json::array();
    for (size_t j = 0; j < item.columns.size(); ++j) {
      r.push_back(j < row.size() ? value(row[j]) : Json(nullptr));
    }
    rows.push_back(std::move(r));
  }
  t["rows"] = rows;
  if (!item.values.empty()) {
    Json values = Json::object();
    for (const auto& [name, v] : item.values) values[name] = value(v);
    t["values"] = values;
  }
  return t;
}

// A graph: its data tables first, each marked with the graph it belongs
// to ("graph"), then the graph itself ("kind": "graph") with its dynamic
// values. Rows stay one per line, as in every table.
void appendGraph(const Model& model, const Item& graph, Json& tables) {
  for (Item data : graph.data) {
    data.section = graph.section;
    Json t = table(model, data);
    t["graph"] = graph.name;
    tables.push_back(std::move(t));
  }
  Json g = table(model, graph);
  g["kind"] = "graph";
  g["label"] = graph.label;
  if (!g.contains("values")) g["values"] = Json::object();
  tables.push_back(std::move(g));
}

}  // namespace

nlohmann::ordered_json toJson(const Model& model) {
  Json steps = Json::array();
  for (const Step& s : model.steps) {
    steps.push_back({{"program", s.program}, {"line", s.line}, {"completionCode", s.completionCode}});
  }
  Json tables = Json::array();
  for (const Item& item : model.items) {
    if (item.kind == Item::Kind::Table || item.kind == Item::Kind::Note) {
      tables.push_back(table(model, item));
    } else if (item.kind == Item::Kind::Graph && !item.data.empty()) {
      appendGraph(model, item, tables);
    }
  }
  Json doc;
  doc["steps"] = steps;
  doc["tables"] = tables;
  return doc;
}

namespace {

// One line per step, per table head and per row: easy to read and to
// compare, whatever the size of the tables. Invalid UTF-8 in a label must
// not lose the whole file: it is replaced.
std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void writeEntry(Json head, std::ostream& out, size_t& written) {
  Json rows = std::move(head["rows"]);
  head.erase("rows");
  Json values;
  if (head.contains("values")) {
    values = std::move(head["values"]);
    head.erase("values");
  }
  std::string text = dump(head);
  text.pop_back();  // the closing brace: rows and values follow
  out << (written++ ? ",\n  " : "\n  ") << text << ", \"rows\": [";
  for (size_t r = 0; r < rows.size(); ++r) out << (r ? ",\n    " : "\n    ") << dump(rows[r]);
  out << "]";
  if (!values.is_null()) out << ", \"values\": " << dump(values);
  out << "}";
}

}  // namespace

void writeJsonItem(const Model& model, const Item& item, std::ostream& out, size_t& written) {
  Json entries = Json::array();
  if (item.kind == Item::Kind::Table || item.kind == Item::Kind::Note) {
    entries.push_back(table(model, item));
  } else if (item.kind == Item::Kind::Graph && !item.data.empty()) {
    appendGraph(model, item, entries);
  }
  for (Json& entry : entries) writeEntry(std::move(entry), out, written);
}

void writeJsonFile(const Model& model, std::iostream& tables, std::ostream& out) {
  out << "{\"steps\": [";
  for (size_t i = 0; i < model.steps.size(); ++i) {
    const Step& s = model.steps[i];
    const Json step = {{"program", s.program}, {"line", s.line},
                       {"completionCode", s.completionCode}};
    out << (i ? ",\n  " : "\n  ") << dump(step);
  }
  out << "],\n \"tables\": [";
  copyStream(tables, out);
  out << "]}\n";
}

void writeJson(const Model& model, std::ostream& out) {
  std::stringstream tables;
  size_t written = 0;
  for (const Item& item : model.items) writeJsonItem(model, item, tables, written);
  writeJsonFile(model, tables, out);
}

}  // namespace zul::output
