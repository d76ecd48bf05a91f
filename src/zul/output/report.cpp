#include "zul/output/report.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "zul/messages/messages.hpp"
#include "zul/output/html_writer.hpp"
#include "zul/output/json_writer.hpp"

namespace zul::output {

// ---------------------------------------------------------------------
// Handles given to the module

struct Report::Object {
  enum class Kind { Sink, Table, Graph };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Kind kind;
};

struct Report::Sink : Report::Object {
  Sink() : Object(Kind::Sink) {}
};

struct Report::Graph : Report::Object {
  Graph() : Object(Kind::Graph) {}
  Item item;
  bool frame = false;  // a character plot's frame (446): nothing to draw
};

struct Report::Table : Report::Object {
  Table() : Object(Kind::Table) {}
  Graph* owner = nullptr;  // a graph's data table: published into the graph
  struct Binding {
    const void* data = nullptr;
    int64_t bytes = 0;
  };
  Item item;
  std::vector<Binding> bindings;  // one per column
};

namespace {

constexpr int kHeadingLevelAttribute = ZUL_SA_HEADING_LEVEL;
constexpr int kCloseSection = 1;
constexpr int kCloseAll = 4;

const zul_attr* find(const zul_attr* a, int32_t n, int number) {
  for (int32_t i = 0; i < n; ++i) {
    if (a[i].number == number) return &a[i];
  }
  return nullptr;
}

bool textOf(const zul_attr* a, std::string& out) {
  if (!a) return false;
  if (a->kind == ZUL_SK_HSTRING) {
    out = a->value.s ? a->value.s : "";
    return true;
  }
  if (a->kind != ZUL_SK_TEXT) return false;
  if (!a->value.s) {
    out.clear();
    return a->second.i <= 0;
  }
  out = a->second.i < 0 ? std::string(a->value.s)
                        : std::string(a->value.s, static_cast<size_t>(a->second.i));
  return true;
}

bool integerOf(const zul_attr* a, int64_t& out) {
  if (!a) return false;
  if (a->kind != ZUL_SK_INTEGER && a->kind != ZUL_SK_ENUM && a->kind != ZUL_SK_ENUM2) return false;
  out = a->value.i;
  return true;
}

Value numberValue(double x) { return zul_is_missing(x) ? Value::missing() : Value::of(x); }

bool numberOf(const zul_attr* a, Value& out) {
  if (!a) return false;
  int64_t i = 0;
  if (integerOf(a, i)) {
    out = Value::of(static_cast<double>(i));
    return true;
  }
  if (a->kind != ZUL_SK_DATA || !a->value.p ||
      (a->second.i != 0 && a->second.i < static_cast<int64_t>(sizeof(double)))) {
    return false;
  }
  double x;
  std::memcpy(&x, a->value.p, sizeof x);
  out = numberValue(x);
  return true;
}

// An out attribute: a pointer to room of at least `bytes` (0 = unstated).
void* outOf(const zul_attr* a, size_t bytes) {
  if (!a || a->kind != ZUL_SK_DATA || !a->value.p) return nullptr;
  if (a->second.i != 0 && a->second.i < static_cast<int64_t>(bytes)) return nullptr;
  return const_cast<void*>(a->value.p);
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trimmedCell(const char* p, size_t bytes) {
  size_t n = 0;
  while (n < bytes && p[n] != '\0') ++n;
  while (n > 0 && p[n - 1] == ' ') --n;
  return std::string(p, n);
}

}  // namespace

const char* roleName(Role role) {
  switch (role) {
    case Role::RoundFuzzVal: return "RoundFuzzVal";
    case Role::Flag: return "Flag";
    case Role::OriginalVal: return "OriginalVal";
    case Role::HeaderText: return "HeaderText";
    case Role::NewFormat: return "NewFormat";
    case Role::None: break;
  }
  return "";
}

Role roleFromName(std::string_view name) {
  for (Role r : {Role::RoundFuzzVal, Role::Flag, Role::OriginalVal, Role::HeaderText,
                 Role::NewFormat}) {
    if (equalNoCase(name, roleName(r))) return r;
  }
  return Role::None;
}

std::string Model::sectionPath(int section) const {
  std::string path;
  for (int s = section; s >= 0; s = sections[static_cast<size_t>(s)].parent) {
    const std::string& name = sections[static_cast<size_t>(s)].name;
    path = path.empty() ? name : name + "/" + path;
  }
  return path;
}

// ---------------------------------------------------------------------
// Report

Report::Report(ReportOptions options)
    : options_(options), listing_(options.listing, options.lineSize, options.maxLineSize) {
  if (options_.htmlContents && options_.htmlBody)
    html_ = std::make_unique<HtmlReportParts>(*options_.htmlContents, *options_.htmlBody);
}

Report::~Report() = default;

int Report::beginStep(std::string program, int line) {
  if (currentStep_ >= 0 && !model_.steps[static_cast<size_t>(currentStep_)].ended) endStep(0);
  Step step;
  step.program = std::move(program);
  step.line = line;
  model_.steps.push_back(std::move(step));
  currentStep_ = static_cast<int>(model_.steps.size()) - 1;
  byGroup_ = -1;
  by_.clear();
  return currentStep_;
}

namespace {

// Names and values from data files may hold bytes that are not UTF-8 or
// are control characters: every text of an item is made printable before
// any renderer sees it.
void makePrintable(std::string& s) { s = messages::printable(s); }
// Names, BY values and cells stand on one line: a tab or line feed in
// them (a quoted CSV field may hold one) would break the listing's lines
// and columns.
void makeOneLine(std::string& s) { s = messages::printableLine(s); }

void makePrintable(std::vector<ByValue>& by) {
  for (ByValue& b : by) {
    makeOneLine(b.name);
    makeOneLine(b.text);
  }
}

void makePrintable(Item& item) {
  makePrintable(item.by);
  makePrintable(item.label);
  for (Title& t : item.titles) makePrintable(t.text);
  for (std::string& f : item.footnotes) makePrintable(f);
  for (Note& n : item.notes) makePrintable(n.text);
  for (Column& c : item.columns) {
    makeOneLine(c.name);
    makeOneLine(c.label);
  }
  for (auto& row : item.rows)
    for (Value& v : row)
      if (v.isText()) makeOneLine(v.text);
  for (auto& [name, v] : item.values) {
    makeOneLine(name);
    if (v.isText()) makeOneLine(v.text);
  }
  for (std::string& l : item.lines) makeOneLine(l);
}

}  // namespace

void Report::setBy(std::vector<ByValue> by) {
  // Sections belong to a group; table handles stay valid (the module
  // publishes its own tables, endStep the forgotten ones).
  sectionStack_.clear();
  sectionLevels_.clear();
  definingSection_ = false;
  makePrintable(by);
  by_ = std::move(by);
  ++byGroup_;
}

void Report::endStep(int completionCode) {
  closeAll();
  if (currentStep_ >= 0) {
    Step& step = model_.steps[static_cast<size_t>(currentStep_)];
    step.completionCode = completionCode;
    step.ended = true;
    listing_.endStep(model_, currentStep_);
  }
  // Every handle of the step dies with it.
  objects_.clear();
  openTables_.clear();
  openGraphs_.clear();
  sink_ = nullptr;
  by_.clear();
}

Item Report::newItem(Item::Kind kind) const {
  Item item;
  item.kind = kind;
  item.step = std::max(currentStep_, 0);
  item.byGroup = std::max(byGroup_, 0);
  item.by = by_;
  item.section = sectionStack_.empty() ? -1 : sectionStack_.back();
  return item;
}

void Report::publish(Item item) {
  makePrintable(item);
  if (!item.preformatted) {
    if (options_.jsonTables) writeJsonItem(model_, item, *options_.jsonTables, jsonWritten_);
    if (html_) html_->add(model_, item);
  }
  const bool written = options_.jsonTables || html_;
  const bool keep = item.kind == Item::Kind::Graph ? options_.keepGraphs
                                                   : options_.keepTables && !written;
  if (item.preformatted || !keep) {
    listing_.print(model_, item);
    return;
  }
  model_.items.push_back(std::move(item));
  listing_.print(model_, model_.items.back());
}

void Report::publishTable(Table& table) {
  openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), &table),
                    openTables_.end());
  Item item = std::move(table.item);
  Graph* owner = table.owner;
  objects_.erase(&table);  // table is gone from here on
  // Rows emitted before a late column was declared get an empty cell.
  for (auto& row : item.rows) row.resize(item.columns.size());
  if (owner) {
    makePrintable(item);
    owner->item.data.push_back(std::move(item));
    return;
  }
  publish(std::move(item));
}

