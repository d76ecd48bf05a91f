// Whether a step's input is processed inside its database, and the
// crossproduct statement that replaces its rows.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "sqlgen/column_types.hpp"
#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/xpx_table.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/indb/indb.hpp"
#include "zulfact/state/catalog_ids.hpp"

namespace zulfact {

namespace {

// Statements and tables may have only so many columns (PostgreSQL 1600 in
// a table, 1664 in a result; SQLite 2000). A result row wider than this is
// written in blocks of kBlockColumns (the host's first look at a table
// takes three aggregates a column, so a block stays under a third of the
// limit); the view of the deviations, two columns per variable, must still
// fit in one row, and SQLite joins at most 500 selects in one union.
constexpr int kMaxResultColumns = 1600;
constexpr int kBlockColumns = 500;
constexpr int kMaxBlocks = 400;
// The temporary table of the deviations of a statement in blocks (SQLite).
constexpr const char* kDeviationTable = "_zul_deviations_";

bool needsBlocks(const ProcState& ps) {
  return ps.opt.nBy + sqlgen::CrossLayout{0, ps.opt.nAll}.columns() > kMaxResultColumns;
}

bool optionSaysNo(const char* name) {
  std::string v;
  if (!host().systemOption(name, v)) return false;
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::toupper(c); });
  return v == "0" || v == "NO" || v == "OFF";
}

bool optionSaysYes(const char* name) {
  std::string v;
  if (!host().systemOption(name, v)) return false;
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return std::toupper(c); });
  return v == "1" || v == "YES" || v == "ON";
}

std::string nameOf(zul_table* table, int number) {
  zul_var_desc d{};
  if (number <= 0 || host().varDesc(table, number, d) != 0) return {};
  return d.name;
}

// The display format of a BY variable as text ("w.d" or "$w."), which
// forms its groups; empty when it has none or one that does not fit it.
std::string byFormat(zul_table* table, int number) {
  zul_var_desc d{};
  if (number <= 0 || host().varDesc(table, number, d) != 0 || d.formatWidth <= 0) return {};
  const bool character = std::strcmp(d.formatName, "$") == 0;
  if (character != (d.type == 2)) return {};
  std::string f = d.formatName + std::to_string(d.formatWidth) + ".";
  if (d.formatDecimals > 0) f += std::to_string(d.formatDecimals);
  return f;
}

void notUsed(const std::string& reason) {
  (void)host().catalogNote(catalog::kIndbNotUsed, {std::string_view(reason)});
}

// Copies a NUL-terminated text into a fixed field, cut at its size and
// always terminated.
template <size_t N>
void copyText(char (&field)[N], const char* text) {
  const size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

// The reason the step's input cannot be summarised in its database, empty
// when it can.
std::string reasonAgainst(ProcState& ps, const zul_db_table_info& in) {
  const zul_varlist& by = ps.opt.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k)
    if (by.descending && by.descending[k]) return "a BY variable is DESCENDING";
  const bool fits = ps.opt.nBy + 2 * ps.opt.nAll + 8 <= kMaxResultColumns &&
                    sqlgen::crossBlockCount(ps.opt.nAll, kBlockColumns) <= kMaxBlocks;
  if (!fits) return "too many variables for one statement";
  if (!ps.opt.outTable) return {};
  zul_db_table_info out{};
  if (!host().dbTableInfo(ps.opt.outTable, out) || std::strcmp(out.database, in.database) != 0)
    return "OUT= is not in the database of DATA=, or its library reads it as another role or "
           "search path";
  copyText(ps.indb.outputRef, out.reference);
  copyText(ps.indb.tableName, out.display);
  ps.indb.lowerNames = out.lowerCaseColumns != 0;
  return {};
}

