// zul/table/db_postgres.cpp -- the PostgreSQL connection (libpq): queries
// read through a cursor a batch of rows at a time (the rows of a table by a
// binary COPY on a second connection when it can), rows written by COPY in
// batches, values always sent as parameters.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "sqlgen/column_types.hpp"
#include "sqlgen/put_format.hpp"
#include "zul/table/db_connection.hpp"
#include "zul/table/db_pg_copy.hpp"

namespace zul::table::db {

namespace {

constexpr int kFetchRows = 2000;
constexpr size_t kCopyBytes = 1 << 20;
constexpr int kMaxVarchar = 10485760;
// Dates in ISO form, floats in their shortest exact form, timestamps with
// a time zone shown in UTC, text in UTF-8. A backslash in a string literal
// is itself, as zul quotes strings: a server that still reads it as an
// escape (standard_conforming_strings off) would let a BY value such as
// 'a\' end the literal and change the statement. A table another session holds
// locked stops the step after 10 seconds, as a locked SQLite file does,
// instead of waiting for ever; a lock_timeout the user set is kept.
// No JIT compilation (PostgreSQL 11 and later), unless the connection asks
// for it: the crossproduct aggregate holds thousands of expressions, and
// above jit_above_cost compiling them took far longer than running them
// (200 variables on 1,000 rows: 50 s instead of 4).
constexpr const char* kSessionSettings =
    "SELECT pg_catalog.set_config('lock_timeout', '10s', false) "
    "WHERE pg_catalog.current_setting('lock_timeout') = '0'; "
    "SELECT pg_catalog.set_config('jit', 'off', false) FROM pg_catalog.pg_settings "
    "WHERE name = 'jit' AND source <> 'client'; "
    "SET DateStyle = ISO; SET extra_float_digits = 1; SET TimeZone = 'UTC'; "
    "SET client_encoding = 'UTF8'; SET IntervalStyle = iso_8601; "
    "SET standard_conforming_strings = on";

// Type OIDs of the catalogue pg_type (stable across versions).
enum : Oid {
  kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701,
  kNumeric = 1700, kDate = 1082, kTime = 1083, kTimeTz = 1266, kTimestamp = 1114,
  kTimestampTz = 1184
};

struct Result {
  PGresult* r = nullptr;
  explicit Result(PGresult* res) : r(res) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
};

class PgConnection;

class PgRows : public RowStream {
 public:
  PgRows(PgConnection& conn, std::string cursor, int columns, bool binary)
      : conn_(conn), cursor_(std::move(cursor)), columns_(columns), binary_(binary) {}
  ~PgRows() override;
  int columnCount() const override { return columns_; }
  bool next() override;
  bool isNull(int c) const override { return PQgetisnull(batch_.get(), row_, c) != 0; }
  std::string_view text(int c) const override {
    return {PQgetvalue(batch_.get(), row_, c),
            static_cast<size_t>(PQgetlength(batch_.get(), row_, c))};
  }
  // In binary form a double precision value is its IEEE 754 bytes in
  // network order.
  std::optional<double> storedNumber(int c) const override {
    if (!binary_ || PQftype(batch_.get(), c) != kFloat8 || PQgetlength(batch_.get(), row_, c) != 8)
      return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(batch_.get(), row_, c));
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = bits << 8 | p[k];
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
  }

