// Module side of the output-table sink: turns TableWriter calls into the
// dispatch operations of zul/abi_output.h.
#include "zulfact/output/table_writer.hpp"

#include <algorithm>
#include <exception>

#include "zulfact/state/codes.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/output/sink_attributes.hpp"

namespace zulfact {

using sink_attr::chars;
using sink_attr::data;
using sink_attr::enumeration;
using sink_attr::integer;

namespace {

constexpr int kDefaultTextWidth = 256;
constexpr int kSectionHeadingLevel = 2;  // operation 439, attribute 442
constexpr int kHeadingOption = 2;        // operation 439, attribute 440
constexpr int kHeadingPosition = -1;     // operation 439, attribute 148
constexpr int kCloseSection = 1;
constexpr int kCloseAll = 4;

const char* roleName(ColumnRole role) {
  switch (role) {
    case ColumnRole::RoundFuzzVal: return "RoundFuzzVal";
    case ColumnRole::Flag: return "Flag";
    case ColumnRole::OriginalVal: return "OriginalVal";
    case ColumnRole::HeaderText: return "HeaderText";
    case ColumnRole::NewFormat: return "NewFormat";
    case ColumnRole::None: break;
  }
  return nullptr;
}

}  // namespace

bool sinkStatusTolerated(int status) {
  return zul_sink_status_tolerated(static_cast<int32_t>(status)) != 0;
}

int checkSinkStatus(int status) {
  if (status >= 0) return status;
  host().statusReport(status);
  if (!sinkStatusTolerated(status)) host().endStep(kCodeSinkStatus);
  return status;
}

void* createSink(bool& graphicsEnabled) {
  graphicsEnabled = false;
  void* sink = nullptr;
  int32_t graphics = 0;
  zul_attr attrs[3] = {chars(ZUL_SA_KIND, "manager"), data(ZUL_SA_RESULT, &sink, sizeof sink),
                       data(ZUL_SA_GRAPHICS, &graphics, sizeof graphics)};
  int status = host().sinkDispatch(nullptr, ZUL_OP_CREATE, 3, attrs);
  checkSinkStatus(status);
  if (status < 0) return nullptr;
  graphicsEnabled = sink != nullptr && graphics != 0;
  return sink;
}

TableWriter::TableWriter(void* sink) : sink_(sink) {}

TableWriter::~TableWriter() {
  // Publishing may end the step by an exception; a destructor must not
  // throw, so a table left open during unwinding is left to the sink's
  // own clean-up (435 with scope 4) instead, and an end of step raised
  // here is kept for the procedure entry to end the step with.
  if (table_ && std::uncaught_exceptions() == 0) {
    try {
      endTable();
    } catch (const EndOfStep& end) {
      host().deferEndStep(end);
    } catch (...) {
      // A fault of publishing: the table is left to the sink's clean-up.
    }
  }
}

int TableWriter::dispatch(void* object, int operation, std::vector<zul_attr>& attributes) {
  int status = host().sinkDispatch(object, operation, static_cast<int>(attributes.size()),
                                   attributes.empty() ? nullptr : attributes.data());
  return checkSinkStatus(status);
}

void TableWriter::openSection(std::string_view name, const Text& label, const Text& heading) {
  if (!sink_) return;
  if (table_) endTable();
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), sink_attr::text(ZUL_SA_LABEL, label)};
  dispatch(sink_, ZUL_OP_SECTION, a);
  a = {integer(ZUL_SA_HEADING_LEVEL, kSectionHeadingLevel)};
  dispatch(sink_, ZUL_OP_SECTION_SET, a);
  a = {integer(ZUL_SA_HEADING_OPTION, kHeadingOption), integer(ZUL_SA_OPTION, kHeadingPosition),
       sink_attr::text(ZUL_SA_HEADING_TEXT, heading)};
  dispatch(sink_, ZUL_OP_SECTION_SET, a);
  a.clear();
  dispatch(sink_, ZUL_OP_CLOSE, a);
}

void TableWriter::closeSection() {
  if (!sink_) return;
  if (table_) endTable();
  std::vector<zul_attr> a = {integer(ZUL_SA_CLOSE_HOW, kCloseSection)};
  dispatch(sink_, ZUL_OP_CLOSE, a);
}

void TableWriter::closeAll() {
  if (!sink_) return;
  if (table_) endTable();
  std::vector<zul_attr> a = {integer(ZUL_SA_CLOSE_HOW, kCloseAll)};
  dispatch(sink_, ZUL_OP_CLOSE, a);
}

void TableWriter::note(std::string_view name, const Text& text) {
  if (!sink_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), sink_attr::text(ZUL_SA_TEXT, text)};
  dispatch(sink_, ZUL_OP_NOTE, a);
}

void TableWriter::beginTable(std::string_view name, std::string_view templatePath, bool matrix,
                             const Text& label) {
  if (!sink_) return;
  if (table_) endTable();
  slots_.clear();
  void* table = nullptr;
  std::vector<zul_attr> a = {chars(ZUL_SA_KIND, matrix ? "matrix" : "data"),
                             chars(ZUL_SA_NAME, name),
                             data(ZUL_SA_RESULT, &table, sizeof table)};
  if (!templatePath.empty()) a.push_back(chars(ZUL_SA_TEMPLATE, templatePath));
  if (!label.empty()) a.push_back(sink_attr::text(ZUL_SA_LABEL, label));
  if (dispatch(sink_, ZUL_OP_CREATE, a) < 0 || !table) return;
  table_ = table;
  openBody();
}

