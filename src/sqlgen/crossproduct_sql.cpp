#include "sqlgen/crossproduct_sql.hpp"

#include <cmath>

#include "sqlgen/column_types.hpp"
#include "sqlgen/put_format.hpp"

namespace sqlgen {

namespace {

std::string alias(const char* prefix, size_t i) {
  return "\"_" + std::string(prefix) + std::to_string(i) + "_\"";
}

std::string joinList(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out;
}

bool formatted(const CrossRequest& r, size_t k) { return k < r.byFormats.size() && !r.byFormats[k].empty(); }
bool character(const CrossRequest& r, size_t k) { return k < r.byCharacter.size() && r.byCharacter[k]; }

int byType(const CrossRequest& r, size_t k) { return k < r.byTypes.size() ? r.byTypes[k] : kTypeNumeric; }

// Numeric BY column k as the number zul reads from it.
std::string byNumber(const CrossRequest& r, size_t k) {
  return groupNumber(r.dialect, quoteIdentifier(r.by[k]), byType(r, k));
}

// Text as zul compares BY values: a null is blank, the one missing value.
std::string blankIfNull(const std::string& text) { return "coalesce(" + text + ", '')"; }

// BY column k's value as its groups compare it: a date or time as its
// number, text without trailing blanks, a null as blank, in byte order. A
// part on another server (unfenced) groups by the trimmed text alone,
// which that server runs (it refuses coalesce() and an explicit
// collation); the statement that adds the parts up forms zul's groups.
std::string byValue(const CrossRequest& r, size_t k) {
  if (!character(r, k)) return byNumber(r, k);
  const std::string trimmed = comparedText(r.dialect, quoteIdentifier(r.by[k]));
  return r.fenced ? inByteOrder(r.dialect, blankIfNull(trimmed)) : trimmed;
}

// What forms BY group k: "_g<k>_", the formatted value, for a variable with
// a display format; else "_b<k>_", the value itself.
std::string keyAlias(const CrossRequest& r, size_t k) { return alias(formatted(r, k) ? "g" : "b", k); }

// The keys of the BY groups, qualified by `table` when it is given.
std::vector<std::string> keyAliases(const CrossRequest& r, const std::string& table = "") {
  std::vector<std::string> out;
  for (size_t k = 0; k < r.by.size(); ++k) out.push_back(table + keyAlias(r, k));
  return out;
}

// The BY columns a view carries: each value "_b<k>_", and the formatted
// value "_g<k>_" beside it where there is one.
std::vector<std::string> byCarried(const CrossRequest& r, const std::string& table = "") {
  std::vector<std::string> out;
  for (size_t k = 0; k < r.by.size(); ++k) {
    out.push_back(table + alias("b", k));
    if (formatted(r, k)) out.push_back(table + alias("g", k));
  }
  return out;
}

// The end of a derived table: the fence that keeps it from being pulled up.
std::string fenceOf(const CrossRequest& r) { return r.fenced ? fence(r.dialect) : std::string(); }

// Variable i as a number: a date, time or timestamp counted from 1960.
std::string variableValue(const CrossRequest& r, size_t i) {
  return columnNumber(r.dialect, quoteIdentifier(r.variables[i]), i < r.types.size() ? r.types[i] : kTypeNumeric);
}

// The rows of the table with every value cast to double precision.
std::string observationView(const CrossRequest& r) {
  std::vector<std::string> cols;
  for (size_t k = 0; k < r.by.size(); ++k) {
    cols.push_back(byValue(r, k) + " as " + alias("b", k));
    if (formatted(r, k))
      cols.push_back(putCall(r.dialect, byValue(r, k), r.byFormats[k]) + " as " + alias("g", k));
  }
  for (size_t i = 0; i < r.variables.size(); ++i)
    cols.push_back("cast(" + variableValue(r, i) + " as double precision) as " + alias("x", i));
  // FREQ and WEIGHT as the numbers zul reads (columnNumber()).
  for (const auto& [column, as] : {std::pair{r.freq, "_f_"}, std::pair{r.weight, "_w_"}})
    if (!column.empty())
      cols.push_back("cast(" + columnNumber(r.dialect, quoteIdentifier(column), kTypeNumeric) +
                     " as double precision) as \"" + as + "\"");
  std::string sql = "(select " + joinList(cols) + " from " + r.from;
  if (!r.where.empty()) sql += " where (" + r.where + ")";
  return sql + fenceOf(r) + ") as \"_o_\"";
}

// The status of each record: 0 used, 1 dropped for a missing value, 2 for
// its frequency, 3 for its weight; with its frequency and weight.
std::string statusView(const CrossRequest& r) {
  const Dialect d = r.dialect;
  std::string status = "case";
  if (!r.freq.empty())
    status += " when " + notFinite(d, "\"_f_\"") + " or " + truncated(d, "\"_f_\"") + " <= 0 then 2";
  if (!r.weight.empty())
    status += " when " + notFinite(d, "\"_w_\"") + " or \"_w_\" <= 0 then 3";
  if (!r.variables.empty()) {
    status += " when ";
    for (size_t i = 0; i < r.variables.size(); ++i)
      status += (i ? " or " : "") + notFinite(d, alias("x", i));
    status += " then 1";
  }
  status += " else 0 end";
  std::vector<std::string> cols = byCarried(r);
  for (size_t i = 0; i < r.variables.size(); ++i) cols.push_back(alias("x", i));
  cols.push_back(status + " as \"_st_\"");
  cols.push_back((r.freq.empty() ? std::string("1") : truncated(d, "\"_f_\"")) + " as \"_fq_\"");
  cols.push_back((r.weight.empty() ? std::string("1") : std::string("\"_w_\"")) + " as \"_wt_\"");
  return "(select " + joinList(cols) + " from " + observationView(r) + fenceOf(r) + ") as \"_t_\"";
}

// The weighted means of the usable records of each group.
std::string meansView(const CrossRequest& r) {
  std::vector<std::string> cols = keyAliases(r);
  for (size_t i = 0; i < r.variables.size(); ++i)
    cols.push_back("sum(\"_fq_\" * \"_wt_\" * " + alias("x", i) + ") / sum(\"_fq_\" * \"_wt_\") as " +
                   alias("m", i));
  std::string sql = "(select " + joinList(cols) + " from " + statusView(r) + " where \"_st_\" = 0";
  if (!r.by.empty()) sql += " group by " + joinList(keyAliases(r));
  return sql + ") as \"_m_\"";
}

std::string shiftOf(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift, size_t i) {
  if (kind == ShiftKind::kMeans) return "\"_m_\"." + alias("m", i);
  if (kind == ShiftKind::kConstant && i < shift.size() && std::isfinite(shift[i]))
    return numberLiteral(shift[i]);
  return "0";
}

// Each record's deviations from the shift, and its combined weight; 0 for
// a record that is not used (a NaN times 0 is still a NaN).
std::string deviationView(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift) {
  std::vector<std::string> cols = byCarried(r, "\"_t_\".");
  cols.push_back("\"_st_\"");
  cols.push_back("\"_fq_\"");
  cols.push_back("\"_wt_\"");
  cols.push_back("case when \"_st_\" = 0 then \"_fq_\" * \"_wt_\" else 0 end as \"_cw_\"");
  for (size_t i = 0; i < r.variables.size(); ++i) {
    const std::string s = shiftOf(r, kind, shift, i);
    cols.push_back(s + " as " + alias("h", i));
    cols.push_back("case when \"_st_\" = 0 then " + alias("x", i) + " - " + s + " else 0 end as " +
                   alias("d", i));
  }
  std::string sql = "(select " + joinList(cols) + " from " + statusView(r);
  if (kind == ShiftKind::kMeans) {
    sql += " left join " + meansView(r) + " on ";
    if (r.by.empty()) sql += "1 = 1";
    // Joined by what forms the group: a formatted BY variable's means
    // belong to all the raw values of its formatted value.
    for (size_t k = 0; k < r.by.size(); ++k)
      sql += (k ? " and " : "") +
             sameValue(r.dialect, "\"_t_\"." + keyAlias(r, k), "\"_m_\"." + keyAlias(r, k),
                       formatted(r, k) || character(r, k));
  }
  return sql + fenceOf(r) + ") as \"_d_\"";
}


}  // namespace

std::vector<std::string> crossColumnNames(int n) {
  std::vector<std::string> out = {"_USED_", "_FREQ_", "_WGT_"};
  for (int i = 1; i <= n; ++i) out.push_back("_SHIFT" + std::to_string(i) + "_");
  for (int i = 1; i <= n; ++i) out.push_back("_S" + std::to_string(i) + "_");
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) out.push_back("_Q" + std::to_string(i) + "_" + std::to_string(j) + "_");
  for (const char* s : {"_READ_", "_MISS_", "_NONPOS_", "_FREAD_", "_WREAD_"}) out.push_back(s);
  return out;
}