 private:
  PgConnection& conn_;
  std::string cursor_;
  int columns_;
  bool binary_;
  std::unique_ptr<PGresult, void (*)(PGresult*)> batch_{nullptr, PQclear};
  int row_ = -1;
  bool ended_ = false;
};

// libpq's messages run over lines indented by a tab.
class PgConnection : public Connection {
 public:
  explicit PgConnection(const std::string& conninfo) : shown_(hidePassword(conninfo)) {
    pg_ = PQconnectdb(conninfo.c_str());
    if (!pg_ || PQstatus(pg_) != CONNECTION_OK) {
      // libpq quotes a URI it cannot read, or the part of it at fault.
      // On one line: libpq's text spans two, the second indented by a tab.
      const std::string why =
          pg_ ? oneLine(hidePasswordIn(PQerrorMessage(pg_), conninfo)) : "out of memory";
      PQfinish(pg_);
      pg_ = nullptr;
      throw TableError("The PostgreSQL database (" + shown_ + ") cannot be reached: " + why);
    }
    PQsetNoticeProcessor(pg_, [](void*, const char*) {}, nullptr);  // no chatter on stderr
    execute(kSessionSettings, {});
    // A zul that is interrupted closes its socket, but a backend in a long
    // statement would not see it until the statement ends, and would keep
    // its transaction, its locks and zul's temporary functions meanwhile:
    // it checks the socket every second instead (PostgreSQL 14 and later,
    // on systems that can tell; refused elsewhere, and then left at 0).
    if (PQserverVersion(pg_) >= 140000)
      PQclear(PQexec(pg_, "SET client_connection_check_interval = 1000"));
    conninfo_ = conninfo;
    // The role and the schemas of the search path as they stand now
    // (pg_temp and pg_catalog left out: zul names no table of theirs).
    Result scope(run("SELECT current_user || ':' || "
                     "pg_catalog.current_schemas(false)::text", {}, PGRES_TUPLES_OK));
    nameScope_ = PQgetvalue(scope.r, 0, 0);
    // zul_put and zul_puti (formatted BY values) live in pg_temp and go with
    // the session, so the reading connection creates them too. A server that
    // refuses them (a standby, no TEMP right) leaves formatted BY values to
    // the row path, which cannot sort rows by them either (hasPutFunctions).
    std::string put;
    for (const std::string& f : sqlgen::postgresPutFunctions()) put += f + ";";
    PGresult* created = PQexec(pg_, put.c_str());
    putReady_ = PQresultStatus(created) == PGRES_COMMAND_OK;
    PQclear(created);
    putFunctions_ = put;
    copyReader_ = std::make_unique<PgCopyReader>(conninfo, kSessionSettings, put);
  }
  ~PgConnection() override { PQfinish(pg_); }

  Dialect dialect() const override { return Dialect::PostgreSQL; }
  bool hasPutFunctions() const override { return putReady_; }
  bool lost() const override { return PQstatus(pg_) == CONNECTION_BAD; }
  std::string describe() const override {
    return std::string("PostgreSQL database ") + PQdb(pg_) + " (" + shown_ + ")";
  }
  std::string identity() const override {
    return std::string("pg:") + PQhost(pg_) + ":" + PQport(pg_) + ":" + PQdb(pg_);
  }
  std::string nameScope() const override { return identity() + ":" + nameScope_; }

  [[noreturn]] void fail(const std::string& what, const PGresult* r) {
    std::string why = r ? pgResultReason(r) : pgConnectionReason(pg_);
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    // An error of libpq's own (no SQLSTATE: "server closed the connection
    // unexpectedly") may come before libpq marks the connection bad; an
    // empty statement tells whether the server is still there.
    if (!state && PQstatus(pg_) == CONNECTION_OK) PQclear(PQexec(pg_, ""));
    if (state && std::string_view(state) == "55P03")  // lock_not_available
      why = "a table it needs is held locked by another session beyond the lock timeout; run "
            "the step again when that session's transaction has ended";
    // Two runs writing one table: the second to put it in place finds the
    // catalogue rows or the name taken since its snapshot.
    else if (state && (std::string_view(state) == "40001" || std::string_view(state) == "40P01" ||
                       std::string_view(state) == "42P07"))
      why = "another session wrote the same table or catalogue while this step ran (" + why +
            "); run the step again when it has ended";
    else if (state && std::string_view(state) == "42501")  // insufficient_privilege
      why += "; have the right granted to this user, or use a library that connects as "
             "another user";
    else
      why = lossOr(pg_, why);
    throw TableError(describe() + ": " + what + ": " + why);
  }

  // Runs sql with text parameters; the result, checked to be one of ok.
  PGresult* run(std::string_view sql, const std::vector<Value>& params, ExecStatusType ok) {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (size_t k = 0; k < params.size(); ++k) {
      if (params[k].kind == Value::Kind::Null) continue;
      texts[k] = params[k].kind == Value::Kind::Text ? params[k].text
                                                     : formatNumber(params[k].number);
      values[k] = texts[k].c_str();
    }
    const std::string text(sql);
    PGresult* r = params.empty()
                      ? PQexec(pg_, text.c_str())
                      : PQexecParams(pg_, text.c_str(), static_cast<int>(params.size()), nullptr,
                                     values.data(), nullptr, nullptr, 0);
    if (PQresultStatus(r) != ok) {
      Result guard(r);
      fail("a statement failed", r);
    }
    return r;
  }