// A graph is published when it ends, with the data tables it still has
// open.
void Report::publishGraph(Graph& graph) {
  std::vector<Table*> open = openTables_;
  for (Table* t : open)
    if (t->owner == &graph) publishTable(*t);
  openGraphs_.erase(std::remove(openGraphs_.begin(), openGraphs_.end(), &graph),
                    openGraphs_.end());
  Item item = std::move(graph.item);
  objects_.erase(&graph);
  publish(std::move(item));
}

void Report::closeAll() {
  std::vector<Graph*> graphs = openGraphs_;
  for (Graph* g : graphs) publishGraph(*g);
  std::vector<Table*> open = openTables_;
  for (Table* t : open) {
    if (t->item.columns.empty() && t->item.lines.empty()) {
      openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), t),
                        openTables_.end());
      objects_.erase(t);
    } else {
      publishTable(*t);
    }
  }
  sectionStack_.clear();
  sectionLevels_.clear();
  definingSection_ = false;
}

int32_t Report::dispatch(void* object, int32_t operation, int32_t n, zul_attr* attributes) {
  int32_t status;
  try {
    status = (n < 0 || (n > 0 && !attributes)) ? ZUL_SINK_BAD_REQUEST
                                               : route(object, operation, n, attributes);
  } catch (...) {
    status = ZUL_SINK_BAD_REQUEST;
  }
  if (status < 0 && !zul_sink_status_tolerated(status)) {
    const char* on = "an unknown object";
    auto it = object ? objects_.find(object) : objects_.end();
    if (!object) {
      on = "no object";
    } else if (it != objects_.end()) {
      on = it->second->kind == Object::Kind::Sink    ? "the sink"
           : it->second->kind == Object::Kind::Table ? "a table"
                                                     : "a graph";
    }
    lastProblem_ = "operation " + std::to_string(operation) + " on " + on;
  }
  return status;
}

