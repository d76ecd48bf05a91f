// The module's one way to print: builds output tables, notes and section
// headings through the host's output-table sink (zul/abi_output.h).
//
// A TableWriter wraps the step's sink handle (ProcState::sink). With a null
// sink (NOPRINT) every call does nothing, so callers need not test whether
// printing is on. Every dispatch status is checked: a negative status is
// reported through the host's status service and ends the step with 120,
// unless it is the tolerated status (checkSinkStatus).
//
// A table in a few lines:
//
//   TableWriter out(ps.sink);
//   out.beginTable("Eigenvalues");                  // "Stat.Factor.Eigenvalues"
//   out.title(titleText, "titeval");
//   int cNumber = out.column({"Number", "", false, 0, "8.0"});
//   int cValue  = out.column(Column::number("Eigenvalue", "rf"));
//   for (int i = 0; i < p; ++i) {
//     out.set(cNumber, i + 1);
//     out.set(cValue, eigenvalues[i]);
//     out.emitRow();
//   }
//   out.endTable();                                  // published: printed now
//
// or, for short rows, out.row({i + 1, eigenvalues[i]}) with one value per
// column in declaration order (numbers or texts).
//
// Sections: openSection("InitialSolution", Text::message(msg::kInitialSolutionLabel),
// headingText) closes an open table first and makes the section current
// until closeSection() or closeAll() (end of a BY group, clean-up).
//
// One TableWriter may build many tables one after the other; a second
// TableWriter on the same sink builds another table at the same time (the
// iteration history beside the Eigenvalues). The destructor publishes a
// table that is still open.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "zulfact/state/message_ids.hpp"
#include "zul/abi.h"

namespace zulfact {

// True when a negative sink status may be ignored: bits 11 to 21 hold 63
// and bits 0 to 10 hold 53.
bool sinkStatusTolerated(int status);

// A negative status goes to the host's status report; then, unless it is
// tolerated, the step ends with completion code 120 (does not return).
// Returns the status otherwise.
int checkSinkStatus(int status);

// Creates the step's sink (operation 147, kind "manager") and reads whether
// the host draws graphs. Returns null (and graphicsEnabled false) when the
// host has no sink; a negative status is handled by checkSinkStatus.
void* createSink(bool& graphicsEnabled);

// A text handed to the sink: characters, or a numbered message that the
// host turns into a host string (329/16).
class Text {
 public:
  Text() = default;
  Text(std::string_view text) : text_(text) {}
  Text(const char* text) : text_(text ? text : "") {}
  Text(const std::string& text) : text_(text) {}
  static Text message(int group, int number) {
    Text t;
    t.group_ = group;
    t.number_ = number;
    return t;
  }
  static Text message(msg::Id id) { return message(id.group, id.number); }
  bool isMessage() const { return number_ != 0; }
  bool empty() const { return !isMessage() && text_.empty(); }
  const std::string& text() const { return text_; }
  int group() const { return group_; }
  int number() const { return number_; }

 private:
  std::string text_;
  int group_ = 0;
  int number_ = 0;
};

// Column roles of the matrix printer's displays.
enum class ColumnRole { None, RoundFuzzVal, Flag, OriginalVal, HeaderText, NewFormat };

// One column. The header is the label, or the name when there is none;
// a label of blanks (Text(" ")) gives an empty header, and so does a
// HeaderText column without a label. Numeric columns take a format: "12.5" (width 12, 5
// decimals), "6.0", "8.0", "BEST12.", "PVALUE6.4", or "rf" (width
// formatWidth, default 10, decimals chosen by the host from one tenth of
// the column's largest absolute value). Character columns take a width in
// bytes (longer texts are cut; 0 means 256).
struct Column {
  std::string name;
  Text label;              // header text; empty: the host shows the name
  bool isCharacter = false;
  int width = 0;           // character columns
  std::string format;      // numeric columns
  ColumnRole role = ColumnRole::None;
  int formatWidth = 0;     // with "rf"; 0 means 10

  static Column number(std::string name, std::string format = "rf", Text label = {},
                       ColumnRole role = ColumnRole::None) {
    Column c;
    c.name = std::move(name);
    c.format = std::move(format);
    c.label = std::move(label);
    c.role = role;
    return c;
  }
  static Column text(std::string name, int width, Text label = {},
                     ColumnRole role = ColumnRole::None) {
    Column c;
    c.name = std::move(name);
    c.isCharacter = true;
    c.width = width;
    c.label = std::move(label);
    c.role = role;
    return c;
  }
};

// One cell of row(): a number (the missing double for an empty cell) or a
// text (not owned: it must live until row() returns).
struct Cell {
  Cell(double v) : number(v) {}
  Cell(int v) : number(v) {}
  Cell(int64_t v) : number(static_cast<double>(v)) {}
  Cell(std::string_view v) : isText(true), text(v) {}
  Cell(const char* v) : isText(true), text(v ? v : "") {}
  Cell(const std::string& v) : isText(true), text(v) {}
  bool isText = false;
  double number = 0;
  std::string_view text;
};

class TableWriter {
 public:
  explicit TableWriter(void* sink);
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  bool enabled() const { return sink_ != nullptr; }
  void* sink() const { return sink_; }

  // ---- sections ----
  // Closes an open table, then opens a section with its name, label and
  // the heading text printed above its tables.
  void openSection(std::string_view name, const Text& label, const Text& heading);
  void closeSection();  // the innermost section
  void closeAll();      // publishes open tables, closes every section

  // ---- notes outside tables ----
  void note(std::string_view name, const Text& text);  // e.g. "EigenNote"

  // ---- tables ----
  // Publishes an open table first. templatePath empty: "Stat.Factor." + name.
  void beginTable(std::string_view name, std::string_view templatePath = {},
                  bool matrix = false, const Text& label = {});
  // A block of preformatted lines for the listing only (a character
  // plot): title() as for a table, then line() for each line; endTable()
  // publishes it.
  void beginTextBlock(std::string_view name, const Text& label = {});
  void line(std::string_view text);
  bool tableOpen() const { return table_ != nullptr; }
  int column(const Column& column);  // index from 0, in declaration order
  void title(const Text& text, std::string_view item = {});
  void footnote(const Text& text);
  void tableNote(std::string_view name, const Text& text);
  void value(std::string_view name, double number);            // "_OverallMSA"
  void value(std::string_view name, std::string_view text);

  // Cells of the prepared row; a cell keeps its value until set again.
  void set(int column, double number);
  template <typename T>
    requires std::is_integral_v<T>
  void set(int column, T number) {
    set(column, static_cast<double>(number));
  }
  void set(int column, std::string_view text);
  void setMissing(int column);
  void emitRow();
  // Sets the first cells in column order and emits the row.
  void row(std::initializer_list<Cell> cells);

  void endTable();  // closes the body, finishes and publishes

 private:
  int dispatch(void* object, int operation, std::vector<zul_attr>& attributes);
  void openBody();

  void* sink_;
  void* table_ = nullptr;
  bool bodyOpen_ = false;
  struct Slot {
    bool isCharacter = false;
    double number = 0;
    std::vector<char> text;  // fixed size: its data pointer is bound
  };
  std::deque<Slot> slots_;  // deque: bound addresses never move
};

}  // namespace zulfact