sqlgen::CrossRequest crossRequest(ProcState& ps, const zul_db_table_info& in) {
  sqlgen::CrossRequest r;
  r.dialect = in.dialect == ZUL_DB_POSTGRES ? sqlgen::Dialect::kPostgres : sqlgen::Dialect::kSqlite;
  r.from = in.reference;
  for (int i = 0; i < ps.opt.nAll; ++i) r.variables.push_back(nameOf(ps.opt.mainInput, ps.opt.varNumbers[i]));
  const zul_varlist& by = ps.opt.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k) {
    r.by.push_back(nameOf(ps.opt.mainInput, by.numbers[k]));
    r.byFormats.push_back(byFormat(ps.opt.mainInput, by.numbers[k]));
    zul_var_desc d{};
    r.byCharacter.push_back(host().varDesc(ps.opt.mainInput, by.numbers[k], d) == 0 && d.type == 2);
  }
  r.freq = nameOf(ps.opt.mainInput, ps.opt.freqVarNumber);
  r.weight = nameOf(ps.opt.mainInput, ps.opt.weightVarNumber);
  r.types = columnClasses(ps.opt.mainInput, r.from, r.variables);
  r.byTypes = columnClasses(ps.opt.mainInput, r.from, r.by);
  return r;
}

}  // namespace

bool isCrossproductTable(zul_table* table) {
  const std::string name = host().tableName(table);
  const size_t dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(dot + 1)) == "_MKXPX_";
}

bool hasCrossproductColumns(zul_table* table) {
  const std::vector<std::string> names = sqlgen::xpxColumnNames({}, {});
  for (size_t c = 0; c < names.size(); ++c)
    if (host().varNumber(table, names[c]) != static_cast<int>(c) + 1) return false;
  return true;
}

// Dates and times are then counted as the row path counts them.
std::vector<int> columnClasses(zul_table* input, const std::string& from,
                               const std::vector<std::string>& names) {
  if (names.empty()) return {};
  std::string probe = " select ";
  for (size_t i = 0; i < names.size(); ++i) probe += (i ? ", " : "") + sqlgen::quoteIdentifier(names[i]);
  probe += " from " + from;
  std::vector<int32_t> codes(names.size(), 8);
  std::vector<int> classes;
  if (host().dbDescribe(input, probe, codes.data(), static_cast<int>(codes.size())) != 0) return classes;
  for (int32_t c : codes) classes.push_back(sqlgen::classifySqlType(c));
  return classes;
}