int32_t Report::route(void* object, int32_t operation, int32_t n, const zul_attr* a) {
  {
    Object* target = nullptr;
    if (object) {
      auto it = objects_.find(object);
      if (it == objects_.end()) return ZUL_SINK_BAD_OBJECT;
      target = it->second.get();
    }
    if (operation == ZUL_OP_CREATE) return create(target, a, n);
    if (!target) return ZUL_SINK_BAD_OBJECT;
    switch (target->kind) {
      case Object::Kind::Sink:
        return onSink(static_cast<Sink&>(*target), operation, a, n);
      case Object::Kind::Table:
        return onTable(static_cast<Table&>(*target), operation, a, n);
      case Object::Kind::Graph:
        return onGraph(static_cast<Graph&>(*target), operation, a, n);
    }
    return ZUL_SINK_UNKNOWN_OPERATION;
  }
}

int32_t Report::create(Object* object, const zul_attr* a, int32_t n) {
  std::string kind;
  if (!textOf(find(a, n, ZUL_SA_KIND), kind)) return ZUL_SINK_BAD_REQUEST;
  const zul_attr* result = find(a, n, ZUL_SA_RESULT);

  if (equalNoCase(kind, "manager")) {
    void** out = static_cast<void**>(outOf(result, sizeof(void*)));
    if (!out) return ZUL_SINK_BAD_REQUEST;
    if (currentStep_ < 0) beginStep({}, 0);
    if (!sink_) {
      auto sink = std::make_unique<Sink>();
      sink_ = sink.get();
      objects_[sink_] = std::move(sink);
    }
    *out = sink_;
    if (auto* g = static_cast<int32_t*>(outOf(find(a, n, ZUL_SA_GRAPHICS), sizeof(int32_t)))) {
      *g = options_.graphics ? 1 : 0;
    }
    return 0;
  }

  const bool onGraph = object && object->kind == Object::Kind::Graph &&
                       !static_cast<Graph*>(object)->frame;
  if (!object || (object->kind != Object::Kind::Sink && !onGraph)) return ZUL_SINK_BAD_OBJECT;
  if (onGraph && !equalNoCase(kind, "data")) return ZUL_SINK_BAD_REQUEST;
  if (equalNoCase(kind, "space")) {
    publish(newItem(Item::Kind::Space));
    return 0;
  }
  const bool text = equalNoCase(kind, "text");
  if (!text && !equalNoCase(kind, "data") && !equalNoCase(kind, "matrix")) {
    return ZUL_SINK_BAD_REQUEST;
  }
  void** out = static_cast<void**>(outOf(result, sizeof(void*)));
  std::string name;
  if (!out || !textOf(find(a, n, ZUL_SA_NAME), name) || name.empty()) return ZUL_SINK_BAD_REQUEST;

  auto table = std::make_unique<Table>();
  table->item = newItem(Item::Kind::Table);
  table->item.name = name;
  table->item.preformatted = text;
  if (!textOf(find(a, n, ZUL_SA_TEMPLATE), table->item.templatePath) ||
      table->item.templatePath.empty()) {
    table->item.templatePath = "Stat.Factor." + name;
  }
  textOf(find(a, n, ZUL_SA_LABEL), table->item.label);
  if (onGraph) table->owner = static_cast<Graph*>(object);
  Table* handle = table.get();
  objects_[handle] = std::move(table);
  openTables_.push_back(handle);
  *out = handle;
  return 0;
}