  int64_t execute(std::string_view sql, const std::vector<Value>& params) override {
    // The readers' view of the transaction is taken before it writes (the
    // other session could not see what it writes): an OUT= table is
    // created before its step reads the input again, and that read then
    // still comes by COPY instead of a cursor.
    if (depth_ > 0 && !wrote_ && snapshot_.empty()) snapshot_ = exportSnapshot();
    wrote_ = wrote_ || depth_ > 0;
    Result r(run(sql, params, PGRES_COMMAND_OK));
    const char* n = PQcmdTuples(r.r);
    return n && *n ? std::stoll(n) : 0;
  }

  std::unique_ptr<RowStream> query(std::string_view sql, const std::vector<Value>& params) override {
    return openCursor(sql, params, false);
  }
  // Binary rows: the text of a text column is its bytes, and a double
  // precision value needs no formatting by the server nor parsing here.
  std::unique_ptr<RowStream> queryNumbersAndText(std::string_view sql,
                                                 const std::string& wholeTable) override {
    if (auto rows = copyRows(sql, wholeTable)) return rows;
    return openCursor(sql, {}, true);
  }

  // The rows by COPY on the second connection, when it sees what this one
  // sees: the transaction's snapshot, exported before the transaction
  // wrote anything (the other session cannot see uncommitted rows; what a
  // step writes before it reads again are tables of its own under work
  // names, renamed only at its commit), and no temporary table in this
  // session (invisible to the other, and able to hide a table of the same
  // name). Null otherwise.
  std::unique_ptr<RowStream> copyRows(std::string_view sql, const std::string& wholeTable) {
    if (copyReader_->busy()) return nullptr;
    begin();  // held until the stream ends, like a cursor's
    std::unique_ptr<RowStream> rows;
    try {
      if (snapshot_.empty() && !wrote_) snapshot_ = exportSnapshot();
      if (!snapshot_.empty() && !hasTemporaryTables()) {
        rows = rangeRows(sql, wholeTable);
        if (!rows)
          rows = copyReader_->open(snapshot_, std::string(sql), describe(), [this] { endQuietly(); });
      }
    } catch (...) {
      endQuietly();
      throw;
    }
    if (!rows) end();
    return rows;
  }

  // A plain table (not a view, partitioned, foreign, nor a parent of
  // inherited tables, whose rows a range of its blocks does not hold) of
  // more than one range is read in ranges on two connections at once: the
  // server's side of a COPY costs more than zul's, and two backends share
  // it. Only a table of at most a quarter of the shared buffers: a larger
  // one is scanned whole through a small ring of buffers, while a range
  // scan reads it into the shared buffers, evicting other pages for each
  // page read (measured: half again the server's CPU, and the cache of
  // every other session flushed). ZUL_PG_STREAMS=1 keeps one stream.
  std::unique_ptr<RowStream> rangeRows(std::string_view sql, const std::string& table) {
    static const bool single = [] {
      const char* e = std::getenv("ZUL_PG_STREAMS");
      return e && std::string(e) == "1";
    }();
    // Before PostgreSQL 14 a range of ctid is no scan of its own but a
    // filter over the whole table, once per range.
    if (table.empty() || single || PQserverVersion(pg_) < 140000) return nullptr;
    Result r(run("SELECT pg_catalog.pg_relation_size(c.oid) / "
                 "pg_catalog.current_setting('block_size')::bigint FROM pg_catalog.pg_class c "
                 "WHERE c.oid = pg_catalog.to_regclass($1) AND c.relkind = 'r' AND NOT c.relhassubclass "
                 "AND pg_catalog.pg_relation_size(c.oid) <= "
                 "pg_catalog.pg_size_bytes(pg_catalog.current_setting('shared_buffers')) / 4",
                 {Value::of(quoteName(table))}, PGRES_TUPLES_OK));
    if (PQntuples(r.r) != 1) return nullptr;
    const int64_t blocks = std::stoll(PQgetvalue(r.r, 0, 0));
    if (blocks <= kMinRangeBlocks) return nullptr;  // one range: one stream
    if (!rangeReader_)
      rangeReader_ = std::make_unique<PgCopyReader>(conninfo_, kSessionSettings, putFunctions_);
    return openRanges(copyReader_.get(), rangeReader_.get(), snapshot_, std::string(sql), blocks,
                      describe(), [this] { endQuietly(); });
  }