namespace {

// The aggregate of each result column after the BY columns, in the order
// of crossColumnNames(), over the rows of the deviation view. Without FREQ
// and WEIGHT a used record's combined weight is exactly 1 (an unused one
// has deviations of 0), so the sums leave out the multiplication by it:
// the same sums to the last bit, and a third fewer operations a row.
std::vector<std::string> crossAggregates(const CrossRequest& r) {
  const size_t n = r.variables.size();
  const std::string weighted = r.freq.empty() && r.weight.empty() ? "" : "\"_cw_\" * ";
  std::vector<std::string> e;
  e.push_back("coalesce(sum(case when \"_st_\" = 0 then 1 else 0 end), 0)");
  e.push_back("coalesce(sum(case when \"_st_\" = 0 then \"_fq_\" else 0 end), 0)");
  e.push_back("coalesce(sum(\"_cw_\"), 0)");
  for (size_t i = 0; i < n; ++i) e.push_back("max(" + alias("h", i) + ")");
  for (size_t i = 0; i < n; ++i) e.push_back("coalesce(sum(" + weighted + alias("d", i) + "), 0)");
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j)
      e.push_back("coalesce(sum(" + weighted + alias("d", i) + " * " + alias("d", j) + "), 0)");
  e.push_back("count(*)");
  e.push_back("coalesce(sum(case when \"_st_\" = 1 then 1 else 0 end), 0)");
  e.push_back("coalesce(sum(case when \"_st_\" >= 2 then 1 else 0 end), 0)");
  e.push_back("coalesce(sum(case when \"_st_\" <> 2 then \"_fq_\" else 0 end), 0)");
  e.push_back("coalesce(sum(case when \"_st_\" <= 1 then \"_fq_\" * \"_wt_\" else 0 end), 0)");
  return e;
}