int32_t Report::onSink(Sink&, int32_t operation, const zul_attr* a, int32_t n) {
  switch (operation) {
    case ZUL_OP_SECTION: {
      Section s;
      if (!textOf(find(a, n, ZUL_SA_NAME), s.name) || s.name.empty()) return ZUL_SINK_BAD_REQUEST;
      textOf(find(a, n, ZUL_SA_LABEL), s.label);
      s.parent = sectionStack_.empty() ? -1 : sectionStack_.back();
      model_.sections.push_back(std::move(s));
      sectionStack_.push_back(static_cast<int>(model_.sections.size()) - 1);
      sectionLevels_.push_back(0);
      definingSection_ = true;
      return 0;
    }
    case ZUL_OP_SECTION_SET: {
      if (sectionStack_.empty()) return ZUL_SINK_BAD_REQUEST;
      int current = sectionStack_.back();
      int64_t level = 0;
      if (integerOf(find(a, n, kHeadingLevelAttribute), level) && level > 0 && definingSection_) {
        // A section of a level replaces the open sections of that level
        // and deeper: "RotatedSolution" follows "InitialSolution" beside
        // it, not inside it.
        sectionStack_.pop_back();
        sectionLevels_.pop_back();
        // Sections without a level sit inside their parent: deeper still.
        while (!sectionLevels_.empty() &&
               (sectionLevels_.back() == 0 || sectionLevels_.back() >= level)) {
          sectionStack_.pop_back();
          sectionLevels_.pop_back();
        }
        model_.sections[static_cast<size_t>(current)].parent =
            sectionStack_.empty() ? -1 : sectionStack_.back();
        sectionStack_.push_back(current);
        sectionLevels_.push_back(level);
      }
      std::string heading;
      if (textOf(find(a, n, ZUL_SA_HEADING_TEXT), heading)) {
        model_.sections[static_cast<size_t>(current)].heading = heading;
      }
      return 0;
    }
    case ZUL_OP_CLOSE: {
      int64_t how = 0;
      bool given = integerOf(find(a, n, ZUL_SA_CLOSE_HOW), how);
      if (!given && definingSection_) {
        definingSection_ = false;
        return 0;
      }
      if (given && how == kCloseAll) {
        closeAll();
        return 0;
      }
      if (given && how != kCloseSection) return ZUL_SINK_BAD_REQUEST;
      definingSection_ = false;
      if (!sectionStack_.empty()) {
        sectionStack_.pop_back();
        sectionLevels_.pop_back();
      }
      return 0;
    }
    case ZUL_OP_NOTE: {
      Item item = newItem(Item::Kind::Note);
      Note note;
      textOf(find(a, n, ZUL_SA_NAME), note.name);
      if (!textOf(find(a, n, ZUL_SA_TEXT), note.text)) return ZUL_SINK_BAD_REQUEST;
      item.name = note.name;
      item.templatePath = note.name.empty() ? std::string() : "Stat.Factor." + note.name;
      item.notes.push_back(std::move(note));
      publish(std::move(item));
      return 0;
    }
    case ZUL_OP_GRAPH_CREATE:
      if (find(a, n, ZUL_SA_RESULT)) return createGraph(a, n);
      [[fallthrough]];
    case ZUL_OP_GRAPH_BEGIN: {
      // A graph object of 446 (a character plot's frame), or 2826 without
      // a handle, is recorded by name so the report keeps its place.
      Item item = newItem(Item::Kind::Graph);
      textOf(find(a, n, ZUL_SA_NAME), item.name);
      if (!textOf(find(a, n, ZUL_SA_TEMPLATE), item.templatePath)) {
        item.templatePath = "Stat.Factor.Graphics." + item.name;
      }
      textOf(find(a, n, ZUL_SA_LABEL), item.label);
      publish(std::move(item));
      if (void** out = static_cast<void**>(outOf(find(a, n, ZUL_SA_RESULT), sizeof(void*)))) {
        auto graph = std::make_unique<Graph>();
        graph->frame = true;
        *out = graph.get();
        objects_[graph.get()] = std::move(graph);
      }
      return 0;
    }
    case ZUL_OP_GRAPH_VALUE:
    case ZUL_OP_GRAPH_END:
      return 0;
    default:
      return ZUL_SINK_UNKNOWN_OPERATION;
  }
}