  std::string exportSnapshot() {
    // A standby cannot export one.
    Result r(run("SELECT CASE WHEN pg_catalog.pg_is_in_recovery() THEN '' "
                 "ELSE pg_catalog.pg_export_snapshot() END",
                 {}, PGRES_TUPLES_OK));
    return PQntuples(r.r) == 1 ? PQgetvalue(r.r, 0, 0) : "";
  }

  bool hasTemporaryTables() {
    Result r(run("SELECT 1 FROM pg_catalog.pg_class WHERE relnamespace = "
                 "pg_catalog.pg_my_temp_schema() LIMIT 1",
                 {}, PGRES_TUPLES_OK));
    return PQntuples(r.r) > 0;
  }

  void endQuietly() {
    try {
      end();
    } catch (...) {
    }
  }

  std::unique_ptr<RowStream> openCursor(std::string_view sql, const std::vector<Value>& params,
                                        bool binary) {
    begin();  // a cursor lives in a transaction; the stream ends it
    const std::string cursor = "zul_cursor_" + std::to_string(++cursors_);
    int columns = 0;
    try {
      Result d(run("DECLARE " + cursor + " NO SCROLL CURSOR FOR " + std::string(sql), params,
                   PGRES_COMMAND_OK));
      Result shape(PQdescribePortal(pg_, cursor.c_str()));
      columns = PQnfields(shape.r);
    } catch (...) {
      end();
      throw;
    }
    return std::make_unique<PgRows>(*this, cursor, columns, binary);
  }

  // A statement that fails inside a transaction aborts it: the unnamed
  // statement is prepared under a savepoint, so that a query that cannot
  // be prepared leaves the transaction as it was.
  std::vector<int> describeQuery(std::string_view sql) override {
    const bool guarded = PQtransactionStatus(pg_) == PQTRANS_INTRANS;
    if (guarded) execute("SAVEPOINT zul_describe", {});
    const std::string text(sql);
    Result prepared(PQprepare(pg_, "", text.c_str(), 0, nullptr));
    if (PQresultStatus(prepared.r) != PGRES_COMMAND_OK) {
      const std::string why = pgResultReason(prepared.r);
      if (guarded) execute("ROLLBACK TO SAVEPOINT zul_describe", {});
      throw TableError(describe() + ": a query could not be prepared: " + why);
    }
    Result shape(PQdescribePrepared(pg_, ""));
    std::vector<int> codes;
    for (int c = 0; c < PQnfields(shape.r); ++c)
      codes.push_back(sqlgen::sqlTypeOfPostgresOid(PQftype(shape.r, c)));
    if (guarded) execute("RELEASE SAVEPOINT zul_describe", {});
    return codes;
  }

  PGresult* fetch(const std::string& cursor, bool binary) {
    const std::string sql = "FETCH " + std::to_string(kFetchRows) + " FROM " + cursor;
    if (!binary) return run(sql, {}, PGRES_TUPLES_OK);
    PGresult* r = PQexecParams(pg_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
      Result guard(r);
      fail("a statement failed", r);
    }
    return r;
  }
  void closeCursor(const std::string& cursor) {
    if (PQtransactionStatus(pg_) == PQTRANS_INTRANS) PQclear(PQexec(pg_, ("CLOSE " + cursor).c_str()));
    endQuietly();
  }

