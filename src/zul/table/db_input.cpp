// zul/table/db_input.cpp -- reading a table of a database library: the
// cursor of db_cursor.hpp, with the columns from the catalogue and the
// rows of one ordered query.
#include <algorithm>
#include <cmath>

#include "zul/table/column_format.hpp"
#include "zul/table/csv.hpp"
#include "zul/table/db_cursor.hpp"
#include "zul/table/db_dates.hpp"
#include "sqlgen/column_types.hpp"
#include "sqlgen/dialect.hpp"
#include "sqlgen/put_format.hpp"
#include "sqlgen/sqlite_dates.hpp"

namespace zul::table::detail {

using db::ColumnKind;
using db::Connection;
using db::Dialect;

namespace {

constexpr size_t kMaxNameLength = 32;  // bytes of a variable name

// A format as zul_put takes it: "8.2", "8." or "$20.".
std::string putFormatText(const sqlgen::PutFormat& f) {
  if (f.character) return "$" + std::to_string(f.width) + ".";
  return std::to_string(f.width) + "." + (f.decimals ? std::to_string(f.decimals) : "");
}

Temporal temporalOf(ColumnKind k) {
  switch (k) {
    case ColumnKind::Date: return Temporal::Date;
    case ColumnKind::Time: return Temporal::Time;
    case ColumnKind::Timestamp: return Temporal::Timestamp;
    default: return Temporal::None;
  }
}

bool isBoolean(const db::DbColumn& c) { return c.declared == "boolean"; }

// How a PostgreSQL column is read: as double precision when that is exact
// (integers, booleans as 0 and 1, doubles), which come in binary form,
// otherwise as text (numeric and real keep their decimal text, dates and
// times their ISO form).
std::string pgReadCast(const db::DbColumn& c) {
  static const char* const exact[] = {"smallint", "integer", "bigint", "double precision"};
  if (isBoolean(c)) return "::int::float8";
  if (c.kind == ColumnKind::Number)
    for (const char* t : exact)
      if (c.declared == t) return "::float8";
  return "::text";
}

// Numeric column q as its BY value orders: NaN and the infinities, and
// text that SQLite keeps in a numeric column, which zul reads as missing,
// as null, first with the missing values (the database orders them after
// every number). PostgreSQL keeps the column's type: a numeric beyond the
// range of a double cannot be cast to one.
std::string finiteOrNull(const db::DbColumn& c, const std::string& q, bool pg) {
  if (!pg) return sqlgen::finiteOrNull(sqlgen::Dialect::kSqlite, sqlgen::columnNumber(sqlgen::Dialect::kSqlite, q, sqlgen::kTypeNumeric));
  const bool floating = c.declared == "double precision" || c.declared == "real" ||
                        c.declared.rfind("numeric", 0) == 0;  // "numeric(10,2)" too
  if (!floating) return q;
  return "CASE WHEN " + q + " IN ('NaN', 'Infinity', '-Infinity') THEN NULL ELSE " + q + " END";
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

DbCursor::DbCursor(std::shared_ptr<Connection> conn, std::string table, std::string display)
    : conn_(std::move(conn)), table_(std::move(table)), display_(std::move(display)) {
  // Every pass over the table, and a group read again by its position in
  // the ordered rows, must see the same rows: one transaction (a snapshot
  // in PostgreSQL, a read lock in SQLite) holds from opening to release().
  conn_->begin();
  held_ = true;
  try {
    describeColumns();
  } catch (...) {
    release();
    throw;
  }
}

void DbCursor::describeColumns() {
  dbColumns_ = conn_->tableColumns(table_);
  if (dbColumns_.empty())
    throw TableError("Table " + display_ + " has no columns that zul can read.");
  for (size_t c = 0; c < dbColumns_.size(); ++c) {
    const db::DbColumn& d = dbColumns_[c];
    if (d.name.size() > kMaxNameLength)
      throw TableError("Table " + display_ + ": the name of column " + d.name.substr(0, 40) +
                       "... is longer than the " + std::to_string(kMaxNameLength) +
                       " characters a variable name may have; select it under a shorter "
                       "name in a view.");
    for (size_t e = 0; e < c; ++e)
      if (sameName(dbColumns_[e].name, d.name))
        throw TableError("Table " + display_ + " has two columns named " + d.name +
                         " but for case; zul compares names without regard to case.");
    Column col;
    col.name = d.name;
    col.type = d.kind == ColumnKind::Text ? ColumnType::Character : ColumnType::Numeric;
    col.temporal = temporalOf(d.kind);
    columns.push_back(col);
  }
  for (Row& r : rows_) {
    r.num.assign(columns.size(), missingValue());
    r.text.assign(columns.size(), std::string());
    r.null.assign(columns.size(), true);
    r.textKept.assign(columns.size(), true);
  }
}

DbCursor::~DbCursor() {
  try {
    release();
  } catch (...) {
  }
}

namespace {

// What the first look learns of one column: its count of values, the
// longest text of a text column, and (SQLite, where a column without a
// declared type may hold anything) how many of its values are text.
enum class Fact { Count, Longest, Texts };
struct Probe {
  size_t col;
  Fact fact;
  std::string sql;
};

std::vector<Probe> columnProbes(const std::vector<db::DbColumn>& cols, const std::string& table,
                                bool pg) {
  std::vector<Probe> probes;
  for (size_t c = 0; c < cols.size(); ++c) {
    const db::DbColumn& d = cols[c];
    const std::string q = Connection::quoteName(d.name);
    // Whether a column holds any value: in PostgreSQL the first row with
    // one ends the search, where count() would take every value of every
    // column through an aggregate (a third of what the server spends
    // sending the rows of a numeric table).
    probes.push_back({c, Fact::Count,
                      pg ? "(SELECT 1 FROM " + table + " WHERE " + q + " IS NOT NULL LIMIT 1)"
                         : "count(" + q + ")"});
    // Widths are needed of text columns only; converting every number to
    // text would cost a pass of its own.
    if (d.kind == ColumnKind::Text)
      probes.push_back({c, Fact::Longest, pg ? "max(octet_length(" + q + "::text))"
                                             : "max(length(CAST(" + q + " AS BLOB)))"});
    if (!pg && d.declared.empty())
      probes.push_back({c, Fact::Texts, "sum(typeof(" + q + ") IN ('text','blob'))"});
  }
  return probes;
}

// A statement has at most 1664 result columns in PostgreSQL and 2000 in
// SQLite; a wide table is looked at in several statements of this many.
constexpr size_t kProbesPerStatement = 500;

}  // namespace

// Aggregate queries, all in the cursor's transaction: the row count, and
// the facts of columnProbes() in statements of kProbesPerStatement.
void DbCursor::scan() {
  const bool pg = conn_->dialect() == Dialect::PostgreSQL;
  const std::vector<Probe> probes = columnProbes(dbColumns_, Connection::quoteName(table_), pg);
  std::vector<double> count(columns.size()), longest(columns.size()), texts(columns.size());
  rows = -1;
  size_t at = 0;
  do {
    const size_t end = std::min(probes.size(), at + kProbesPerStatement - 1);
    // The rows are counted when a probe goes over them anyway: a count of
    // its own would be a pass over the whole table for a number that only
    // a progress line would show.
    const bool counted = !pg || std::any_of(probes.begin() + static_cast<std::ptrdiff_t>(at),
                                            probes.begin() + static_cast<std::ptrdiff_t>(end),
                                            [](const Probe& p) { return p.fact != Fact::Count; });
    std::string sql = counted ? "SELECT count(*)" : "SELECT NULL";
    for (size_t p = at; p < end; ++p) sql += ", " + probes[p].sql;
    if (counted) sql += " FROM " + Connection::quoteName(table_);
    std::unique_ptr<db::RowStream> r;
    try {
      r = conn_->query(sql);
    } catch (const TableError& e) {
      throw TableError("Table " + display_ + " (" + std::to_string(dbColumns_.size()) +
                       " columns) could not be looked at: " + e.what());
    }
    if (!r->next()) return;
    double n = 0;
    if (!r->isNull(0) && parseNumber(r->text(0), n)) rows = static_cast<int64_t>(n);
    for (size_t p = at; p < end; ++p) {
      const int field = static_cast<int>(p - at + 1);
      if (r->isNull(field)) continue;
      const Probe& pr = probes[p];
      double& v = pr.fact == Fact::Count ? count[pr.col]
                  : pr.fact == Fact::Longest ? longest[pr.col] : texts[pr.col];
      parseNumber(r->text(field), v);
    }
    at = end;
  } while (at < probes.size());
  valued.assign(columns.size(), false);
  for (size_t c = 0; c < columns.size(); ++c) {
    valued[c] = count[c] > 0;
    Column& col = columns[c];
    if (!pg && dbColumns_[c].declared.empty() && count[c] > 0 && texts[c] == 0) {
      col.type = ColumnType::Numeric;  // an untyped SQLite column of numbers
      dbColumns_[c].kind = ColumnKind::Number;
    }
    col.width = col.isCharacter() ? std::max(1, static_cast<int>(longest[c])) : 8;
  }
}

std::string DbCursor::readCatalogue(std::string& type, std::string& label) {
  // A user's own table of that name holds nothing of zul's; one the user
  // may not read leaves the tables without their labels and formats. The
  // catalogue is the one of the table's schema: a table of the same name
  // in another schema of the search path has its own TYPE and labels.
  const std::string schema = conn_->schemaOf(table_);
  const auto catalogue = conn_->findTableIn(schema, "zul_tables");
  if (!catalogue) return {};
  if (std::string problem = db::catalogueProblem(*conn_, false, schema); !problem.empty())
    return problem;
  auto r = conn_->query("SELECT column_name, type, label FROM " +
                            Connection::qualifiedName(schema, *catalogue) + " WHERE table_name = " +
                            conn_->placeholder(1),
                        {db::Value::of(table_)});
  while (r->next()) {
    const std::string column(r->text(0));
    if (column.empty()) {
      type = std::string(r->text(1));
      label = std::string(r->text(2));
      continue;
    }
    for (Column& c : columns) {
      if (c.name != column) continue;
      c.label = std::string(r->text(2));
      c.format = storedFormat(r->text(1), display_, c.name);
    }
  }
  return {};
}

void DbCursor::setBy(const ByKeys& keys) {
  by = keys;
  rewindTable();
}

// The order zul compares BY values in: missing first, text by its bytes
// without trailing blanks. A BY variable with a display format followed by
// other BY variables is ordered by its formatted value, as its groups are
// formed: by its own values, (2, "b") of the group "2" of a "1." format
// would come before (2.4, "a") of that group and split it. Its own values
// then order the rows of a group last, so that the group's first row has
// its smallest value, the value the in-database path gives the group.
std::string DbCursor::byOrderSql() const {
  const bool pg = conn_->dialect() == Dialect::PostgreSQL;
  const sqlgen::Dialect dialect = pg ? sqlgen::Dialect::kPostgres : sqlgen::Dialect::kSqlite;
  std::string sql, rawAfter;
  for (size_t k = 0; k < by.cols.size(); ++k) {
    const db::DbColumn& d = dbColumns_[static_cast<size_t>(by.cols[k])];
    // Qualified: PostgreSQL takes a bare name in ORDER BY for the output
    // column of that name, which is the value cast to text (dates, numeric),
    // and would order 10000-01-01 before 2020-02-02.
    const std::string q = Connection::quoteName(table_) + "." + Connection::quoteName(d.name);
    const std::string direction =
        std::string(by.desc[k] ? " DESC" : "") + (pg ? (by.desc[k] ? " NULLS LAST" : " NULLS FIRST") : "");
    std::string value;
    // A null, an empty and a blank text are one missing value, the smallest:
    // as a null and '' they would be two runs of rows, and a later BY
    // variable would seem unsorted across them.
    if (by.isChar[k])
      value = sqlgen::inByteOrder(dialect, "coalesce(" + sqlgen::comparedText(dialect, q) + ", '')");
    else if (pg && isBoolean(d)) value = q + "::int";
    else if (d.kind == ColumnKind::Number) value = finiteOrNull(d, q, pg);
    // An infinite date or timestamp is missing to zul: ordered with the
    // nulls, not after (or before) every other value.
    else if (pg && d.kind != ColumnKind::Time) value = "CASE WHEN isfinite(" + q + ") THEN " + q + " END";
    else if (pg) value = q;
    // SQLite keeps a date or time as text (or a number) in any spelling
    // zul reads: '2020-01-01T10:00' sorts after '2020-01-01 10:00:30' as
    // text. Ordered by the value zul reads, as the in-database path groups.
    else value = d.kind == ColumnKind::Date   ? sqlgen::sqliteTextDays(q)
                 : d.kind == ColumnKind::Time ? sqlgen::sqliteTextSecondsOfDay(q)
                                              : sqlgen::sqliteTextSeconds(q);
    const sqlgen::PutFormat* f = by.formatOf(k);
    const bool putTakes = by.isChar[k] ? d.kind == ColumnKind::Text
                                       : d.kind == ColumnKind::Number && !isBoolean(d);
    const bool keyed = f && k + 1 < by.cols.size() && putTakes;
    if (keyed && !conn_->hasPutFunctions())
      throw TableError("Table " + display_ + ": the rows cannot be sorted by the formatted values of the BY "
                       "variable " + d.name + ", which another BY variable follows, because zul could not "
                       "create its temporary function zul_put in the database (the user needs the TEMP "
                       "right there). Grant it, or run the step without a display format for " + d.name + ".");
    if (keyed) {
      // Text in byte order: zul_put takes the collation of its argument,
      // and PostgreSQL refuses a nondeterministic one in its regular
      // expressions.
      const std::string put =
          sqlgen::putCall(dialect, by.isChar[k] ? sqlgen::inByteOrder(dialect, q) : value, putFormatText(*f));
      rawAfter += ", " + value + direction;
      value = by.isChar[k] ? sqlgen::inByteOrder(dialect, "coalesce(" + put + ", '')")
                           : "CAST(" + put + (pg ? " AS double precision)" : " AS REAL)");
    }
    if (k) sql += ", ";
    sql += value + direction;
  }
  return sql + rawAfter;
}

std::string DbCursor::selectSql(int64_t offset) const {
  const bool pg = conn_->dialect() == Dialect::PostgreSQL;
  std::string sql = "SELECT ";
  for (size_t c = 0; c < dbColumns_.size(); ++c) {
    const db::DbColumn& d = dbColumns_[c];
    const std::string q = Connection::quoteName(d.name);
    if (c) sql += ", ";
    if (pg) sql += q + pgReadCast(d);
    else sql += q;
  }
  sql += " FROM " + Connection::quoteName(table_);
  if (!by.cols.empty()) sql += " ORDER BY " + byOrderSql();
  if (offset > 0) sql += (pg ? " OFFSET " : " LIMIT -1 OFFSET ") + std::to_string(offset);
  return sql;
}

void DbCursor::open(int64_t offset) {
  stream_.reset();
  if (!held_) {
    conn_->begin();
    held_ = true;
  }
  // Without BY groups the rows are wanted in the table's own order, from
  // the start: the database may read parts of the table at once.
  const bool whole = by.cols.empty() && offset == 0;
  stream_ = conn_->queryNumbersAndText(selectSql(offset), whole ? table_ : std::string());
  fetched_ = offset;
  ahead_ = false;
}

// The most a group's kept rows may take, about, to be read again from them.
constexpr size_t kGroupCacheBytes = size_t{8} << 20;

void DbCursor::markGroupStart() {
  groupStart_ = fetched_ - (ahead_ ? 1 : 0);
  // Only BY groups are kept: a table read whole is one group, too large.
  caching_ = !by.cols.empty();
  cached_ = replay_ = cachedBytes_ = 0;
  if (caching_ && ahead_) keep(rows_[1 - cur_]);
}

void DbCursor::keep(const Row& row) {
  cachedBytes_ += columns.size() * (sizeof(double) + sizeof(std::string));
  for (const std::string& t : row.text) cachedBytes_ += t.size();
  if (cachedBytes_ > kGroupCacheBytes) {
    caching_ = false;
    return;
  }
  if (cached_ == cache_.size()) cache_.emplace_back();
  cache_[cached_++] = row;
  replay_ = cached_;
}

bool DbCursor::fetch(Row& row) {
  if (caching_ && replay_ < cached_) {
    row = cache_[replay_++];
    ++fetched_;
    return true;
  }
  if (!stream_ || !stream_->next()) return false;
  ++fetched_;
  for (size_t c = 0; c < columns.size(); ++c) {
    const int i = static_cast<int>(c);
    row.null[c] = stream_->isNull(i);
    if (row.null[c]) {
      row.num[c] = missingValue();
      row.text[c].clear();
      row.textKept[c] = true;
      continue;
    }
    const ColumnKind kind = dbColumns_[c].kind;
    // The text of a number is made only when it is asked for (a numeric
    // column read into a character slot): most rows never need it.
    row.textKept[c] = kind == ColumnKind::Text;
    if (std::optional<double> stored = stream_->storedNumber(i); stored && kind != ColumnKind::Text) {
      // NaN and the infinities of a float column are missing.
      row.num[c] = isMissing(*stored) || !std::isfinite(*stored) ? missingValue() : *stored;
      continue;
    }
    const std::string_view t = stream_->text(i);
    if (row.textKept[c]) row.text[c].assign(t);
    double x;
    const bool ok = kind == ColumnKind::Number || kind == ColumnKind::Text
                        ? parseNumber(t, x)
                        : db::parseTemporal(kind, t, x);
    // A numeric value beyond a double (PostgreSQL numeric 1e400) read as
    // missing would silently drop its row and copy a null: reading stops,
    // as for such a number in a CSV file.
    if (!ok && kind == ColumnKind::Number &&
        detail::classifyNumber(t.data(), t.size(), false) == detail::NumberClass::Number)
      throw TableError("Table " + display_ + ", row " + std::to_string(fetched_) + ", column " +
                       columns[c].name + ": the value " + std::string(t.substr(0, 40)) +
                       (t.size() > 40 ? "..." : "") + " is beyond the range of numbers (magnitudes up to about 1.8e308). "
                       "Correct it, or rescale the column.");
    // NaN and the infinities of a float column are missing, as is text
    // that is no number.
    row.num[c] = ok && !isMissing(x) ? x : missingValue();
  }
  if (caching_) keep(row);
  return true;
}

std::string_view DbCursor::text(int col) const {
  Row& r = rows_[cur_];
  const size_t c = static_cast<size_t>(col);
  if (!r.textKept[c]) {
    const ColumnKind kind = dbColumns_[c].kind;
    r.text[c] = r.null[c] || isMissing(r.num[c]) ? std::string()
                : kind == ColumnKind::Number     ? formatNumber(r.num[c])
                                                 : db::formatTemporal(kind, r.num[c]);
    r.textKept[c] = true;
  }
  return r.text[c];
}

int DbCursor::scratchOrder() const {
  const Row& r = rows_[1 - cur_];
  return by.orderOf([&](int c) { return r.num[static_cast<size_t>(c)]; },
                    [&](int c) { return trimRight(r.text[static_cast<size_t>(c)]); });
}

void DbCursor::takeScratchKey() {
  const Row& r = rows_[1 - cur_];
  by.take([&](int c) { return r.num[static_cast<size_t>(c)]; },
          [&](int c) { return trimRight(r.text[static_cast<size_t>(c)]); });
}

// The database sorted the rows; a collation that orders them otherwise
// than zul compares them would split a group, which must not pass.
ByOrderError DbCursor::orderError(const std::string& before) const {
  return ByOrderError("Table " + display_ + ": the database returned the row " +
                    std::to_string(fetched_) + " (" + by.describe() + ") after a row with " +
                    before + ", which zul orders after it.");
}

// The row after the current record, unless it was read already.
bool DbCursor::readNext() {
  if (!ahead_) {
    if (!fetch(rows_[1 - cur_])) return false;
    ahead_ = true;
  }
  return true;
}

void DbCursor::acceptScratch() {
  cur_ = 1 - cur_;
  ahead_ = false;
  recordNumber = fetched_;
}

void DbCursor::rewindGroup() {
  if (state == State::NotStarted || state == State::Finished) return;
  if (caching_) {
    // The stream stays where it is, after the rows kept.
    replay_ = 0;
    fetched_ = groupStart_;
    ahead_ = false;
  } else {
    open(groupStart_);
  }
  state = State::InGroup;
  hasRecord = false;
}

void DbCursor::rewindTable() {
  caching_ = false;
  stream_.reset();
  state = State::NotStarted;
  hasRecord = false;
  ahead_ = false;
}

void DbCursor::release() {
  rewindTable();
  if (!held_) return;
  held_ = false;
  conn_->end();
}

}  // namespace zul::table::detail