void TableWriter::beginTextBlock(std::string_view name, const Text& label) {
  if (!sink_) return;
  if (table_) endTable();
  slots_.clear();
  void* block = nullptr;
  std::vector<zul_attr> a = {chars(ZUL_SA_KIND, "text"), chars(ZUL_SA_NAME, name),
                             data(ZUL_SA_RESULT, &block, sizeof block)};
  if (!label.empty()) a.push_back(sink_attr::text(ZUL_SA_LABEL, label));
  if (dispatch(sink_, ZUL_OP_CREATE, a) < 0 || !block) return;
  table_ = block;
  openBody();
}

void TableWriter::line(std::string_view text) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_TEXT_ROLE, "Line"), chars(ZUL_SA_TEXT, text)};
  dispatch(table_, ZUL_OP_TEXT, a);
}

void TableWriter::openBody() {
  std::vector<zul_attr> a;
  if (dispatch(table_, ZUL_OP_OPEN_BODY, a) >= 0) bodyOpen_ = true;
}

int TableWriter::column(const Column& c) {
  if (!table_) return static_cast<int>(slots_.size());
  Slot& slot = slots_.emplace_back();
  slot.isCharacter = c.isCharacter;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, c.name)};
  if (!c.label.empty()) a.push_back(sink_attr::text(ZUL_SA_LABEL, c.label));
  a.push_back(enumeration(ZUL_SA_COLUMN_TYPE,
                          c.isCharacter ? ZUL_COLUMN_CHARACTER : ZUL_COLUMN_NUMERIC));
  if (c.isCharacter) {
    int width = c.width > 0 ? c.width : kDefaultTextWidth;
    slot.text.assign(static_cast<size_t>(width), ' ');
    a.push_back(integer(ZUL_SA_WIDTH, width));
    a.push_back(data(ZUL_SA_DATA, slot.text.data(), width));
  } else {
    slot.number = zul_missing();
    if (!c.format.empty()) a.push_back(chars(ZUL_SA_FORMAT, c.format));
    if (c.formatWidth > 0) a.push_back(integer(ZUL_SA_FORMAT_WIDTH, c.formatWidth));
    a.push_back(data(ZUL_SA_DATA, &slot.number, sizeof slot.number));
  }
  if (const char* role = roleName(c.role)) a.push_back(chars(ZUL_SA_COLUMN_ROLE, role));
  dispatch(table_, ZUL_OP_COLUMN, a);
  return static_cast<int>(slots_.size()) - 1;
}

void TableWriter::title(const Text& text, std::string_view item) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_TEXT_ROLE, "Title"), sink_attr::text(ZUL_SA_TEXT, text)};
  if (!item.empty()) a.push_back(chars(ZUL_SA_NAME, item));
  dispatch(table_, ZUL_OP_TEXT, a);
}

void TableWriter::footnote(const Text& text) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_TEXT_ROLE, "Footnote"), sink_attr::text(ZUL_SA_TEXT, text)};
  dispatch(table_, ZUL_OP_TEXT, a);
}

void TableWriter::tableNote(std::string_view name, const Text& text) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), sink_attr::text(ZUL_SA_TEXT, text)};
  dispatch(table_, ZUL_OP_NOTE, a);
}

void TableWriter::value(std::string_view name, double number) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), data(ZUL_SA_DATA, &number, sizeof number)};
  dispatch(table_, ZUL_OP_NAMED_NUMBER, a);
}

void TableWriter::value(std::string_view name, std::string_view text) {
  if (!table_) return;
  std::vector<zul_attr> a = {chars(ZUL_SA_NAME, name), chars(ZUL_SA_TEXT, text)};
  dispatch(table_, ZUL_OP_NAMED_TEXT, a);
}

void TableWriter::set(int column, double number) {
  if (!table_ || column < 0 || column >= static_cast<int>(slots_.size())) return;
  Slot& slot = slots_[static_cast<size_t>(column)];
  if (slot.isCharacter) return;
  slot.number = number;
}

void TableWriter::set(int column, std::string_view text) {
  if (!table_ || column < 0 || column >= static_cast<int>(slots_.size())) return;
  Slot& slot = slots_[static_cast<size_t>(column)];
  if (!slot.isCharacter) return;
  size_t n = std::min(text.size(), slot.text.size());
  std::fill(slot.text.begin(), slot.text.end(), ' ');
  std::copy_n(text.data(), n, slot.text.begin());
}

void TableWriter::setMissing(int column) { set(column, zul_missing()); }

void TableWriter::emitRow() {
  if (!table_) return;
  std::vector<zul_attr> a;
  dispatch(table_, ZUL_OP_EMIT_ROW, a);
}

void TableWriter::row(std::initializer_list<Cell> cells) {
  if (!table_) return;
  int i = 0;
  for (const Cell& c : cells) {
    if (c.isText) {
      set(i, c.text);
    } else {
      set(i, c.number);
    }
    ++i;
  }
  emitRow();
}

void TableWriter::endTable() {
  if (!table_) return;
  void* table = table_;
  table_ = nullptr;  // released by publishing, whatever its status
  std::vector<zul_attr> a;
  if (bodyOpen_) {
    bodyOpen_ = false;
    dispatch(table, ZUL_OP_CLOSE_BODY, a);
  }
  dispatch(table, ZUL_OP_FINISH, a);
  dispatch(table, ZUL_OP_PUBLISH, a);
  slots_.clear();
}

}  // namespace zulfact