  void begin() override {
    if (depth_++ == 0) {
      commitAsked_ = false;
      try {
        // One snapshot for the whole transaction: the passes over an
        // input see the same rows.
        // Not execute(): no write, and no snapshot to export before it.
        Result started(run("BEGIN ISOLATION LEVEL REPEATABLE READ", {}, PGRES_COMMAND_OK));
      } catch (...) {
        depth_ = 0;
        throw;
      }
      wrote_ = false;
      snapshot_.clear();
    }
  }
  void markCommit() override { commitAsked_ = true; }
  void end() override {
    if (depth_ == 0 || --depth_ > 0) return;
    // A statement that failed inside the transaction has aborted it: its
    // COMMIT would roll back and report success, so it is not sent.
    const bool broken = PQtransactionStatus(pg_) != PQTRANS_INTRANS;
    if (commitAsked_ && !broken) {
      PGresult* r = PQexec(pg_, "COMMIT");
      Result guard(r);
      if (PQresultStatus(r) != PGRES_COMMAND_OK)
        fail("the tables written could not be committed", r);
      return;
    }
    PQclear(PQexec(pg_, "ROLLBACK"));
    if (commitAsked_)
      throw TableError(describe() + ": a statement failed in the transaction, which was rolled "
                                    "back; no table was written.");
  }
  bool inTransaction() const override { return depth_ > 0; }

  std::optional<std::string> findTable(std::string_view name) override {
    // Visible tables and views of the search path, case-blind: the exact
    // spelling first, then the lower-case one that SQL written without
    // quotes reaches ("Scores" and scores: SCORES is scores, as in psql).
    Result r(run("SELECT c.relname FROM pg_catalog.pg_class c WHERE c.relkind IN "
                 "('r','v','m','p','f') AND pg_catalog.pg_table_is_visible(c.oid) AND "
                 "lower(c.relname) = lower($1) ORDER BY c.relname = $1 DESC, "
                 "c.relname = lower($1) DESC, c.relname COLLATE \"C\" LIMIT 1",
                 {Value::of(name)}, PGRES_TUPLES_OK));
    if (PQntuples(r.r) == 0) return std::nullopt;
    return std::string(PQgetvalue(r.r, 0, 0));
  }

  std::optional<std::string> findTableIn(const std::string& schema,
                                         std::string_view name) override {
    Result r(run("SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON "
                 "n.oid = c.relnamespace WHERE c.relkind IN ('r','v','m','p','f') AND n.nspname = "
                 "$2 AND lower(c.relname) = lower($1) ORDER BY c.relname = $1 DESC, "
                 "c.relname = lower($1) DESC, c.relname COLLATE \"C\" LIMIT 1",
                 {Value::of(name), Value::of(schema)}, PGRES_TUPLES_OK));
    if (PQntuples(r.r) == 0) return std::nullopt;
    return std::string(PQgetvalue(r.r, 0, 0));
  }

  std::string schemaOf(const std::string& table) override {
    Result r(run("SELECT coalesce((SELECT n.nspname FROM pg_catalog.pg_class c JOIN "
                 "pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE c.oid = "
                 "pg_catalog.to_regclass($1)), pg_catalog.current_schema())",
                 {Value::of(quoteName(table))}, PGRES_TUPLES_OK));
    return PQntuples(r.r) ? PQgetvalue(r.r, 0, 0) : "";
  }

  // A column of a domain (CREATE DOMAIN score AS numeric(6,2)) has the
  // type the domain is based on, through domains of domains, with the
  // domain's modifier: its values are those of that type, as a query
  // describes them.
  std::vector<DbColumn> tableColumns(const std::string& table,
                                     const std::string& schema = {}) override {
    Result r(run("WITH RECURSIVE c(attnum, attname, typ, mod) AS (SELECT a.attnum, a.attname, "
                 "a.atttypid, a.atttypmod FROM pg_catalog.pg_attribute a WHERE a.attrelid = "
                 "$1::regclass AND a.attnum > 0 AND NOT a.attisdropped UNION ALL SELECT c.attnum, "
                 "c.attname, t.typbasetype, t.typtypmod FROM c JOIN pg_catalog.pg_type t ON t.oid = "
                 "c.typ WHERE t.typtype = 'd') SELECT c.attname, pg_catalog.format_type(c.typ, "
                 "c.mod), c.typ FROM c JOIN pg_catalog.pg_type t ON t.oid = c.typ WHERE "
                 "t.typtype <> 'd' ORDER BY c.attnum",
                 {Value::of(qualifiedName(schema, table))}, PGRES_TUPLES_OK));
    std::vector<DbColumn> cols;
    for (int i = 0; i < PQntuples(r.r); ++i)
      cols.push_back({PQgetvalue(r.r, i, 0), PQgetvalue(r.r, i, 1),
                      kindOfType(static_cast<Oid>(std::stoul(PQgetvalue(r.r, i, 2))))});
    return cols;
  }