namespace {

// A named extra value of a table (ZUL_OP_NAMED_NUMBER, _TEXT): a name
// given again replaces its value.
int32_t setNamedValue(Item& item, int32_t operation, const zul_attr* a, int32_t n) {
  std::string name;
  if (!textOf(find(a, n, ZUL_SA_NAME), name) || name.empty()) return ZUL_SINK_BAD_REQUEST;
  Value v;
  std::string text;
  if (operation == ZUL_OP_NAMED_TEXT) {
    if (!textOf(find(a, n, ZUL_SA_TEXT), text)) return ZUL_SINK_BAD_REQUEST;
    v = Value::of(std::move(text));
  } else if (!numberOf(find(a, n, ZUL_SA_DATA), v)) {
    return ZUL_SINK_BAD_REQUEST;
  }
  auto same = [&](const auto& e) { return e.first == name; };
  auto it = std::find_if(item.values.begin(), item.values.end(), same);
  if (it != item.values.end()) {
    it->second = std::move(v);
  } else {
    item.values.emplace_back(std::move(name), std::move(v));
  }
  return 0;
}

}  // namespace

// A column of a table (ZUL_OP_COLUMN), with the module's buffer it is
// read from when a row is emitted.
int32_t Report::addColumn(Table& table, const zul_attr* a, int32_t n) {
  Item& item = table.item;
  Column c;
  if (!textOf(find(a, n, ZUL_SA_NAME), c.name) || c.name.empty()) return ZUL_SINK_BAD_REQUEST;
  c.labelGiven = textOf(find(a, n, ZUL_SA_LABEL), c.label);
  // A label of blanks asks for an empty header.
  if (c.label.find_first_not_of(' ') == std::string::npos) c.label.clear();
  int64_t v = ZUL_COLUMN_NUMERIC;
  integerOf(find(a, n, ZUL_SA_COLUMN_TYPE), v);
  if (v != ZUL_COLUMN_NUMERIC && v != ZUL_COLUMN_CHARACTER) return ZUL_SINK_BAD_REQUEST;
  c.isCharacter = v == ZUL_COLUMN_CHARACTER;
  textOf(find(a, n, ZUL_SA_FORMAT), c.format);
  if (integerOf(find(a, n, ZUL_SA_FORMAT_WIDTH), v)) c.formatWidth = static_cast<int>(v);
  if (integerOf(find(a, n, ZUL_SA_WIDTH), v)) c.width = static_cast<int>(v);
  std::string role;
  if (textOf(find(a, n, ZUL_SA_COLUMN_ROLE), role)) c.role = roleFromName(role);
  Table::Binding b;
  if (const zul_attr* d = find(a, n, ZUL_SA_DATA)) {
    if (d->kind != ZUL_SK_DATA || !d->value.p) return ZUL_SINK_BAD_REQUEST;
    b.data = d->value.p;
    b.bytes = d->second.i;
    if (c.isCharacter) {
      if (b.bytes <= 0) b.bytes = c.width;
      if (b.bytes <= 0) return ZUL_SINK_BAD_REQUEST;
      if (c.width <= 0) c.width = static_cast<int>(b.bytes);
    } else if (b.bytes != 0 && b.bytes < static_cast<int64_t>(sizeof(double))) {
      return ZUL_SINK_BAD_REQUEST;
    }
  }
  item.columns.push_back(std::move(c));
  table.bindings.push_back(b);
  return 0;
}