// The BY value of each group of an aggregate whose BY values are in
// `value(k)`: the value itself, or for a formatted variable the smallest
// of the group's raw values (its first row's, in BY order).
template <class Value>
std::vector<std::string> groupValues(const CrossRequest& r, Value value) {
  std::vector<std::string> out;
  for (size_t k = 0; k < r.by.size(); ++k) out.push_back(formatted(r, k) ? "min(" + value(k) + ")" : value(k));
  return out;
}

std::vector<std::string> groupValues(const CrossRequest& r) {
  return groupValues(r, [](size_t k) { return alias("b", k); });
}

std::vector<std::string> byColumns(const CrossRequest& r) {
  std::vector<std::string> cols = groupValues(r);
  for (size_t k = 0; k < r.by.size(); ++k) cols[k] += " as " + quoteIdentifier(r.by[k]);
  return cols;
}

std::string groupBy(const CrossRequest& r) {
  return r.by.empty() ? std::string() : " group by " + joinList(keyAliases(r));
}

// " order by b0 nulls first, ...": the BY groups in the row path's order,
// `values` the groups' BY values. A formatted variable's groups are ordered
// by the formatted value they are formed by (a number, or text by its
// bytes), which its smallest raw value writes: by that raw value,
// (2.4, "a") and (2, "b") of a "1." format, the groups (2, "a") and
// (2, "b"), would come in the wrong order.
std::string byOrder(const CrossRequest& r, const std::vector<std::string>& values) {
  if (values.empty()) return {};
  std::string sql = " order by ";
  for (size_t k = 0; k < values.size(); ++k) {
    std::string key = values[k];
    if (formatted(r, k)) {
      const std::string put = putCall(r.dialect, key, r.byFormats[k]);
      const char* number = r.dialect == Dialect::kPostgres ? " as double precision)" : " as real)";
      key = character(r, k) ? inByteOrder(r.dialect, put) : "cast(" + put + number;
    }
    sql += (k ? ", " : "") + key + " nulls first";
  }
  return sql;
}

// The aggregate, grouped by the BY variables but in no order.
std::string aggregate(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift) {
  const size_t n = r.variables.size();
  const std::vector<std::string> names = crossColumnNames(static_cast<int>(n));
  const std::vector<std::string> aggregates = crossAggregates(r);
  std::vector<std::string> cols = byColumns(r);
  for (size_t c = 0; c < names.size(); ++c) cols.push_back(aggregates[c] + " as " + quoteIdentifier(names[c]));
  return "select " + joinList(cols) + " from " + deviationView(r, kind, shift) + groupBy(r);
}