  std::string notATable(const std::string& table) override {
    Result r(run("SELECT c.relkind FROM pg_catalog.pg_class c WHERE c.oid = $1::regclass",
                 {Value::of(quoteName(table))}, PGRES_TUPLES_OK));
    const std::string kind = PQntuples(r.r) ? PQgetvalue(r.r, 0, 0) : "";
    return kind == "v" ? "view" : kind == "m" ? "materialized view" : kind == "f" ? "foreign table" : "";
  }

  // Objects of their own that depend on the table in the normal way: a
  // view, an inherited table, a foreign key of another table.
  std::string dependents(const std::string& table) override {
    Result r(run("SELECT pg_catalog.string_agg(d, ', ') FROM (SELECT DISTINCT "
                 "pg_catalog.pg_describe_object(classid, objid, 0) AS d FROM pg_catalog.pg_depend "
                 "WHERE refclassid = 'pg_catalog.pg_class'::regclass AND refobjid = $1::regclass "
                 "AND deptype = 'n' ORDER BY 1 LIMIT 3) o",
                 {Value::of(quoteName(table))}, PGRES_TUPLES_OK));
    return PQntuples(r.r) ? PQgetvalue(r.r, 0, 0) : "";
  }

  bool mayDrop(const std::string& table) override {
    Result r(run("SELECT pg_catalog.pg_has_role(c.relowner, 'USAGE')::int FROM "
                 "pg_catalog.pg_class c WHERE c.oid = $1::regclass",
                 {Value::of(quoteName(table))}, PGRES_TUPLES_OK));
    return PQntuples(r.r) == 0 || std::string_view(PQgetvalue(r.r, 0, 0)) == "1";
  }

  static ColumnKind kindOfType(Oid t) {
    switch (t) {
      case kBool: case kInt8: case kInt2: case kInt4: case kOid: case kFloat4: case kFloat8:
      case kNumeric:
        return ColumnKind::Number;
      case kDate: return ColumnKind::Date;
      case kTime: case kTimeTz: return ColumnKind::Time;
      case kTimestamp: case kTimestampTz: return ColumnKind::Timestamp;
      default: return ColumnKind::Text;
    }
  }

  std::string columnType(ColumnKind kind, int width) const override {
    switch (kind) {
      case ColumnKind::Number: return "double precision";
      case ColumnKind::Date: return "date";
      case ColumnKind::Time: return "time";
      case ColumnKind::Timestamp: return "timestamp";
      default:
        // varchar(n) takes n up to 10485760; text has no limit.
        return width > kMaxVarchar ? "text" : "varchar(" + std::to_string(std::max(1, width)) + ")";
    }
  }

  std::unique_ptr<Appender> appender(const std::string& reference,
                                     const std::vector<ColumnKind>& kinds) override;

  // Sends one batch of COPY data, in the text or the binary format, to
  // the table of that quoted name.
  void copy(const std::string& reference, const std::string& data, bool binary) {
    wrote_ = true;
    Result start(run("COPY " + reference + " FROM STDIN" + (binary ? " (FORMAT binary)" : ""),
                     {}, PGRES_COPY_IN));
    if (PQputCopyData(pg_, data.data(), static_cast<int>(data.size())) != 1 ||
        PQputCopyEnd(pg_, nullptr) != 1)
      fail("rows could not be sent", nullptr);
    Result done(PQgetResult(pg_));
    while (PGresult* extra = PQgetResult(pg_)) PQclear(extra);
    if (PQresultStatus(done.r) != PGRES_COMMAND_OK) fail("rows could not be written", done.r);
  }