// A row of a table (ZUL_OP_EMIT_ROW): every bound buffer read now.
int32_t Report::emitRow(Table& table) {
  Item& item = table.item;
  if (item.columns.empty()) return ZUL_SINK_NOTHING_TO_DO;
  std::vector<Value> row;
  row.reserve(item.columns.size());
  for (size_t j = 0; j < item.columns.size(); ++j) {
    const Table::Binding& b = table.bindings[j];
    if (!b.data) {
      row.push_back(Value::missing());
    } else if (item.columns[j].isCharacter) {
      row.push_back(Value::of(
          trimmedCell(static_cast<const char*>(b.data), static_cast<size_t>(b.bytes))));
    } else {
      double x;
      std::memcpy(&x, b.data, sizeof x);
      row.push_back(numberValue(x));
    }
  }
  item.rows.push_back(std::move(row));
  return 0;
}

// A graph with its handle (ZUL_OP_GRAPH_CREATE with ZUL_SA_RESULT): open
// until ZUL_OP_GRAPH_END, it takes data tables, titles and dynamic values.
int32_t Report::createGraph(const zul_attr* a, int32_t n) {
  void** out = static_cast<void**>(outOf(find(a, n, ZUL_SA_RESULT), sizeof(void*)));
  auto graph = std::make_unique<Graph>();
  graph->item = newItem(Item::Kind::Graph);
  Item& item = graph->item;
  if (!out || !textOf(find(a, n, ZUL_SA_NAME), item.name) || item.name.empty())
    return ZUL_SINK_BAD_REQUEST;
  if (!textOf(find(a, n, ZUL_SA_TEMPLATE), item.templatePath) || item.templatePath.empty())
    item.templatePath = "Stat.Factor.Graphics." + item.name;
  textOf(find(a, n, ZUL_SA_LABEL), item.label);
  Graph* handle = graph.get();
  objects_[handle] = std::move(graph);
  openGraphs_.push_back(handle);
  *out = handle;
  return 0;
}

int32_t Report::onGraph(Graph& graph, int32_t operation, const zul_attr* a, int32_t n) {
  switch (operation) {
    case ZUL_OP_NAMED_NUMBER:
    case ZUL_OP_NAMED_TEXT:
    case ZUL_OP_GRAPH_VALUE:
      if (graph.frame) return operation == ZUL_OP_GRAPH_VALUE ? 0 : ZUL_SINK_UNKNOWN_OPERATION;
      return operation == ZUL_OP_GRAPH_VALUE ? 0 : setNamedValue(graph.item, operation, a, n);
    case ZUL_OP_TEXT: {
      std::string role, text;
      if (graph.frame) return ZUL_SINK_UNKNOWN_OPERATION;
      if (!textOf(find(a, n, ZUL_SA_TEXT_ROLE), role) || !textOf(find(a, n, ZUL_SA_TEXT), text))
        return ZUL_SINK_BAD_REQUEST;
      if (equalNoCase(role, "Title")) {
        graph.item.titles.push_back({{}, text});
      } else {
        graph.item.footnotes.push_back(text);
      }
      return 0;
    }
    case ZUL_OP_GRAPH_END:
      if (!graph.frame) publishGraph(graph);
      return 0;
    case ZUL_OP_GRAPH_BEGIN:
    case ZUL_OP_GRAPH_CREATE:
      return graph.frame ? 0 : ZUL_SINK_UNKNOWN_OPERATION;
    default:
      return ZUL_SINK_UNKNOWN_OPERATION;
  }
}

