// The plain model of a run's printed output: what the output-table sink
// (report.hpp) decodes from the module's dispatch calls and what the three
// renderers (listing, JSON, HTML) read. Nothing here knows the ABI.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zul::output {

// One cell: missing (prints empty, JSON null), a number or a text.
struct Value {
  enum class Kind { Missing, Number, Text };
  Kind kind = Kind::Missing;
  double number = 0;
  std::string text;

  static Value missing() { return {}; }
  static Value of(double x) { return {Kind::Number, x, {}}; }
  static Value of(std::string s) { return {Kind::Text, 0, std::move(s)}; }
  bool isMissing() const { return kind == Kind::Missing; }
  bool isNumber() const { return kind == Kind::Number; }
  bool isText() const { return kind == Kind::Text; }
};

// Roles that the matrix printer gives its display columns.
enum class Role { None, RoundFuzzVal, Flag, OriginalVal, HeaderText, NewFormat };
const char* roleName(Role role);     // "" for None
Role roleFromName(std::string_view name);  // None for an unknown name

struct Column {
  std::string name;
  std::string label;        // header text; empty: see display.hpp
  bool labelGiven = false;  // an empty label given on purpose hides the header
  bool isCharacter = false;
  std::string format;       // as the module gave it: "12.5", "rf", "" ...
  int formatWidth = 0;      // 0: the format's own
  int width = 0;            // characters of a character column
  Role role = Role::None;
};

struct Title {
  std::string item;  // heading item it fills ("titeval"), may be empty
  std::string text;
};

struct Note {
  std::string name;  // "EigenNote"
  std::string text;
};

// One BY variable of the current group: its name, the text shown and, for
// a numeric variable, its value. A missing value (numeric or character)
// shows as "." and is null in the JSON file.
struct ByValue {
  std::string name;
  std::string text;
  std::optional<double> number;
  bool missing = false;
};

// A section heading ("InitialSolution"). Sections nest; parent is an index
// into Model::sections, -1 at the top.
struct Section {
  std::string name;
  std::string label;
  std::string heading;
  int parent = -1;
};

// One published item, in the order the module published it. A graph
// (Kind::Graph) carries its dynamic values in `values` and the tables it
// is drawn from in `data`; those tables are not items of their own, so
// the listing never prints them.
struct Item {
  enum class Kind { Table, Note, Space, Graph };
  Kind kind = Kind::Table;
  int step = 0;
  int byGroup = 0;               // counts the groups of the step from 0
  std::vector<ByValue> by;
  int section = -1;              // index into Model::sections, -1 none
  std::string name;
  std::string templatePath;
  std::string label;
  std::vector<Title> titles;
  std::vector<std::string> footnotes;
  std::vector<Note> notes;
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;
  std::vector<std::pair<std::string, Value>> values;  // named extra values
  std::vector<Item> data;  // a graph's data tables, in publishing order

  // The graph's data table of that name, null when absent.
  const Item* dataTable(std::string_view tableName) const {
    for (const Item& t : data)
      if (t.name == tableName) return &t;
    return nullptr;
  }
  // A dynamic value of a graph or a named value of a table, null when absent.
  const Value* value(std::string_view valueName) const {
    for (const auto& [n, v] : values)
      if (n == valueName) return &v;
    return nullptr;
  }

  // A block of preformatted lines (a character plot): printed in the
  // listing as they stand and never kept in the model, so the JSON file
  // and the HTML report, which have the graphs, do not see it.
  bool preformatted = false;
  std::vector<std::string> lines;
};

struct Step {
  std::string program;
  int line = 0;
  int completionCode = 0;
  bool ended = false;
};

struct Model {
  std::vector<Step> steps;
  std::vector<Section> sections;
  std::vector<Item> items;

  // "RotatedSolution" or "RotatedSolution/ScreeAndVarExp"; "" for none.
  std::string sectionPath(int section) const;
};

}  // namespace zul::output