 private:
  PGconn* pg_ = nullptr;
  std::string shown_;  // the connection string without its password
  int depth_ = 0;
  bool commitAsked_ = false;
  int cursors_ = 0;
  // The transaction has run a statement that may have written.
  bool wrote_ = false;
  std::string snapshot_;  // exported by this transaction for the reader
  std::unique_ptr<PgCopyReader> copyReader_, rangeReader_;
  std::string conninfo_;  // for the second reader of ranges
  std::string nameScope_;  // role and search path (nameScope())
  std::string putFunctions_;  // the statements that create zul_put and zul_puti
  bool putReady_ = false;     // they were created
};

PgRows::~PgRows() { conn_.closeCursor(cursor_); }

bool PgRows::next() {
  if (ended_) return false;
  if (batch_ && row_ + 1 < PQntuples(batch_.get())) {
    ++row_;
    return true;
  }
  batch_.reset(conn_.fetch(cursor_, binary_));
  row_ = 0;
  if (PQntuples(batch_.get()) == 0) {
    ended_ = true;
    return false;
  }
  return true;
}

// The rows of an output table by COPY: in the binary format when every
// column is double precision or text, so that no number is formatted here
// nor parsed by the server (a value goes as its eight bytes, exactly); in
// the text format otherwise (a date, time or timestamp goes as its ISO
// text): tab between fields, \N for NULL, backslash escapes for the
// backslash, tab, line feed and carriage return in a value.
class PgAppender : public Connection::Appender {
 public:
  PgAppender(PgConnection& conn, std::string reference, bool binary)
      : conn_(conn), reference_(std::move(reference)), binary_(binary) {}
  void row(const std::vector<Value>& values) override {
    if (binary_) {
      // A batch starts with the signature, the flags and the length of
      // the header extension (both 0).
      static constexpr char kHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
      if (buffer_.empty()) buffer_.append(kHeader, sizeof kHeader - 1);
      appendBigEndian(static_cast<uint16_t>(values.size()));
      for (const Value& v : values) binaryField(v);
    } else {
      for (size_t k = 0; k < values.size(); ++k) {
        if (k) buffer_.push_back('\t');
        textField(values[k]);
      }
      buffer_.push_back('\n');
    }
    if (buffer_.size() >= kCopyBytes) finish();
  }
  void finish() override {
    if (buffer_.empty()) return;
    if (binary_) appendBigEndian(uint16_t{0xFFFF});  // the trailer: a field count of -1
    conn_.copy(reference_, buffer_, binary_);
    buffer_.clear();
  }

 private:
  template <class Word>
  void appendBigEndian(Word w) {
    char bytes[sizeof w];
    for (size_t i = 0; i < sizeof w; ++i)
      bytes[i] = static_cast<char>(w >> (8 * (sizeof w - 1 - i)));
    buffer_.append(bytes, sizeof w);
  }
  void binaryField(const Value& v) {
    switch (v.kind) {
      case Value::Kind::Null: appendBigEndian(uint32_t{0xFFFFFFFF}); return;  // length -1
      case Value::Kind::Number: {
        uint64_t bits;
        std::memcpy(&bits, &v.number, sizeof bits);
        appendBigEndian(uint32_t{8});
        appendBigEndian(bits);
        return;
      }
      case Value::Kind::Text:
        appendBigEndian(static_cast<uint32_t>(v.text.size()));
        buffer_.append(v.text);
        return;
    }
  }
  void textField(const Value& v) {
    switch (v.kind) {
      case Value::Kind::Null: buffer_.append("\\N"); return;
      case Value::Kind::Number: appendNumberText(buffer_, v.number); return;
      case Value::Kind::Text:
        for (char c : v.text) {
          switch (c) {
            case '\\': buffer_.append("\\\\"); break;
            case '\t': buffer_.append("\\t"); break;
            case '\n': buffer_.append("\\n"); break;
            case '\r': buffer_.append("\\r"); break;
            default: buffer_.push_back(c);
          }
        }
        return;
    }
  }
  PgConnection& conn_;
  std::string reference_;  // the quoted name of the table
  const bool binary_;
  std::string buffer_;
};

std::unique_ptr<Connection::Appender> PgConnection::appender(const std::string& reference,
                                                             const std::vector<ColumnKind>& kinds) {
  const bool binary = std::all_of(kinds.begin(), kinds.end(), [](ColumnKind k) {
    return k == ColumnKind::Number || k == ColumnKind::Text;
  });
  return std::make_unique<PgAppender>(*this, reference, binary);
}

}  // namespace

std::unique_ptr<Connection> openPostgres(const std::string& conninfo) {
  return std::make_unique<PgConnection>(conninfo);
}

}  // namespace zul::table::db