// A part's sums over its usable records. The status is tested once, in the
// where clause, so that the statement stays a plain aggregate of the part
// (run whole by the server that keeps it) without each crossproduct
// repeating the test of every variable; the record counts come from
// recordCounts().
std::string usableSums(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift) {
  const size_t n = r.variables.size();
  std::vector<std::string> e = {"count(*)", "coalesce(sum(\"_fq_\"), 0)",
                                "coalesce(sum(\"_fq_\" * \"_wt_\"), 0)"};
  std::vector<std::string> dev;
  for (size_t i = 0; i < n; ++i) {
    const std::string h = shiftOf(r, kind, shift, i);
    e.push_back(h);
    dev.push_back("(" + alias("x", i) + " - " + h + ")");
  }
  for (size_t i = 0; i < n; ++i) e.push_back("coalesce(sum(\"_fq_\" * \"_wt_\" * " + dev[i] + "), 0)");
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j)
      e.push_back("coalesce(sum(\"_fq_\" * \"_wt_\" * " + dev[i] + " * " + dev[j] + "), 0)");
  e.insert(e.end(), 5, "0");
  const std::vector<std::string> names = crossColumnNames(static_cast<int>(n));
  std::vector<std::string> cols = byColumns(r);
  for (size_t c = 0; c < names.size(); ++c) cols.push_back(e[c] + " as " + quoteIdentifier(names[c]));
  return "select " + joinList(cols) + " from " + statusView(r) + " where \"_st_\" = 0" + groupBy(r);
}

// A part's counts of records read, dropped and their frequencies, with
// zeros for its sums.
std::string recordCounts(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift) {
  const size_t n = r.variables.size();
  const std::vector<std::string> all = crossAggregates(r);
  const std::vector<std::string> names = crossColumnNames(static_cast<int>(n));
  std::vector<std::string> cols = byColumns(r);
  for (size_t c = 0; c < names.size(); ++c) {
    std::string e = "0";
    if (c + 5 >= names.size()) e = all[c];
    else if (c >= 3 && c < 3 + n) e = shiftOf(r, kind, shift, c - 3);
    cols.push_back(e + " as " + quoteIdentifier(names[c]));
  }
  return "select " + joinList(cols) + " from " + statusView(r) + groupBy(r);
}

// The BY columns of a result, by their own (quoted) names.
std::vector<std::string> quotedBy(const CrossRequest& r) {
  std::vector<std::string> out;
  for (const std::string& b : r.by) out.push_back(quoteIdentifier(b));
  return out;
}

}  // namespace

std::string crossproductStatement(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift) {
  return aggregate(r, kind, shift) + byOrder(r, groupValues(r));
}

std::string partsCrossproductStatement(const CrossRequest& r, const std::vector<std::string>& parts,
                                       ShiftKind kind, const std::vector<double>& shift) {
  // A shift of each part's own means would not add up across parts.
  if (kind == ShiftKind::kMeans) kind = ShiftKind::kConstant;
  if (parts.empty()) return crossproductStatement(r, kind, shift);
  std::string all;
  for (size_t k = 0; k < parts.size(); ++k) {
    // Each part groups by the BY values themselves: a formatted value needs
    // zul_put, which a server keeping a foreign part does not have, and the
    // aggregate would then run here over all of that part's rows. Sums
    // about the common shift add up across the values of a formatted group.
    CrossRequest part = r;
    part.from = parts[k];
    part.fenced = false;
    part.byFormats.clear();
    all += (k ? " union all " : "") + usableSums(part, kind, shift) + " union all " +
           recordCounts(part, kind, shift);
  }
  const std::vector<std::string> by = quotedBy(r);
  // The parts' text values as zul compares them (see byValue()).
  auto outer = [&](size_t k) { return character(r, k) ? inByteOrder(r.dialect, blankIfNull(by[k])) : by[k]; };
  const std::vector<std::string> values = groupValues(r, outer);
  std::vector<std::string> cols, keys;
  for (size_t k = 0; k < by.size(); ++k) {
    cols.push_back(values[k] + " as " + by[k]);
    keys.push_back(formatted(r, k) ? putCall(r.dialect, outer(k), r.byFormats[k]) : outer(k));
  }
  for (const std::string& name : crossColumnNames(static_cast<int>(r.variables.size()))) {
    const std::string q = quoteIdentifier(name);
    // Every part carries the same shift (null in a part without records).
    const bool isShift = name.compare(0, 6, "_SHIFT") == 0;
    cols.push_back((isShift ? "max(" : "sum(") + q + ") as " + q);
  }
  std::string sql = "select " + joinList(cols) + " from (" + all + ") as \"_p_\"";
  if (!by.empty()) sql += " group by " + joinList(keys);
  return sql + byOrder(r, values);
}