namespace {

void echo(ProcState& ps, const std::string& sql) {
  if (ps.indb.echo) host().logText(sql);
}

// The shift of one pass: the first usable row of the table (zeros when
// none is, or it cannot be read).
std::vector<double> firstRowShift(ProcState& ps, const sqlgen::CrossRequest& r) {
  Host& h = host();
  std::vector<double> shift(r.variables.size(), 0.0);
  const std::string sql = sqlgen::firstUsableRowStatement(r);
  echo(ps, sql);
  zul_table* t = h.dbQueryTable(ps.opt.mainInput, sql, "_ZSHIFT_");
  if (!t || h.nextByGroup(t) < 1) return shift;
  zul_readlist* list = h.readListCreate(t, static_cast<int>(shift.size()));
  if (!list) return shift;
  for (int i = 0; i < static_cast<int>(shift.size()); ++i) h.readListBind(list, i, i + 1, false, 8);
  std::vector<double> row(shift.size());
  int status = 0;
  if (h.readNext(list, row.data(), nullptr, status) == 1) shift = row;
  // Read to the end, which finishes the query: SQLite refuses to drop a
  // table (the blocks' temporary table of deviations) while a statement
  // of the connection is still under way.
  std::vector<double> rest(shift.size());
  while (h.readNext(list, rest.data(), nullptr, status) == 1) {
  }
  h.readListRelease(list);
  for (double& x : shift)
    if (zul_is_missing(x)) x = 0.0;
  return shift;
}

// The passes of the crossproduct statement: the diagnostic switch
// -sqlpasses when set, else the host option SQLPASSES= (2 by default).
int sqlPasses() {
  const int level = host().diagSwitch("-sqlpasses");
  if (level > 0) return level;
  std::string v;
  return host().systemOption("SQLPASSES", v) && v == "1" ? 1 : 2;
}

// The quoted leaf partitions of a PostgreSQL partitioned table with a
// foreign partition; none for any other table, or when the catalogue
// cannot be read.
std::vector<std::string> leafPartitions(ProcState& ps, const zul_db_table_info& in) {
  constexpr int kWidth = 300;  // two quoted names of at most 63 bytes, doubled quotes
  Host& h = host();
  std::vector<std::string> parts;
  if (in.dialect != ZUL_DB_POSTGRES) return parts;
  const std::string sql = sqlgen::leafPartitionsQuery(in.reference);
  echo(ps, sql);
  zul_table* t = h.dbQueryTable(ps.opt.mainInput, sql, "_ZPARTS_");
  if (!t || h.nextByGroup(t) < 1) return parts;
  zul_readlist* list = h.readListCreate(t, 1);
  if (!list) return parts;
  double unused = 0;
  char text[kWidth];
  int status = 0;
  bool ok = h.readListBind(list, 0, 1, true, kWidth) == 0;
  while (ok && h.readNext(list, &unused, text, status) == 1) {
    std::string name(text, kWidth);
    name.erase(name.find_last_not_of(' ') + 1);  // a quoted name never ends in a blank
    parts.push_back(name);
  }
  h.readListRelease(list);
  // A list cut short by a read error would leave partitions out of the sums:
  // the whole table is summed as one instead.
  if (!ok || !readOk(status)) parts.clear();
  return parts;
}

// Whether every BY group of the parts may be summed about the common
// `shift` (sqlgen::commonShiftFits()), told by a first pass of the parts'
// moments about the shift itself, which their servers run as well (about
// zero, the variances of values near 1e10 with a spread of 30 would cancel
// away, and every such table would be summed whole, its rows fetched).
// False when that pass cannot be read whole.
bool commonShiftFits(ProcState& ps, const std::vector<std::string>& parts, const sqlgen::CrossRequest& r,
                     const std::vector<double>& shift) {
  Host& h = host();
  const int n = static_cast<int>(r.variables.size());
  const int nBy = static_cast<int>(r.by.size());
  const int width = sqlgen::CrossLayout{0, n}.columns();
  const std::string sql =
      sqlgen::partsCrossproductStatement(r, parts, sqlgen::ShiftKind::kConstant, shift);
  echo(ps, sql);
  zul_table* t = h.dbQueryTable(ps.opt.mainInput, sql, "_ZMOM_");
  if (!t) return false;
  std::vector<double> row(static_cast<size_t>(width));
  bool ok = true, any = false;
  // The table takes the step's BY groups: one row in each.
  for (int g = h.nextByGroup(t); ok && g >= 1; g = h.nextByGroup(t)) {
    zul_readlist* list = h.readListCreate(t, width);
    if (!list) return false;
    for (int c = 0; c < width && ok; ++c) ok = h.readListBind(list, c, nBy + c + 1, false, 8) == 0;
    int status = 0;
    while (ok && h.readNext(list, row.data(), nullptr, status) == 1)
      ok = sqlgen::commonShiftFits(row, n, {});
    h.readListRelease(list);
    ok = ok && readOk(status);
    any = true;
  }
  return ok && any;
}

// The crossproduct statement of the step's input. A partitioned table
// spread over other servers is summed partition by partition about one
// shift taken from its first usable row, so that each partition's
// aggregate runs whole where the partition lives (postgres_fdw sends a
// foreign partition's aggregate to its server, but not a join of its rows
// with their means).
// In SQLite the deviations the blocks sum are first written into a
// temporary table (named in `scratch`, for the caller to drop): SQLite
// copies a common table expression into every block that names it, and
// preparing the statement grew like n^3 (400 variables: 18 s and 744 MB).
std::string crossproductSql(ProcState& ps, const zul_db_table_info& in,
                            const sqlgen::CrossRequest& r, std::string& scratch) {
  using sqlgen::ShiftKind;
  const int passes = sqlPasses();
  if (needsBlocks(ps)) {
    // Too wide for one result row: blocks over the whole table (the
    // partitions of a partitioned table are then not summed apart).
    const ShiftKind kind = ps.opt.flags.noIntercept ? ShiftKind::kZero
                           : passes == 1        ? ShiftKind::kConstant
                                                : ShiftKind::kMeans;
    const std::vector<double> shift = kind == ShiftKind::kConstant ? firstRowShift(ps, r) : std::vector<double>();
    if (r.dialect == sqlgen::Dialect::kSqlite) {
      const std::string create = sqlgen::deviationTableStatement(r, kind, shift, kDeviationTable);
      echo(ps, create);
      double rows = 0;
      const std::string name = sqlgen::quoteIdentifier(kDeviationTable);
      // One left by a step that was stopped on this connection goes first.
      if (host().dbExecute(ps.opt.mainInput, "drop table if exists temp." + name, rows) == 0 &&
          host().dbExecute(ps.opt.mainInput, create, rows) == 0) {
        scratch = kDeviationTable;
        return sqlgen::crossproductBlockStatement(r, kind, shift, kBlockColumns, kDeviationTable);
      }
    }
    return sqlgen::crossproductBlockStatement(r, kind, shift, kBlockColumns);
  }
  const std::vector<std::string> parts = leafPartitions(ps, in);
  if (!parts.empty() && ps.opt.flags.noIntercept)
    return sqlgen::partsCrossproductStatement(r, parts, ShiftKind::kZero);
  if (!parts.empty()) {
    // Without BY groups the first row is as good a shift as in one pass.
    const std::vector<double> shift = firstRowShift(ps, r);
    if (r.by.empty() || commonShiftFits(ps, parts, r, shift))
      return sqlgen::partsCrossproductStatement(r, parts, ShiftKind::kConstant, shift);
  }
  if (ps.opt.flags.noIntercept) return sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kZero);
  if (passes == 1)
    return sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kConstant, firstRowShift(ps, r));
  return sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kMeans);
}

}  // namespace