int32_t Report::onTable(Table& table, int32_t operation, const zul_attr* a, int32_t n) {
  Item& item = table.item;
  switch (operation) {
    case ZUL_OP_OPEN_BODY:
    case ZUL_OP_CLOSE_BODY:
    case ZUL_OP_FINISH:
      return 0;
    case ZUL_OP_COLUMN:
      return addColumn(table, a, n);
    case ZUL_OP_TEXT: {
      std::string role, text, name;
      if (!textOf(find(a, n, ZUL_SA_TEXT_ROLE), role) || !textOf(find(a, n, ZUL_SA_TEXT), text)) {
        return ZUL_SINK_BAD_REQUEST;
      }
      textOf(find(a, n, ZUL_SA_NAME), name);
      if (equalNoCase(role, "Title")) {
        item.titles.push_back({name, text});
      } else if (equalNoCase(role, "Line") && item.preformatted) {
        item.lines.push_back(text);
      } else if (equalNoCase(role, "Footnote")) {
        item.footnotes.push_back(text);
      } else {
        return ZUL_SINK_BAD_REQUEST;
      }
      return 0;
    }
    case ZUL_OP_NOTE: {
      Note note;
      textOf(find(a, n, ZUL_SA_NAME), note.name);
      if (!textOf(find(a, n, ZUL_SA_TEXT), note.text)) return ZUL_SINK_BAD_REQUEST;
      item.notes.push_back(std::move(note));
      return 0;
    }
    case ZUL_OP_NAMED_NUMBER:
    case ZUL_OP_NAMED_TEXT:
      return setNamedValue(item, operation, a, n);
    case ZUL_OP_EMIT_ROW:
      return emitRow(table);
    case ZUL_OP_PUBLISH: {
      bool empty = item.columns.empty() && item.titles.empty() && item.notes.empty() &&
                   item.footnotes.empty() && item.lines.empty();
      if (empty) {
        openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), &table),
                          openTables_.end());
        objects_.erase(&table);
        return ZUL_SINK_NOTHING_TO_DO;
      }
      publishTable(table);
      return 0;
    }
    case ZUL_OP_GRAPH_VALUE:
      return 0;
    default:
      return ZUL_SINK_UNKNOWN_OPERATION;
  }
}

void Report::writeJson(std::ostream& out) const {
  if (options_.jsonTables)
    writeJsonFile(model_, *options_.jsonTables, out);
  else
    output::writeJson(model_, out);
}

void Report::writeHtml(std::ostream& out, const std::string& title) const {
  if (html_)
    html_->write(model_, out, title);
  else
    output::writeHtml(model_, out, title);
}

std::string sinkStatusText(int32_t status) {
  switch (status) {
    case ZUL_SINK_UNKNOWN_OPERATION:
      return "The procedure asked the output-table sink for an operation it does not know "
             "(status 0x80008001); its printed output is incomplete.";
    case ZUL_SINK_BAD_OBJECT:
      return "The procedure used an output table that is not open (status 0x80008002); "
             "its printed output is incomplete.";
    case ZUL_SINK_BAD_REQUEST:
      return "The procedure described an output table incompletely (status 0x80008003); "
             "its printed output is incomplete.";
    default:
      return {};
  }
}

// ---------------------------------------------------------------------
// Service 400/1

namespace {
Report* currentReport = nullptr;
}

void setCurrentReport(Report* report) { currentReport = report; }

int32_t serviceDispatch(void* object, int32_t operation, int32_t nAttributes,
                        zul_attr* attributes) {
  if (!currentReport) return ZUL_SINK_BAD_OBJECT;
  return currentReport->dispatch(object, operation, nAttributes, attributes);
}

}  // namespace zul::output