bool commonShiftFits(const std::vector<double>& moments, int n, const std::vector<double>& shift,
                     double maxSquaredDistance) {
  const CrossLayout at{0, n};
  const double w = moments[static_cast<size_t>(at.weightsUsed())];
  if (!(w > 0)) return true;  // no usable record: nothing to lose
  for (int i = 0; i < n; ++i) {
    const double mean = moments[static_cast<size_t>(at.sum(i))] / w;
    const double variance = moments[static_cast<size_t>(at.cross(i * (i + 1) / 2 + i))] / w - mean * mean;
    const double s = static_cast<size_t>(i) < shift.size() && std::isfinite(shift[i]) ? shift[i] : 0.0;
    // Also false for a NaN, and for a spread lost to cancellation already.
    if (!((mean - s) * (mean - s) <= maxSquaredDistance * variance)) return false;
  }
  return true;
}

std::string leafPartitionsQuery(std::string_view table) {
  // A leaf read by its own name is read under its own privileges and row
  // security policies, not the parent's: a role that may read only the
  // parent, or rows limited by a policy on the parent (or opened by one on
  // a leaf), must have the table summed through the parent.
  return "select \"_PART_\" from (select format('%I.%I', n.nspname, c.relname) as \"_PART_\", "
         "t.isleaf and t.level > 0 as \"_LEAF_\", "
         "bool_or(c.relkind = 'f') over () as \"_REMOTE_\", "
         "bool_and(not c.relrowsecurity and (not t.isleaf or "
         "pg_catalog.has_table_privilege(c.oid, 'SELECT'))) over () as \"_DIRECT_\" from "
         "pg_catalog.pg_partition_tree(pg_catalog.to_regclass(" + quoteString(table) + ")) as t "
         "join pg_catalog.pg_class as c on c.oid = t.relid "
         "join pg_catalog.pg_namespace as n on n.oid = c.relnamespace) as l "
         "where \"_LEAF_\" and \"_REMOTE_\" and \"_DIRECT_\" order by 1";
}

int crossBlockCount(int n, int blockColumns) {
  const int total = static_cast<int>(crossColumnNames(n).size());
  return (total + blockColumns - 1) / blockColumns;
}

std::string deviationTableStatement(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift,
                                    const std::string& table) {
  return "create temp table " + quoteIdentifier(table) + " as select * from " + deviationView(r, kind, shift);
}

std::string crossproductBlockStatement(const CrossRequest& r, ShiftKind kind, const std::vector<double>& shift,
                                       int blockColumns, const std::string& deviationTable) {
  const size_t n = r.variables.size();
  const std::vector<std::string> aggregates = crossAggregates(r);
  const int blocks = crossBlockCount(static_cast<int>(n), blockColumns);
  // The deviations are taken once, so that every block sums about the
  // same shift: in a table made before, or in a common table expression.
  const std::string from = deviationTable.empty() ? "\"_dv_\"" : quoteIdentifier(deviationTable);
  std::string sql = deviationTable.empty()
                        ? "with \"_dv_\" as (select * from " + deviationView(r, kind, shift) + ") select * from ("
                        : std::string("select * from (");
  for (int b = 0; b < blocks; ++b) {
    std::vector<std::string> cols = byColumns(r);
    cols.push_back(std::to_string(b) + " as " + quoteIdentifier(kCrossBlockColumn));
    for (int k = 0; k < blockColumns; ++k) {
      const size_t c = static_cast<size_t>(b) * blockColumns + k;
      const std::string e = c < aggregates.size() ? aggregates[c] : std::string("null");
      cols.push_back("cast(" + e + " as double precision) as " + quoteIdentifier(crossBlockValueName(k)));
    }
    sql += (b ? " union all " : "") + std::string("select ") + joinList(cols) + " from " + from + groupBy(r);
  }
  // Ordered outside the union, where the order may be an expression.
  sql += ") as \"_u_\"";
  if (!r.by.empty()) sql += byOrder(r, quotedBy(r)) + ", " + quoteIdentifier(kCrossBlockColumn);
  return sql;
}

std::string crossBlockValueName(int k) { return "_C" + std::to_string(k + 1) + "_"; }

std::string firstUsableRowStatement(const CrossRequest& r) {
  std::vector<std::string> cols;
  for (size_t i = 0; i < r.variables.size(); ++i) cols.push_back(alias("x", i));
  return firstRowQuery(r.dialect, joinList(cols) + " from " + statusView(r) + " where \"_st_\" = 0");
}

}  // namespace sqlgen
