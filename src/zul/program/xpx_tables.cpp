#include "zul/program/xpx_tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "sqlgen/put_format.hpp"

namespace zul::program {

namespace {

using table::Column;
using table::InputTable;
using table::TableError;

constexpr int kDnameWidth = 42;
constexpr size_t kLeading = sqlgen::kXpxCountColumns + 2;  // counts, _KEY_, _DNAME_

Column numeric(const std::string& name) { return Column{name, "", table::ColumnType::Numeric, 8}; }

// text in width bytes, blank padded; cut, a UTF-8 character that does not
// fit is left out whole (a _DNAME_ of a table edited by hand may be longer).
std::string padded(const std::string& text, int width) {
  std::string out = sqlgen::putText(text, sqlgen::PutFormat{true, width, 0});
  out.resize(static_cast<size_t>(width), ' ');
  return out;
}

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Where the parts of a crossproduct table stand (columns from 0).
struct XpxLayout {
  int nBy = 0, n = 0;
  std::vector<Column> by;
  std::vector<std::string> variables;
};

XpxLayout layoutOf(const InputTable& t) {
  if (!isXpxTable(t))
    throw TableError(t.displayName() +
                     " is no crossproduct table: its first columns are not _NREAD_ ... _DNAME_.");
  const int q11 = t.varNumber("_Q1_1_") - 1, shift1 = t.varNumber("_SHIFT1_") - 1;
  const int qCols = shift1 - q11;
  int n = 1;
  while (n * (n + 1) / 2 < qCols) ++n;
  XpxLayout L;
  L.n = n;
  L.nBy = q11 - static_cast<int>(kLeading) - n;
  if (q11 < 0 || qCols < 1 || n * (n + 1) / 2 != qCols || shift1 + n != t.varCount() || L.nBy < 0)
    throw TableError(
        t.displayName() +
        " is no crossproduct table: its sums, crossproducts and shift do not fit together.");
  // The crossproducts and the shift are read by position: a column moved
  // or renamed by hand would be read as another's.
  const std::vector<std::string> names =
      sqlgen::xpxColumnNames({}, std::vector<std::string>(static_cast<size_t>(n)));
  for (size_t k = kLeading + static_cast<size_t>(n); k < names.size(); ++k)
    if (t.varNumber(names[k]) - 1 != q11 + static_cast<int>(k - kLeading) - n)
      throw TableError(t.displayName() + ": its column " + names[k] +
                       " is not in its place: the columns _Q1_1_ ... _SHIFT" + std::to_string(n) +
                       "_ must follow one another in the order CROSSPRODUCTS writes them.");
  const auto& cols = t.columns();
  // Read as text, a count, sum or crossproduct would be lost or misread.
  for (size_t c = 0; c < cols.size(); ++c)
    if (cols[c].isCharacter() && c != kLeading - 1 && (c < kLeading || c >= kLeading + static_cast<size_t>(L.nBy)))
      throw TableError(t.displayName() + " is no crossproduct table: its column " + cols[c].name +
                       " is not numeric.");
  for (int k = 0; k < L.nBy; ++k) L.by.push_back(cols[kLeading + static_cast<size_t>(k)]);
  for (int i = 0; i < n; ++i)
    L.variables.push_back(cols[kLeading + static_cast<size_t>(L.nBy + i)].name);
  return L;
}

// Where each of a's variables stands among b's, when both tables summarise
// the same variables (in any order) by the same BY variables; empty when
// they do not.
std::vector<size_t> variableOrder(const XpxLayout& a, const XpxLayout& b) {
  if (a.n != b.n || a.nBy != b.nBy) return {};
  for (int k = 0; k < a.nBy; ++k) {
    const Column &x = a.by[static_cast<size_t>(k)], &y = b.by[static_cast<size_t>(k)];
    if (!table::sameName(x.name, y.name) || x.isCharacter() != y.isCharacter()) return {};
  }
  std::vector<size_t> at;
  for (const std::string& v : a.variables) {
    size_t j = 0;
    while (j < b.variables.size() && !table::sameName(v, b.variables[j])) ++j;
    if (j == b.variables.size()) return {};
    at.push_back(j);
  }
  return at;
}

// A group's sums in another order of its variables: variable i of the
// result is variable at[i] of g.
void reorder(sqlgen::XpxGroup& g, const std::vector<size_t>& at) {
  sqlgen::XpxGroup r = g;
  r.sums.clear(), r.shift.clear(), r.packed.clear();
  for (size_t i = 0; i < at.size(); ++i) {
    r.sums.push_back(g.sums[at[i]]);
    r.shift.push_back(g.shift[at[i]]);
    for (size_t j = 0; j <= i; ++j) {
      const size_t hi = std::max(at[i], at[j]), lo = std::min(at[i], at[j]);
      r.packed.push_back(g.packed[hi * (hi + 1) / 2 + lo]);
    }
  }
  g = std::move(r);
}

// A BY value as groups compare it: a column with a display format by its
// formatted value (a number rounded as the format writes it, a text cut to
// its width), so that the parts' groups of one formatted value are one.
XpxByValue comparedValue(const Column& c, const XpxByValue& v) {
  const auto f = sqlgen::parsePutFormat(c.format);
  if (!f || f->character != c.isCharacter()) return v;
  XpxByValue out = v;
  if (c.isCharacter()) {
    out.text = sqlgen::putText(v.text, *f);
  } else if (!table::isMissing(v.number)) {
    const auto shown = sqlgen::putNumber(v.number, *f);
    out.number = shown ? std::strtod(shown->c_str(), nullptr) : table::missingValue();
  }
  return out;
}

// One BY value against another in zul's order: missing first, numbers
// ascending, texts by their bytes without trailing blanks; formatted values
// as formatted. -1, 0 or 1.
int compareBy(const Column& c, const XpxByValue& x, const XpxByValue& y) {
  const XpxByValue a = comparedValue(c, x), b = comparedValue(c, y);
  if (c.isCharacter()) return a.text == b.text ? 0 : a.text < b.text ? -1 : 1;
  const bool ma = table::isMissing(a.number), mb = table::isMissing(b.number);
  if (ma != mb) return ma ? -1 : 1;
  if (ma || a.number == b.number) return 0;
  return a.number < b.number ? -1 : 1;
}

// BY values in zul's order, each variable ascending unless `descending`
// says otherwise (a BY DESCENDING variable: the reverse order).
struct ByLess {
  const std::vector<Column>* by;
  std::vector<bool> descending = {};
  bool operator()(const std::vector<XpxByValue>& x, const std::vector<XpxByValue>& y) const {
    for (size_t k = 0; k < x.size(); ++k) {
      const int c = compareBy((*by)[k], x[k], y[k]);
      if (c != 0) return k < descending.size() && descending[k] ? c > 0 : c < 0;
    }
    return false;
  }
};

// The order a table's rows show for each BY variable: +1 ascending, -1
// descending (BY DESCENDING), 0 when no two neighbouring rows of equal
// earlier BY values differ in it.
struct ByOrder {
  std::vector<int> direction;
  std::vector<XpxByValue> previous;
  void see(const std::vector<Column>& by, const std::vector<XpxByValue>& values) {
    direction.resize(by.size());
    for (size_t k = 0; k < by.size() && !previous.empty(); ++k)
      if (const int c = compareBy(by[k], previous[k], values[k]); c != 0) {
        if (!direction[k]) direction[k] = -c;
        break;
      }
    previous = values;
  }
};

// A group's BY values: of a formatted group present in both parts, the
// smaller raw value, the value of its first row in BY order (as the
// crossproducts computed inside a database give it).
void keepSmaller(std::vector<XpxByValue>& kept, const std::vector<XpxByValue>& other) {
  for (size_t k = 0; k < kept.size(); ++k) {
    if (other[k].text < kept[k].text) kept[k].text = other[k].text;
    if (other[k].number < kept[k].number) kept[k].number = other[k].number;
  }
}

struct XpxRow {
  sqlgen::XpxGroup g;
  std::string dname;
  std::vector<XpxByValue> by;  // as written
};
using Groups = std::map<std::vector<XpxByValue>, XpxRow, ByLess>;

// Reads every row of t into groups, combining rows of equal BY values;
// its variables taken in the order `at` (none: the table's).
void readGroups(InputTable& t, const XpxLayout& L, Groups& groups, ByOrder& order,
                const std::vector<size_t>& at = {}) {
  const auto& cols = t.columns();
  table::ReadList list(t, t.varCount());
  std::vector<int> target(cols.size());  // numeric index, or text offset
  int nNumeric = 0, textBytes = 0;
  for (size_t c = 0; c < cols.size(); ++c) {
    const bool text = c == kLeading - 1 || cols[c].isCharacter();
    // _DNAME_ read whole, to be cut where a character ends when written.
    const int width = c == kLeading - 1 ? std::max(kDnameWidth, cols[c].width) : cols[c].width;
    list.bind(static_cast<int>(c), static_cast<int>(c) + 1, text, width);
    target[c] = text ? textBytes : nNumeric;
    (text ? textBytes : nNumeric) += text ? width : 1;
  }
  std::vector<double> v(static_cast<size_t>(nNumeric));
  std::string text(static_cast<size_t>(textBytes), ' ');
  if (t.nextByGroup() != 1) return;
  while (list.read(v.data(), text.data())) {
    auto num = [&](size_t c) { return v[static_cast<size_t>(target[c])]; };
    auto str = [&](size_t c, int width) {
      return trimmed(text.substr(static_cast<size_t>(target[c]), static_cast<size_t>(width)));
    };
    XpxRow row;
    sqlgen::XpxGroup& g = row.g;
    double* counts[] = {&g.nRead,    &g.nUsed,       &g.nMissing,   &g.freqRead,
                        &g.freqUsed, &g.weightsRead, &g.weightsUsed};
    for (size_t c = 0; c < std::size(counts); ++c) {
      // FACTOR refuses such a table too: a count taken as 0 would not fit the sums.
      if (!std::isfinite(num(c)))
        throw TableError(t.displayName() + " holds a missing value in its column " + cols[c].name + ".");
      *counts[c] = num(c);
    }
    // Only a table of BY groups numbers them (_KEY_ from 1): a sum column
    // missing from a table of one numeric BY variable would take the BY
    // column for a sum.
    if ((num(8) > 0) != (L.nBy > 0))
      throw TableError(t.displayName() +
                       ": its _KEY_ does not fit its columns: a column is missing or one too many.");
    if (num(7) != L.n)
      throw TableError(t.displayName() + ": its _NVAR_ does not count the " + std::to_string(L.n) +
                       " variables of its crossproducts.");
    row.dname = str(kLeading - 1, std::max(kDnameWidth, cols[kLeading - 1].width));
    std::vector<XpxByValue> by(static_cast<size_t>(L.nBy));
    for (size_t k = 0; k < by.size(); ++k) {
      const size_t c = kLeading + k;
      if (cols[c].isCharacter())
        by[k].text = str(c, cols[c].width);
      else
        by[k].number = num(c);
    }
    const size_t first = kLeading + static_cast<size_t>(L.nBy), n = static_cast<size_t>(L.n);
    for (size_t i = 0; i < n; ++i) g.sums.push_back(num(first + i));
    for (size_t p = 0; p < n * (n + 1) / 2; ++p) g.packed.push_back(num(first + n + p));
    for (size_t i = 0; i < n; ++i) g.shift.push_back(num(first + n + n * (n + 1) / 2 + i));
    for (const auto* part : {&g.sums, &g.packed, &g.shift})
      for (double x : *part)
        if (!std::isfinite(x))
          throw TableError(t.displayName() +
                           " holds a missing value among its sums, crossproducts or shifts.");
    std::vector<std::string> names;
    for (size_t i = 0; i < n; ++i) names.push_back(cols[first + i].name);
    if (const std::string fault = sqlgen::xpxGroupFault(g, names); !fault.empty()) {
      const int64_t line = t.recordLine();
      throw TableError(t.displayName() + (line > 0 ? ", line " + std::to_string(line) : "") + ": " +
                       fault + ".");
    }
    if (!at.empty()) reorder(g, at);
    order.see(L.by, by);
    row.by = by;
    auto [it, fresh] = groups.emplace(std::move(by), row);
    if (fresh) continue;
    sqlgen::combineParts(it->second.g, std::move(row.g));
    keepSmaller(it->second.by, row.by);
  }
}

// The groups in the BY order of the parts: a variable descending where
// DATA='s rows (or, when they do not show it, ADD='s) are, so that a table
// of BY DESCENDING parts stays one that BY DESCENDING reads.
std::vector<const XpxRow*> inPartsOrder(const Groups& groups, const std::vector<Column>& by,
                                        const ByOrder& a, const ByOrder& b) {
  ByLess less{&by, std::vector<bool>(by.size())};
  for (size_t k = 0; k < by.size(); ++k) {
    const int da = k < a.direction.size() ? a.direction[k] : 0;
    const int db = k < b.direction.size() ? b.direction[k] : 0;
    less.descending[k] = (da ? da : db) < 0;
  }
  std::vector<std::pair<const std::vector<XpxByValue>*, const XpxRow*>> rows;
  for (const auto& [values, row] : groups) rows.emplace_back(&values, &row);
  std::sort(rows.begin(), rows.end(),
            [&](const auto& x, const auto& y) { return less(*x.first, *y.first); });
  std::vector<const XpxRow*> out;
  for (const auto& r : rows) out.push_back(r.second);
  return out;
}

}  // namespace

bool isXpxTable(const InputTable& t) {
  const std::vector<std::string> names = sqlgen::xpxColumnNames({}, {});
  if (t.varCount() < static_cast<int>(kLeading)) return false;
  for (size_t c = 0; c < kLeading; ++c)
    if (!table::sameName(t.columns()[c].name, names[c])) return false;
  return true;
}

void declareXpxColumns(table::OutputTable& out, const std::vector<std::string>& variables,
                       const std::function<void()>& byColumns) {
  const std::vector<std::string> names = sqlgen::xpxColumnNames({}, variables);
  for (size_t c = 0; c < names.size(); ++c) {
    if (c == kLeading - 1) {
      out.declareColumn(Column{names[c], "", table::ColumnType::Character, kDnameWidth});
      byColumns();
    } else {
      out.declareColumn(numeric(names[c]));
    }
  }
  out.columnsDone();
}

void writeXpxGroup(table::OutputTable& out, const sqlgen::XpxGroup& g, int key,
                   const std::string& dname, const std::vector<XpxByValue>& by) {
  const std::vector<double> numbers = sqlgen::xpxNumbers(g, key);
  std::vector<double> values(numbers.begin(), numbers.begin() + static_cast<long>(kLeading) - 1);
  std::vector<std::string> texts(kLeading + by.size());
  texts[kLeading - 1] = padded(dname, kDnameWidth);
  values.push_back(0.0);
  const auto& cols = out.columns();
  for (size_t k = 0; k < by.size(); ++k) {
    values.push_back(by[k].number);
    // Declared BY columns follow _DNAME_ in the output's columns.
    texts[kLeading + k] = padded(by[k].text, cols[kLeading + k].width);
  }
  values.insert(values.end(), numbers.begin() + static_cast<long>(kLeading) - 1, numbers.end());
  std::vector<const char*> pointers;
  for (const std::string& t : texts) pointers.push_back(t.c_str());
  pointers.resize(values.size(), nullptr);
  out.appendRow(values.data(), pointers.data());
}

void combineXpxTables(InputTable& a, InputTable* b, table::OutputTable& out) {
  XpxLayout la = layoutOf(a);
  Groups groups(ByLess{&la.by});
  ByOrder orderA, orderB;
  readGroups(a, la, groups, orderA);
  if (b) {
    const XpxLayout lb = layoutOf(*b);
    const std::vector<size_t> at = variableOrder(la, lb);
    if (at.empty())
      throw TableError("The crossproduct tables " + a.displayName() + " and " + b->displayName() +
                       " do not summarise the same variables by the same BY variables.");
    readGroups(*b, lb, groups, orderB, at);
    // A text BY column is as wide as the longer of the two.
    for (size_t k = 0; k < la.by.size(); ++k)
      la.by[k].width = std::max(la.by[k].width, lb.by[k].width);
  }
  declareXpxColumns(out, la.variables, [&] {
    for (const Column& c : la.by) out.declareColumn(c);
  });
  int key = 0;
  for (const XpxRow* each : inPartsOrder(groups, la.by, orderA, orderB)) {
    const XpxRow& row = *each;
    // Parts added up may pass the largest double that neither reached.
    const int at = sqlgen::xpxOverflow(row.g);
    if (at == sqlgen::kXpxWeightsOverflow)
      throw TableError("The weights of the parts of " + a.displayName() +
                       " add up to more than the largest number (about 1.8e308), so their sum "
                       "cannot be stored.");
    if (at >= 0)
      throw TableError("The crossproducts of variable " + la.variables[static_cast<size_t>(at)] +
                       " in the parts of " + a.displayName() +
                       " add up to more than the largest number (about 1.8e308), so they cannot "
                       "be stored. Rescale the variable (divide it by a power of 10) in both.");
    writeXpxGroup(out, row.g, la.nBy > 0 ? ++key : 0, row.dname, row.by);
  }
}

}  // namespace zul::program
