#include "zulfact/output/vector_table.hpp"

#include <algorithm>
#include <cstring>

#include "zulfact/output/table_writer.hpp"
#include "zulfact/state/message_ids.hpp"

namespace zulfact {

std::string variableName(const ProcState& ps, int i) {
  if (ps.opt.varNames == nullptr || i < 0 || i >= ps.opt.nAll) return {};
  return std::string(ps.opt.varNames + static_cast<size_t>(i) * 33);
}

std::string factorName(const ProcState& ps, int k) {
  if (ps.factorNames == nullptr || ps.factorNameWidth <= 0 || k < 0) return {};
  const char* p = ps.factorNames + static_cast<size_t>(k) * ps.factorNameWidth;
  size_t n = strnlen(p, static_cast<size_t>(ps.factorNameWidth));
  while (n > 0 && p[n - 1] == ' ') --n;
  return std::string(p, n);
}

std::string titleLine(int group, int number, Args args, bool dropWhenLong) {
  std::string text = host().formatMessage(group, number, args);
  if (text.size() >= 120) {
    host().message(msg::kTitleShortened, {120});
    if (dropWhenLong) return {};
    text.resize(120);
  }
  return text;
}

void printVectorTable(ProcState& ps, const VectorTable& table) {
  if (ps.sink == nullptr) return;
  std::vector<std::string> labels;
  if (table.labelKind == 'T') {
    labels = table.rowLabels;
    labels.resize(static_cast<size_t>(std::max(0, table.nRows)));
  } else {
    for (int i = 0; i < table.nRows; ++i)
      labels.push_back(table.labelKind == 'F' ? factorName(ps, i) : variableName(ps, i));
  }
  size_t width = 1;
  for (const std::string& l : labels) width = std::max(width, l.size());
  std::string head = table.labelColumn;
  if (head.empty()) head = table.labelKind == 'F' ? "Factor" : "Variable";

  TableWriter out(ps.sink);
  out.beginTable(table.name);
  if (!table.title.empty()) out.title(Text(table.title));
  out.column(Column::text(head, static_cast<int>(width), Text(" ")));
  for (const VectorColumn& c : table.columns) {
    Column col = Column::number(c.name, "rf", c.label.empty() ? Text() : Text(c.label));
    col.formatWidth = 10;
    out.column(col);
  }
  for (int i = 0; i < table.nRows; ++i) {
    out.set(0, labels[static_cast<size_t>(i)]);
    int k = 1;
    for (const VectorColumn& c : table.columns) out.set(k++, c.values[i]);
    out.emitRow();
  }
  for (const NamedValue& v : table.extras) out.value(v.name, v.value);
  out.endTable();
}

void printTextTable(ProcState& ps, std::string_view name, std::string_view text) {
  if (ps.sink == nullptr || text.empty()) return;
  TableWriter out(ps.sink);
  out.beginTable(name);
  out.title(Text(text));
  out.endTable();
}

}  // namespace zulfact
