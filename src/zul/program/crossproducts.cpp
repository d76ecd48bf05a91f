#include "zul/program/crossproducts.hpp"

#include <cmath>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "kernels/centring.hpp"
#include "kernels/packed.hpp"
#include "sqlgen/column_types.hpp"
#include "sqlgen/crossproduct_sql.hpp"
#include "sqlgen/put_format.hpp"
#include "sqlgen/xpx_table.hpp"
#include "zul/messages/messages.hpp"
#include "zul/program/xpx_tables.hpp"
#include "zul/services/db_services.hpp"
#include "zul/table/db_connection.hpp"

namespace zul::program {

namespace {

using services::session;
using table::InputTable;
using table::OutputTable;

constexpr int kStopped = 1000;
// An aggregate statement may have only so many result columns (PostgreSQL
// 1664, SQLite 2000); a wider summary is computed from the rows.
constexpr int kMaxResultColumns = 1600;
constexpr int kBitNotSorted = 0;

const zul_keyword kOptions[] = {
    {"DATA", ZUL_VALUE_TABLE, -1, ZUL_DS_DATA, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"OUT", ZUL_VALUE_TABLE, -1, ZUL_DS_OUT, 0, 0, 0, 0, nullptr, 0, nullptr},
    {"ADD", ZUL_VALUE_TABLE, -1, ZUL_DS_TARGET, 0, 0, 0, 0, nullptr, 0, nullptr},
};
const zul_keyword kByOptions[] = {
    {"NOTSORTED", ZUL_VALUE_FLAG, kBitNotSorted, -1, 0, 0, 0, 0, nullptr, 0, nullptr}};
const zul_statement kStatements[] = {
    {"CROSSPRODUCTS", ZUL_STMT_OPTIONS, -1, -1, ZUL_VARS_ANY, 3, kOptions, 0, nullptr},
    {"VAR|VARIABLES", ZUL_STMT_VARLIST, ZUL_LIST_VAR, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0, nullptr},
    {"FREQ|FREQUENCY", ZUL_STMT_ONEVAR, ZUL_LIST_FREQ, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0,
     nullptr},
    {"WEIGHT|WEIGHTS", ZUL_STMT_ONEVAR, ZUL_LIST_WEIGHT, -1, ZUL_VARS_NUMERIC, 0, nullptr, 0,
     nullptr},
    {"BY", ZUL_STMT_BY, ZUL_LIST_BY, -1, ZUL_VARS_ANY, 1, kByOptions, 0, nullptr},
};
const zul_grammar kGrammar = {ZUL_GRAMMAR_FORMAT, 0, static_cast<int32_t>(std::size(kStatements)),
                              kStatements};

// One sentence or one echoed statement, whatever the names in it hold.
void logLine(int level, const std::string& text) { messages::writeLogLine(level, text); }

class LogDiagnostics : public parse::Diagnostics {
 public:
  void write(Severity, const std::string& line) override { logLine(ZUL_LOG_PLAIN, line); }
};

// The roles of DATA='s columns (numbers from 1).
struct Roles {
  std::vector<int> vars;
  int freq = 0, weight = 0;
};

int oneVariable(const zul_varlist& list) {
  return list.given && list.count > 0 ? list.numbers[0] : 0;
}

// VAR's variables, or every numeric column that has no other role.
Roles rolesOf(const zul_parsed& p, const InputTable& in) {
  Roles r;
  r.freq = oneVariable(p.lists[ZUL_LIST_FREQ]);
  r.weight = oneVariable(p.lists[ZUL_LIST_WEIGHT]);
  const zul_varlist& var = p.lists[ZUL_LIST_VAR];
  if (var.given) return r.vars.assign(var.numbers, var.numbers + var.count), r;
  const zul_varlist& by = p.lists[ZUL_LIST_BY];
  for (int c = 1; c <= in.varCount(); ++c) {
    bool other =
        c == r.freq || c == r.weight || in.columns()[static_cast<size_t>(c - 1)].isCharacter();
    for (int k = 0; k < by.count; ++k) other = other || by.numbers[k] == c;
    if (!other) r.vars.push_back(c);
  }
  return r;
}

std::string columnName(const InputTable& in, int number) {
  return number > 0 ? in.columns()[static_cast<size_t>(number - 1)].name : std::string();
}

std::vector<std::string> variableNames(const InputTable& in, const Roles& r) {
  std::vector<std::string> out;
  for (int v : r.vars) out.push_back(columnName(in, v));
  return out;
}

// ---- the rows read by zul ----

// One record's part in the sums: 0 used, 1 dropped for a missing value,
// 2 for its frequency, 3 for its weight.
int recordStatus(const double* v, size_t n, bool hasFreq, bool hasWeight, double& fq, double& wt) {
  fq = 1, wt = 1;
  size_t at = n;
  if (hasFreq) {
    const double f = v[at++];
    if (table::isMissing(f) || std::trunc(f) <= 0) return 2;
    fq = std::trunc(f);
  }
  if (hasWeight) {
    const double w = v[at];
    if (table::isMissing(w) || w <= 0) return 3;
    wt = w;
  }
  for (size_t i = 0; i < n; ++i)
    if (table::isMissing(v[i])) return 1;
  return 0;
}

// Adds a used record to the group's sums, about the group's first used
// record (a value near the means, so that large means keep their digits)
// unless a shift was given.
void addRecord(sqlgen::XpxGroup& g, const double* x, double cw, bool shiftGiven) {
  const size_t n = g.sums.size();
  if (g.nUsed == 1 && !shiftGiven) g.shift.assign(x, x + n);
  std::vector<double> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = x[i] - g.shift[i];
  size_t p = 0;
  for (size_t i = 0; i < n; ++i) {
    g.sums[i] += cw * d[i];
    for (size_t j = 0; j <= i; ++j) g.packed[p++] += cw * d[i] * d[j];
  }
}

sqlgen::XpxGroup emptyGroup(size_t n) {
  sqlgen::XpxGroup g;
  g.sums.assign(n, 0.0);
  g.shift.assign(n, 0.0);
  g.packed.assign(kernels::packedSize(n), 0.0);
  return g;
}

// The means of g when its shift lies so far from them, against the
// spread, that Q - S S'/W cancels more than 13 bits of a variance (an
// observation of overwhelming weight away from the first one); else none.
std::vector<double> farShiftMeans(const sqlgen::XpxGroup& g) {
  const double w = g.weightsUsed;
  if (!(w > 0) || !std::isfinite(w)) return {};
  bool far = false;
  std::vector<double> means(g.sums.size());
  for (size_t i = 0; i < means.size(); ++i) {
    const double raw = g.packed[kernels::packedIndex(i, i)];
    if (kernels::centringCancels(raw, g.sums[i] * g.sums[i] / w)) far = true;
    means[i] = g.shift[i] + g.sums[i] / w;
    if (!std::isfinite(means[i])) return {};
  }
  return far ? means : std::vector<double>{};
}

// The current group of DATA= summarised from its records, about `shift`
// when given.
sqlgen::XpxGroup summariseRecords(InputTable& in, const Roles& r,
                                  const std::vector<double>& shift) {
  const size_t n = r.vars.size();
  table::ReadList list(in, static_cast<int>(n) + (r.freq > 0) + (r.weight > 0));
  int slot = 0;
  for (int v : r.vars) list.bind(slot++, v, false, 8);
  if (r.freq > 0) list.bind(slot++, r.freq, false, 8);
  if (r.weight > 0) list.bind(slot++, r.weight, false, 8);
  sqlgen::XpxGroup g = emptyGroup(n);
  if (!shift.empty()) g.shift = shift;
  std::vector<double> v(static_cast<size_t>(slot));
  while (list.read(v.data(), nullptr)) {
    double fq = 1, wt = 1;
    const int st = recordStatus(v.data(), n, r.freq > 0, r.weight > 0, fq, wt);
    g.nRead += 1;
    if (st != 2) g.freqRead += fq;
    if (st <= 1) g.weightsRead += fq * wt;
    if (st == 1) g.nMissing += 1;
    if (st != 0) continue;
    g.nUsed += 1;
    g.freqUsed += fq;
    g.weightsUsed += fq * wt;
    addRecord(g, v.data(), fq * wt, !shift.empty());
  }
  return g;
}

// " in the BY group g=1" for a message about the current group, on one
// line whatever its values hold; empty without BY variables.
std::string byGroupPhrase(const InputTable& in, const char* words) {
  if (in.by().variables.empty()) return {};
  return words + messages::printableLine(in.byDescription());
}

// Stops the step when a group's sums overflowed (`at` from
// sqlgen::xpxOverflow): the table cannot hold an infinite sum, and a
// missing one would be refused by every step that reads it.
void stopOnOverflow(int at, const InputTable& in, const std::vector<std::string>& variables) {
  if (at == sqlgen::kXpxNoOverflow) return;
  const std::string group = byGroupPhrase(in, " in the BY group ");
  if (at == sqlgen::kXpxWeightsOverflow)
    throw table::TableError(
        "The frequencies or weights of the observations" + group +
        " add up to more than the largest number (about 1.8e308), so their sums cannot be "
        "stored. Correct the values of the FREQ variable, or divide the WEIGHT variable by a "
        "power of 10.");
  throw table::TableError("The crossproducts of variable " +
                          messages::printableLine(variables[static_cast<size_t>(at)]) +
                          group +
                          " exceed the largest number (about 1.8e308), so they cannot be stored. "
                          "Rescale the variable (divide it by a power of 10) and run again.");
}

// The current group of DATA= summarised; a group summed about a row far
// from its means is read again about them.
sqlgen::XpxGroup summariseGroup(InputTable& in, const Roles& r) {
  sqlgen::XpxGroup g = summariseRecords(in, r, {});
  stopOnOverflow(sqlgen::xpxOverflow(g), in, variableNames(in, r));
  const std::vector<double> means = farShiftMeans(g);
  if (means.empty()) return g;
  in.rewindGroup();
  g = summariseRecords(in, r, means);
  stopOnOverflow(sqlgen::xpxOverflow(g), in, variableNames(in, r));
  if (!farShiftMeans(g).empty())
    throw table::TableError(
        "The WEIGHT and FREQ values" +
        byGroupPhrase(in, " of the BY group ") +
        " are too unequal for the variances to be computed: a few observations outweigh the"
        " others so far that the rounding of the means swamps the spread. Summarise the"
        " observations of overwhelming weight apart, or give them less weight.");
  return g;
}

void summariseRows(InputTable& in, const Roles& r, OutputTable& out, const std::string& dname) {
  declareXpxColumns(out, variableNames(in, r), [&] { out.copyByColumns(in); });
  const bool byGroups = !in.by().variables.empty();
  for (int key = 1; in.nextByGroup() == 1; ++key)
    writeXpxGroup(out, summariseGroup(in, r), byGroups ? key : 0, dname);
}

// ---- the rows summarised inside the database ----

bool optionIs(const char* name, const char* value) {
  const auto v = session().options.get(name);
  return v && *v == value;
}

// The passes of the aggregate: -sqlpasses when set, else SQLPASSES=.
int sqlPasses() {
  const int level = session().options.switchLevel("-sqlpasses");
  if (level > 0) return level;
  return optionIs("SQLPASSES", "1") ? 1 : 2;
}

void echo(const std::string& sql) {
  if (optionIs("SQLECHO", "YES") || session().options.switchLevel("-zsqlsco1") > 0)
    logLine(ZUL_LOG_NOTE, sql);
}

// Why DATA= cannot be summarised inside its database; empty when it can.
std::string reasonAgainst(const InputTable& in, const Roles& r) {
  if (!in.inDatabase()) return "not a database";
  if (optionIs("INDB", "NO")) return "the host option INDB=NO is set";
  if (in.by().notSorted) return "the BY statement says NOTSORTED";
  for (const auto& b : in.by().variables)
    if (b.descending) return "a BY variable is DESCENDING";
  const int n = static_cast<int>(r.vars.size());
  if (static_cast<int>(in.by().variables.size()) + sqlgen::CrossLayout{0, n}.columns() >
      kMaxResultColumns)
    return "too many variables for one statement";
  return {};
}

// A BY column's display format, which forms its groups; empty when it has
// none or one that does not fit its type.
std::string byFormat(const table::Column& c) {
  const auto f = sqlgen::parsePutFormat(c.format);
  return f && f->character == c.isCharacter() ? c.format : std::string();
}

// A column's class for the generators: a date, time or timestamp is summed
// as the days or seconds since 1960 that the row path reads from it.
int columnClass(const table::Column& c) {
  switch (c.temporal) {
    case table::Temporal::Date: return sqlgen::kTypeDate;
    case table::Temporal::Time: return sqlgen::kTypeTime;
    case table::Temporal::Timestamp: return sqlgen::kTypeTimestamp;
    default: return sqlgen::kTypeNumeric;
  }
}

// `classes` (zul's reading of the columns `names` of `from`) with the
// booleans and single precision reals the database describes: PostgreSQL
// refuses to cast a boolean to a double, and a real's binary value is not
// the decimal the row path reads. Unchanged when the database cannot say.
std::vector<int> withDescribedNumbers(table::db::Connection& db, const std::string& from,
                                      const std::vector<std::string>& names, std::vector<int> classes) {
  if (names.empty()) return classes;
  std::string probe = "SELECT ";
  for (size_t i = 0; i < names.size(); ++i) probe += (i ? ", " : "") + sqlgen::quoteIdentifier(names[i]);
  try {
    const std::vector<int> codes = db.describeQuery(probe + " FROM " + from);
    for (size_t i = 0; i < codes.size() && i < classes.size(); ++i) {
      const int described = sqlgen::classifySqlType(codes[i]);
      if (classes[i] == sqlgen::kTypeNumeric && (described == sqlgen::kTypeBoolean || described == sqlgen::kTypeReal))
        classes[i] = described;
    }
  } catch (const table::TableError&) {
  }
  return classes;
}

sqlgen::CrossRequest crossRequest(const InputTable& in, const Roles& r) {
  sqlgen::CrossRequest q;
  table::db::Connection& db = *in.ref().database;
  q.dialect = db.dialect() == table::db::Dialect::PostgreSQL ? sqlgen::Dialect::kPostgres : sqlgen::Dialect::kSqlite;
  q.from = table::db::Connection::quoteName(in.ref().dbTable);
  q.variables = variableNames(in, r);
  for (int v : r.vars) q.types.push_back(columnClass(in.columns()[static_cast<size_t>(v - 1)]));
  q.types = withDescribedNumbers(db, q.from, q.variables, q.types);
  for (int c : in.byColumns()) {
    const table::Column& column = in.columns()[static_cast<size_t>(c)];
    q.byTypes.push_back(columnClass(column));
    q.by.push_back(column.name);
    q.byFormats.push_back(byFormat(column));
    q.byCharacter.push_back(column.isCharacter());
  }
  q.byTypes = withDescribedNumbers(db, q.from, q.by, q.byTypes);
  q.freq = columnName(in, r.freq);
  q.weight = columnName(in, r.weight);
  return q;
}

zul_table* queryTable(zul_table* data, const std::string& sql, const char* member) {
  echo(sql);
  return services::svcDbQueryTable(data, sql.c_str(), static_cast<int32_t>(sql.size()), member);
}

// The first usable row of DATA=: the shift of one pass (zeros when none).
std::vector<double> firstRowShift(zul_table* data, const sqlgen::CrossRequest& q) {
  const size_t n = q.variables.size();
  std::vector<double> shift(n, 0.0);
  zul_table* t = queryTable(data, sqlgen::firstUsableRowStatement(q), "_ZSHIFT_");
  if (!t || t->input->nextByGroup() != 1) return shift;
  table::ReadList list(*t->input, static_cast<int>(n));
  for (size_t i = 0; i < n; ++i) list.bind(static_cast<int>(i), static_cast<int>(i) + 1, false, 8);
  std::vector<double> row(n);
  if (list.read(row.data(), nullptr)) shift = row;
  for (double& x : shift)
    if (table::isMissing(x)) x = 0.0;
  return shift;
}

// The quoted leaf partitions of a PostgreSQL partitioned table with a
// foreign partition; none for any other table, or when the list cannot be
// read whole (the table is then summed as one).
std::vector<std::string> leafPartitions(zul_table* data, const sqlgen::CrossRequest& q) {
  constexpr int kWidth = 300;  // two quoted names of at most 63 bytes, doubled quotes
  std::vector<std::string> parts;
  if (q.dialect != sqlgen::Dialect::kPostgres) return parts;
  zul_table* t = queryTable(data, sqlgen::leafPartitionsQuery(q.from), "_ZPARTS_");
  if (!t || t->input->nextByGroup() != 1) return parts;
  try {
    table::ReadList list(*t->input, 1);
    list.bind(0, 1, true, kWidth);
    double unused = 0;
    char text[kWidth];
    while (list.read(&unused, text)) {
      std::string name(text, kWidth);
      name.erase(name.find_last_not_of(' ') + 1);  // a quoted name never ends in a blank
      parts.push_back(name);
    }
  } catch (const table::TableError&) {
    parts.clear();
  }
  return parts;
}

// Whether every BY group of the parts may be summed about the common
// `shift` (sqlgen::commonShiftFits()), told by a first pass of the parts'
// moments about the shift itself, which their servers run as well (about
// zero, the variances of values near 1e10 with a spread of 30 would cancel
// away, and every such table would be summed whole, its rows fetched).
// False when that pass cannot be read whole.
bool commonShiftFits(zul_table* data, const std::vector<std::string>& parts, const sqlgen::CrossRequest& q,
                     const std::vector<double>& shift) {
  const int n = static_cast<int>(q.variables.size());
  const int nBy = static_cast<int>(q.by.size());
  const int width = sqlgen::CrossLayout{0, n}.columns();
  zul_table* t = queryTable(
      data, sqlgen::partsCrossproductStatement(q, parts, sqlgen::ShiftKind::kConstant, shift),
      "_ZMOM_");
  if (!t || t->input->nextByGroup() != 1) return false;
  try {
    std::vector<double> row(static_cast<size_t>(width));
    // The table takes the step's BY groups: one row in each.
    do {
      table::ReadList list(*t->input, width);
      for (int c = 0; c < width; ++c) list.bind(c, nBy + c + 1, false, 8);
      while (list.read(row.data(), nullptr))
        if (!sqlgen::commonShiftFits(row, n, {})) return false;
    } while (t->input->nextByGroup() == 1);
  } catch (const table::TableError&) {
    return false;
  }
  return true;
}

// The aggregate statement of DATA=. A partitioned table spread over other
// servers is summed partition by partition about its first usable row, so
// that each foreign partition's aggregate runs whole on its server
// (postgres_fdw does not send a join of rows with their means there).
std::string crossproductSql(zul_table* data, const sqlgen::CrossRequest& q, bool& onePass) {
  using sqlgen::ShiftKind;
  const std::vector<std::string> parts = leafPartitions(data, q);
  if (!parts.empty()) {
    // Without BY groups the first row is as good a shift as in one pass.
    const std::vector<double> shift = firstRowShift(data, q);
    if (q.by.empty() || commonShiftFits(data, parts, q, shift)) {
      onePass = true;
      return sqlgen::partsCrossproductStatement(q, parts, ShiftKind::kConstant, shift);
    }
  }
  if (onePass) return sqlgen::crossproductStatement(q, ShiftKind::kConstant, firstRowShift(data, q));
  return sqlgen::crossproductStatement(q, ShiftKind::kMeans);
}

// The aggregate's row of the current group, in the order of CrossLayout.
// One pass sums about the table's first usable row: a group whose means
// lie more than 1000 standard deviations from it has lost most digits of
// its variances, and is refused rather than stored.
sqlgen::XpxGroup aggregateGroup(InputTable& t, const std::vector<std::string>& variables,
                                bool onePass) {
  const int n = static_cast<int>(variables.size());
  const std::vector<std::string> names = sqlgen::crossColumnNames(n);
  table::ReadList list(t, static_cast<int>(names.size()));
  for (size_t k = 0; k < names.size(); ++k) {
    const int number = t.varNumber(names[k]);
    if (number <= 0)
      throw table::TableError("The database's crossproducts lack the column " + names[k] + ".");
    list.bind(static_cast<int>(k), number, false, 8);
  }
  std::vector<double> row(names.size(), table::missingValue());
  if (!list.read(row.data(), nullptr))
    throw table::TableError("The database returned no crossproducts.");
  stopOnOverflow(sqlgen::aggregateOverflow(row.data(), n), t, variables);
  constexpr double kFarShift = 1e6;  // in variances
  if (onePass && !sqlgen::commonShiftFits(row, n, {}, kFarShift))
    throw table::TableError(
        "The one-pass sums (SQLPASSES=1) were taken about a row too far from the means of the "
        "data" + byGroupPhrase(t, " in the BY group ") +
        " to keep the digits of its variances. Run the step with OPTIONS SQLPASSES=2.");
  // A null (a group without a usable record) reads as missing, which
  // xpxFromAggregate takes as 0.
  return sqlgen::xpxFromAggregate(row.data(), n);
}

// False when the database could not compute them (the rows are read then).
bool summariseInDatabase(zul_table* data, const Roles& r, OutputTable& out,
                         const std::string& dname) {
  InputTable& in = *data->input;
  const sqlgen::CrossRequest q = crossRequest(in, r);
  bool onePass = sqlPasses() == 1;
  const std::string sql = crossproductSql(data, q, onePass);
  zul_table* sums = queryTable(data, sql, "_ZSQL_");
  if (!sums) return false;
  InputTable& t = *sums->input;
  declareXpxColumns(out, q.variables, [&] { out.copyByColumns(t); });
  const bool byGroups = !q.by.empty();
  for (int key = 1; t.nextByGroup() == 1; ++key)
    writeXpxGroup(out, aggregateGroup(t, q.variables, onePass),
                  byGroups ? key : 0,
                  dname);
  logLine(
      ZUL_LOG_NOTE,
      "The crossproducts of " + in.displayName() + " were computed inside the database (" +
          (onePass ? "one pass about its first usable row" : "two passes, about the group means") +
          ").");
  return true;
}

// ---- the step ----

table::BySpec bySpecOf(const parse::ParsedStep& parsed) {
  table::BySpec by;
  for (const auto& b : parsed.byNames) by.variables.push_back({b.name, b.descending});
  by.notSorted = parsed.byNotSorted;
  return by;
}

// "file:line:column: " of the option or statement as written (of the step
// when it was not), so that the step's own errors point where the parser's do.
std::string placeOf(const services::StepContext& ctx, const std::string& name) {
  const std::string where = ctx.parsed->locationOf(name);
  return where.empty() ? where : where + ": ";
}

// The name _DNAME_ holds: at most 42 bytes, a UTF-8 character that does
// not fit left out whole (a database refuses the bytes of a cut one).
std::string dataName(const InputTable& in) {
  return sqlgen::putText(in.displayName(), sqlgen::PutFormat{true, 42, 0});
}

// A column name the crossproduct table would have twice: a variable named
// as one of its own columns (_NREAD_, _Q1_1_, _SHIFT1_ ...), a BY variable
// also summed, or a variable listed twice. Empty when there is none.
std::string repeatedColumn(const services::StepContext& ctx, const InputTable& in, const Roles& r) {
  std::vector<std::string> by;
  for (const auto& b : ctx.parsed->byNames) by.push_back(b.name);
  // One pass over the names in the case sameName() ignores: a table of many
  // variables has hundreds of thousands of _Qi_j_ columns.
  std::unordered_set<std::string> seen;
  for (const std::string& name : sqlgen::xpxColumnNames(by, variableNames(in, r))) {
    std::string key = name;
    for (char& c : key)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!seen.insert(std::move(key)).second) return name;
  }
  return {};
}

int summarise(services::StepContext& ctx, zul_table* data, OutputTable& out) {
  const zul_parsed& p = *ctx.parsed->record();
  InputTable& in = *data->input;
  in.setBy(bySpecOf(*ctx.parsed));
  const Roles r = rolesOf(p, in);
  if (r.vars.empty()) {
    logLine(ZUL_LOG_ERROR, placeOf(ctx, p.lists[ZUL_LIST_VAR].given ? "VAR" : "DATA=") +
                               "CROSSPRODUCTS: " + in.displayName() +
                               " has no numeric variable to summarise.");
    return kStopped;
  }
  if (const std::string name = repeatedColumn(ctx, in, r); !name.empty()) {
    logLine(ZUL_LOG_ERROR, placeOf(ctx, p.lists[ZUL_LIST_VAR].given ? "VAR" : "DATA=") +
                               "CROSSPRODUCTS: the crossproduct table would have two columns "
                               "named " + name + ": rename the variable, or list it once (the "
                               "table's own columns are _NREAD_ ... _DNAME_, _Qi_j_ and "
                               "_SHIFTi_).");
    return kStopped;
  }
  const std::string reason = reasonAgainst(in, r);
  if (reason.empty() && summariseInDatabase(data, r, out, dataName(in))) return 0;
  if (in.inDatabase())
    logLine(ZUL_LOG_NOTE, "The crossproducts of " + in.displayName() +
                              " are computed from its rows" +
                              (reason.empty() ? std::string(".") : ": " + reason + "."));
  summariseRows(in, r, out, dataName(in));
  return 0;
}

bool anyRoleGiven(const zul_parsed& p) {
  for (int l : {ZUL_LIST_VAR, ZUL_LIST_BY, ZUL_LIST_FREQ, ZUL_LIST_WEIGHT})
    if (p.lists[l].given) return true;
  return false;
}

int runParsed(services::StepContext& ctx) {
  const zul_parsed& p = *ctx.parsed->record();
  zul_table* data = p.tables[ZUL_DS_DATA];
  zul_table* out = p.tables[ZUL_DS_OUT];
  zul_table* add = p.tables[ZUL_DS_TARGET];
  if (!data || !data->input) {
    logLine(ZUL_LOG_ERROR, placeOf(ctx, "DATA=") +
                               "CROSSPRODUCTS needs DATA=: no table has been written before it.");
    return kStopped;
  }
  if (!out || !out->output) {
    logLine(ZUL_LOG_ERROR,
            placeOf(ctx, "OUT=") + "CROSSPRODUCTS needs OUT=, the crossproduct table to write.");
    return kStopped;
  }
  out->columnsLaidOut = true;  // declared here, not through the module's services
  if (isXpxTable(*data->input)) {
    if (anyRoleGiven(p)) {
      logLine(ZUL_LOG_ERROR, placeOf(ctx, "DATA=") + "CROSSPRODUCTS: " +
                                 data->input->displayName() +
                                 " is a crossproduct table, combined whole: VAR, BY, FREQ and "
                                 "WEIGHT do not apply to it.");
      return kStopped;
    }
    combineXpxTables(*data->input, add ? add->input.get() : nullptr, *out->output);
    return 0;
  }
  if (add) {
    logLine(ZUL_LOG_ERROR, placeOf(ctx, "ADD=") +
                               "CROSSPRODUCTS: ADD= adds to a crossproduct table, and DATA=" +
                               data->input->displayName() + " is none.");
    return kStopped;
  }
  return summarise(ctx, data, *out->output);
}

}  // namespace

int runCrossproducts(services::StepContext& ctx) {
  LogDiagnostics diagnostics;
  services::HostTableOpener opener;
  int status = 0;
  try {
    ctx.parsed = parse::parseStep(*ctx.step, kGrammar, opener, diagnostics, status);
    if (status != 0) return status;
    zul_table* data = ctx.parsed->record()->tables[ZUL_DS_DATA];
    if (data && data->input && !services::applyStepFormats(*ctx.step, *data->input))
      return parse::kParseVariableError;
    return runParsed(ctx);
  } catch (const std::exception& e) {
    logLine(ZUL_LOG_ERROR, e.what());
    return kStopped;
  }
}

}  // namespace zul::program
