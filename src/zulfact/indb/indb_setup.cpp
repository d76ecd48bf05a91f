// Whether a step's input is processed inside its database, and the
// crossproduct statement that replaces its rows.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "sqlgen/crossproduct_sql.hpp"
#include "zulfact/host/host.hpp"
#include "zulfact/indb/indb.hpp"
#include "zulfact/state/catalog_ids.hpp"

namespace zulfact {

namespace {

// Statements of one aggregate may have only so many result columns
// (PostgreSQL 1664, SQLite 2000); a wider one is read row by row.
constexpr int kMaxResultColumns = 1600;

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
  const zul_varlist& by = ps.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k)
    if (by.descending && by.descending[k]) return "a BY variable is DESCENDING";
  const int columns = ps.nBy + sqlgen::CrossLayout{0, ps.nAll}.columns();
  if (columns > kMaxResultColumns) return "too many variables for one statement";
  if (!ps.outTable) return {};
  zul_db_table_info out{};
  if (!host().dbTableInfo(ps.outTable, out) || std::strcmp(out.database, in.database) != 0)
    return "OUT= is not in the database of DATA=";
  copyText(ps.indb.outputRef, out.reference);
  copyText(ps.indb.tableName, out.display);
  ps.indb.lowerNames = out.lowerCaseColumns != 0;
  return {};
}

sqlgen::CrossRequest crossRequest(ProcState& ps, const zul_db_table_info& in) {
  sqlgen::CrossRequest r;
  r.dialect = in.dialect == ZUL_DB_POSTGRES ? sqlgen::Dialect::kPostgres : sqlgen::Dialect::kSqlite;
  r.from = in.reference;
  for (int i = 0; i < ps.nAll; ++i) r.variables.push_back(nameOf(ps.mainInput, ps.varNumbers[i]));
  const zul_varlist& by = ps.parsed->lists[ZUL_LIST_BY];
  for (int k = 0; k < by.count; ++k) r.by.push_back(nameOf(ps.mainInput, by.numbers[k]));
  r.freq = nameOf(ps.mainInput, ps.freqVarNumber);
  r.weight = nameOf(ps.mainInput, ps.weightVarNumber);
  return r;
}

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
  zul_table* t = h.dbQueryTable(ps.mainInput, sql, "_ZSHIFT_");
  if (!t || h.nextByGroup(t) < 1) return shift;
  zul_readlist* list = h.readListCreate(t, static_cast<int>(shift.size()));
  if (!list) return shift;
  for (int i = 0; i < static_cast<int>(shift.size()); ++i) h.readListBind(list, i, i + 1, false, 8);
  std::vector<double> row(shift.size());
  int status = 0;
  if (h.readNext(list, row.data(), nullptr, status) == 1) shift = row;
  h.readListRelease(list);
  for (double& x : shift)
    if (zul_is_missing(x)) x = 0.0;
  return shift;
}

// A crossproduct table holds sums, not observations: the engine reads it
// as it is, wherever it is stored.
bool isCrossproductTable(zul_table* table) {
  const std::string name = host().tableName(table);
  const size_t dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(dot + 1)) == "_MKXPX_";
}

// The passes of the crossproduct statement: the diagnostic switch
// -sqlpasses when set, else the host option SQLPASSES= (2 by default).
int sqlPasses() {
  const int level = host().diagSwitch("-sqlpasses");
  if (level > 0) return level;
  std::string v;
  return host().systemOption("SQLPASSES", v) && v == "1" ? 1 : 2;
}

}  // namespace

void prepareIndb(ProcState& ps) {
  Host& h = host();
  zul_db_table_info in{};
  // The notes also tell the reading of a crossproduct table in a file.
  ps.indb.notes = optionSaysYes("INDBNOTES");
  // A table of correlations, factors or crossproducts is read as it is:
  // only observations are summarised in the database.
  if (!ps.parsed || !ps.flags.rawInput || isCrossproductTable(ps.mainInput) ||
      !h.dbTableInfo(ps.mainInput, in))
    return;
  ps.indb.echo = h.diagSwitch("-zsqlsco1") > 0 || optionSaysYes("SQLECHO");
  if (optionSaysNo("INDB")) return notUsed("the host option INDB=NO is set");
  // The residuals on the partial variables need the rows themselves.
  if (ps.nPartial > 0) {
    (void)h.catalogNote(catalog::kIndbOffForStatement, {"PARTIAL"});
    return;
  }
  const std::string reason = reasonAgainst(ps, in);
  if (!reason.empty()) return notUsed(reason);

  const sqlgen::CrossRequest r = crossRequest(ps, in);
  const int passes = sqlPasses();
  std::string sql;
  if (ps.flags.noIntercept)
    sql = sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kZero);
  else if (passes == 1)
    sql = sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kConstant, firstRowShift(ps, r));
  else
    sql = sqlgen::crossproductStatement(r, sqlgen::ShiftKind::kMeans);
  echo(ps, sql);
  ps.indbInput = h.dbQueryTable(ps.mainInput, sql, "_ZSQL_");
  if (!ps.indbInput) return notUsed("the database could not compute the crossproducts");
  ps.indb.dialect = in.dialect;
  copyText(ps.indb.inputRef, in.reference);
  ps.indb.used = ps.outTable != nullptr;
  (void)h.catalogNote(catalog::kIndbUsed);
}

}  // namespace zulfact