void prepareIndb(StepRecord& ps) {
  Host& h = host();
  zul_db_table_info in{};
  // The notes also tell the reading of a crossproduct table in a file.
  ps.indb.notes = optionSaysYes("INDBNOTES");
  // A table of correlations, factors or crossproducts is read as it is:
  // only observations are summarised in the database.
  if (!ps.opt.parsed || !ps.opt.flags.rawInput || isCrossproductTable(ps.opt.mainInput) ||
      !h.dbTableInfo(ps.opt.mainInput, in))
    return;
  ps.indb.echo = h.diagSwitch("-zsqlsco1") > 0 || optionSaysYes("SQLECHO");
  if (optionSaysNo("INDB")) return notUsed("the host option INDB=NO is set");
  // The residuals on the partial variables need the rows themselves.
  if (ps.opt.nPartial > 0) {
    (void)h.catalogNote(catalog::kIndbOffForStatement, {"PARTIAL"});
    return;
  }
  const std::string reason = reasonAgainst(ps, in);
  if (!reason.empty()) return notUsed(reason);

  const sqlgen::CrossRequest r = crossRequest(ps, in);
  std::string scratch;
  const std::string sql = crossproductSql(ps, in, r, scratch);
  echo(ps, sql);
  ps.opt.indbInput = h.dbQueryTable(ps.opt.mainInput, sql, "_ZSQL_");
  if (!scratch.empty()) {
    double rows = 0;
    (void)h.dbExecute(ps.opt.mainInput, "drop table temp." + sqlgen::quoteIdentifier(scratch), rows);
  }
  if (!ps.opt.indbInput) {
    // A server that has gone cannot give the rows either: the step stops
    // on the table not being readable, without a note that it reads them.
    int32_t readable = 0;
    if (h.getAttribute(ps.opt.mainInput, ZUL_ATTR_READABLE, &readable) == 0 && readable == 1)
      notUsed("the database could not compute the crossproducts");
    return;
  }
  ps.indb.dialect = in.dialect;
  copyText(ps.indb.inputRef, in.reference);
  ps.indb.used = ps.opt.outTable != nullptr;
  (void)h.catalogNote(catalog::kIndbUsed);
}

}  // namespace zulfact
