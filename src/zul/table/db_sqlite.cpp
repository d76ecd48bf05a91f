// zul/table/db_sqlite.cpp -- the SQLite connection (libsqlite3, embedded):
// prepared statements with bound parameters, rows stepped one at a time.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sqlgen/column_types.hpp"
#include "sqlgen/put_format.hpp"
#include "zul/table/db_connection.hpp"
#include "zul/table/db_dates.hpp"
#include "zul/table/table.hpp"
#include "zul/table/temporary_files.hpp"

namespace zul::table::db {

namespace {

constexpr int kBusyMilliseconds = 10000;

class SqliteConnection;

// SQLite's reason for the last failure of db, and what to do when another
// process held the file locked for the whole busy timeout.
std::string sqliteReason(sqlite3* db) {
  const std::string why = sqlite3_errmsg(db);
  if ((sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY) return why;
  return "another process holds the database locked (" + why + ", still after " +
         std::to_string(kBusyMilliseconds / 1000) +
         " seconds); run the step again when that process has ended its transaction";
}

// zul_put(value, format) and zul_puti(value, format, locale, encoding): the
// text of a formatted BY value, as zul writes it (sqlgen/put_format.hpp).
void putFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const unsigned char* f = sqlite3_value_text(argv[1]);
  const auto format = sqlgen::parsePutFormat(f ? reinterpret_cast<const char*>(f) : "");
  if (!format) {
    sqlite3_result_error(ctx, "zul_put: the format is not one zul_put writes", -1);
    return;
  }
  sqlite3_value* v = argv[0];
  if (format->character) {
    const unsigned char* t = sqlite3_value_text(v);
    if (!t) return sqlite3_result_null(ctx);
    const std::string out = sqlgen::putText(reinterpret_cast<const char*>(t), *format);
    return sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
  }
  const int type = sqlite3_value_numeric_type(v);
  const auto out = type == SQLITE_INTEGER || type == SQLITE_FLOAT
                       ? sqlgen::putNumber(sqlite3_value_double(v), *format)
                       : std::nullopt;
  if (!out) return sqlite3_result_null(ctx);
  sqlite3_result_text(ctx, out->c_str(), static_cast<int>(out->size()), SQLITE_TRANSIENT);
}

// The kind named by a zul_temporal argument: 'date', 'time', 'timestamp'.
std::optional<ColumnKind> temporalKind(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  const std::string_view k = t ? reinterpret_cast<const char*>(t) : "";
  if (k == "date") return ColumnKind::Date;
  if (k == "time") return ColumnKind::Time;
  if (k == "timestamp") return ColumnKind::Timestamp;
  return std::nullopt;
}

// A date or time column's value as the rows read one by one take it
// (DbCursor::fetch): a stored number is zul's own count (NaN and the
// infinities missing), text is read by parseTemporal.
bool temporalValue(sqlite3_value* v, ColumnKind kind, double& out) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      out = sqlite3_value_double(v);
      return std::isfinite(out);
    case SQLITE_TEXT: {
      const unsigned char* t = sqlite3_value_text(v);
      const std::string_view text(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v)));
      return parseTemporal(kind, text, out) && !isMissing(out);
    }
    default:
      return false;
  }
}

// zul_temporal(value, kind): the days or seconds since 1960 zul reads in a
// date, time or timestamp column, or null. SQLite's own date functions
// read other spellings ('now', Julian days), move a date by its offset and
// stop at the millisecond: the in-database path calls this instead, so
// that both paths read every value alike.
void temporalFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto kind = temporalKind(argv[1]);
  if (!kind) return sqlite3_result_error(ctx, "zul_temporal: the kind is not date, time or timestamp", -1);
  double x;
  if (!temporalValue(argv[0], *kind, x)) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, x);
}

// zul_temporal_text(value, kind): the value as the rows read one by one
// are written back (formatTemporal), or null.
void temporalTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto kind = temporalKind(argv[1]);
  if (!kind) return sqlite3_result_error(ctx, "zul_temporal_text: the kind is not date, time or timestamp", -1);
  double x;
  if (!temporalValue(argv[0], *kind, x)) return sqlite3_result_null(ctx);
  const std::string out = formatTemporal(*kind, x);
  if (out.empty()) return sqlite3_result_null(ctx);
  sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

}  // namespace

void registerSqliteFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "zul_put", 2, flags, nullptr, putFunction, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "zul_puti", 4, flags, nullptr, putFunction, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "zul_temporal", 2, flags, nullptr, temporalFunction, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "zul_temporal_text", 2, flags, nullptr, temporalTextFunction, nullptr, nullptr,
                             nullptr);
}

namespace {

// A prepared statement, finalized when it goes.
struct Statement {
  sqlite3_stmt* st = nullptr;
  ~Statement() { sqlite3_finalize(st); }
};

class SqliteRows : public RowStream {
 public:
  SqliteRows(SqliteConnection& conn, sqlite3_stmt* st) : conn_(conn), st_(st) {}
  ~SqliteRows() override { sqlite3_finalize(st_); }
  int columnCount() const override { return sqlite3_column_count(st_); }
  bool next() override;
  bool isNull(int c) const override { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
  std::string_view text(int c) const override {
    const unsigned char* p = sqlite3_column_text(st_, c);
    if (!p) return {};
    return {reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st_, c))};
  }
  std::optional<double> storedNumber(int c) const override {
    const int t = sqlite3_column_type(st_, c);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_column_double(st_, c);
    return std::nullopt;
  }

 private:
  SqliteConnection& conn_;
  sqlite3_stmt* st_;
  bool done_ = false;
};

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const std::string& file, bool create) : file_(file), path_(linked(file)) {
    std::error_code ec;
    createdEmpty_ = create && file.rfind("file:", 0) != 0 && !std::filesystem::exists(path_, ec) &&
                    !ec;
    // A database this run creates holds nothing of the user's until its
    // first commit: an interrupted run removes it, with its journal, as it
    // removes the hidden file of an unfinished CSV table.
    if (createdEmpty_) noteNewFile(true);
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      if (createdEmpty_) noteNewFile(false);
      throw TableError("The SQLite database " + file + " cannot be opened: " + why + ".");
    }
    sqlite3_busy_timeout(db_, kBusyMilliseconds);
    sqlite3_extended_result_codes(db_, 1);
    registerSqliteFunctions(db_);
    // SQLite reads a file's header only at its first statement: a file that
    // is no database (a CSV file named by mistake) is refused here, at its
    // LIBNAME, rather than by every step that uses the library.
    if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
      std::string why = sqliteReason(db_);
      sqlite3_close(db_);
      db_ = nullptr;
      throw TableError("The SQLite database " + file + " cannot be opened: " + why + ".");
    }
  }
  ~SqliteConnection() override {
    if (depth_ > 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
    // SQLite creates the file when it opens it, and writes its header with
    // the first table: a library that was only read (a misspelt path) must
    // not leave an empty file behind.
    std::error_code ec;
    if (createdEmpty_ && std::filesystem::file_size(path_, ec) == 0 && !ec)
      std::filesystem::remove(path_, ec);
    if (createdEmpty_) noteNewFile(false);
  }

  Dialect dialect() const override { return Dialect::SQLite; }
  std::string describe() const override { return "SQLite database " + file_; }
  std::string identity() const override {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path_, ec), ec);
    return "sqlite:" + (ec ? path_ : p.string());
  }

  // SQLite undoes a failed statement alone, but some errors (an interrupt,
  // a full disk, no memory) roll back the whole transaction: what follows
  // would then run outside it, so nothing may be committed.
  [[noreturn]] void fail(const std::string& what) {
    if (depth_ > 0) {
      failed_ = true;
      if (sqlite3_get_autocommit(db_)) lost_ = true;
    }
    throw TableError(describe() + ": " + what + ": " + sqliteReason(db_) + ".");
  }

  sqlite3_stmt* prepare(std::string_view sql, const std::vector<Value>& params) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &st, nullptr) !=
        SQLITE_OK)
      fail("a statement could not be prepared");
    for (size_t k = 0; k < params.size(); ++k) bind(st, static_cast<int>(k) + 1, params[k]);
    return st;
  }

  static void bind(sqlite3_stmt* st, int k, const Value& v) {
    switch (v.kind) {
      case Value::Kind::Null: sqlite3_bind_null(st, k); break;
      case Value::Kind::Number: sqlite3_bind_double(st, k, v.number); break;
      case Value::Kind::Text:
        sqlite3_bind_text(st, k, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        break;
    }
  }

  int64_t execute(std::string_view sql, const std::vector<Value>& params) override {
    Statement s{prepare(sql, params)};
    int rc;
    while ((rc = sqlite3_step(s.st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) fail("a statement failed");
    return sqlite3_changes64(db_);
  }

  std::unique_ptr<RowStream> query(std::string_view sql, const std::vector<Value>& params) override {
    return std::make_unique<SqliteRows>(*this, prepare(sql, params));
  }

  // SQLite keeps the declared type of a column a result takes as it is;
  // an expression has none and is numeric, as an untyped column is.
  std::vector<int> describeQuery(std::string_view sql) override {
    Statement s;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &s.st, nullptr) !=
        SQLITE_OK)
      throw TableError(describe() + ": a query could not be prepared: " + sqliteReason(db_) +
                       ".");
    std::vector<int> codes;
    for (int c = 0; c < sqlite3_column_count(s.st); ++c) {
      const char* decl = sqlite3_column_decltype(s.st, c);
      codes.push_back(sqlgen::sqlTypeOfSqliteDecl(decl ? decl : ""));
    }
    return codes;
  }

  void begin() override {
    if (depth_++ == 0) {
      commitAsked_ = failed_ = lost_ = false;
      failedAt_.clear();
      if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        depth_ = 0;
        fail("a transaction could not begin");
      }
    }
  }
  void markCommit() override { commitAsked_ = true; }
  void end() override {
    if (depth_ == 0 || --depth_ > 0) return;
    if (commitAsked_ && !failed_) {
      // Forgotten before the commit: an interrupt in between leaves the
      // file with its journal, never removes a committed table.
      if (createdEmpty_) noteNewFile(false);
      if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        createdEmpty_ = false;
        return;
      }
      if (createdEmpty_) noteNewFile(true);
      const std::string why = sqliteReason(db_);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw TableError(describe() + ": the tables written could not be committed: " + why + ".");
    }
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (commitAsked_)
      throw TableError(describe() + ": a statement failed in the transaction, which was rolled "
                                    "back; no table was written.");
  }
  bool inTransaction() const override { return depth_ > 0; }

  // A failure undone by a rollback to a savepoint no longer counts against
  // the commit (unless SQLite had already dropped the transaction).
  void savepoint(const std::string& name) override {
    execute("SAVEPOINT " + quoteName(name), {});
    failedAt_.push_back(failed_);
  }
  void rollbackTo(const std::string& name) override {
    execute("ROLLBACK TO SAVEPOINT " + quoteName(name), {});
    if (!failedAt_.empty() && !lost_) failed_ = failedAt_.back();
  }
  void release(const std::string& name) override {
    execute("RELEASE SAVEPOINT " + quoteName(name), {});
    if (!failedAt_.empty()) failedAt_.pop_back();
  }

  std::optional<std::string> findTable(std::string_view name) override {
    auto rows = query(
        "SELECT name FROM (SELECT name, type FROM sqlite_master UNION ALL SELECT name, type "
        "FROM sqlite_temp_master) WHERE type IN ('table','view') AND lower(name) = "
        "lower(?1) ORDER BY name = ?1 DESC, name LIMIT 1",
        {Value::of(name)});
    if (!rows->next()) return std::nullopt;
    return std::string(rows->text(0));
  }

  std::string notATable(const std::string& table) override {
    auto rows = query("SELECT type FROM (SELECT name, type FROM sqlite_master UNION ALL SELECT name, "
                      "type FROM sqlite_temp_master) WHERE name = ?1 AND type = 'view'",
                      {Value::of(table)});
    return rows->next() ? "view" : "";
  }

  std::vector<DbColumn> tableColumns(const std::string& table, const std::string& = {}) override {
    std::vector<DbColumn> cols;
    auto rows = query("SELECT name, type FROM pragma_table_info(?1) ORDER BY cid",
                      {Value::of(table)});
    while (rows->next()) {
      DbColumn c{std::string(rows->text(0)), std::string(rows->text(1)), ColumnKind::Text};
      c.kind = kindOfDeclared(c.declared);
      cols.push_back(std::move(c));
    }
    return cols;
  }

  // SQLite's type affinity rules (section 3.1 of its datatype page), with
  // the date and time names that its date functions understand.
  static ColumnKind kindOfDeclared(std::string d) {
    for (char& ch : d) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    auto has = [&](const char* w) { return d.find(w) != std::string::npos; };
    if (has("TIMESTAMP") || has("DATETIME")) return ColumnKind::Timestamp;
    if (has("DATE")) return ColumnKind::Date;
    if (has("TIME")) return ColumnKind::Time;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return ColumnKind::Text;
    if (has("INT") || has("REAL") || has("FLOA") || has("DOUB") || has("NUM") || has("DEC") ||
        has("BOOL"))
      return ColumnKind::Number;
    return ColumnKind::Text;
  }

  std::string columnType(ColumnKind kind, int) const override {
    switch (kind) {
      case ColumnKind::Number: return "REAL";
      case ColumnKind::Date: return "DATE";
      case ColumnKind::Time: return "TIME";
      case ColumnKind::Timestamp: return "TIMESTAMP";
      default: return "TEXT";
    }
  }

  std::unique_ptr<Appender> appender(const std::string& reference,
                                     const std::vector<ColumnKind>& kinds) override;

  void stepFailed() { fail("reading failed"); }

 private:
  // A library named by a link is the file the link names, which need not
  // exist yet: the file is opened, created and removed there, never in the
  // link's place (a link to no file yet is kept, as `>` keeps it).
  static std::string linked(const std::string& file) {
    if (file.rfind("file:", 0) == 0) return file;
    const std::filesystem::path p = linkedFile(file);
    return p.empty() ? file : p.string();
  }
  std::string file_;  // as the LIBNAME gives it, for messages
  std::string path_;  // the file it names (linked)
  // Records (or forgets) the new file and its journals for removal if the
  // run is interrupted.
  void noteNewFile(bool note) const {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      if (note) noteTemporaryFile(path_ + suffix);
      else forgetTemporaryFile(path_ + suffix);
    }
  }
  bool createdEmpty_ = false;  // the file did not exist before the connection
  sqlite3* db_ = nullptr;
  int depth_ = 0;
  bool commitAsked_ = false;
  bool failed_ = false;
  bool lost_ = false;              // SQLite rolled the transaction back itself
  std::vector<bool> failedAt_;     // failed_ when each open savepoint was set
};

bool SqliteRows::next() {
  if (done_) return false;
  const int rc = sqlite3_step(st_);
  if (rc == SQLITE_ROW) return true;
  done_ = true;
  if (rc != SQLITE_DONE) conn_.stepFailed();
  return false;
}

// Rows go in through one prepared INSERT, stepped once per row.
class SqliteAppender : public Connection::Appender {
 public:
  SqliteAppender(SqliteConnection& conn, const std::string& reference, int n) : conn_(conn) {
    std::string sql = "INSERT INTO " + reference + " VALUES (";
    for (int k = 1; k <= n; ++k) sql += (k > 1 ? ",?" : "?") + std::to_string(k);
    sql += ")";
    st_.st = conn.prepare(sql, {});
  }
  void row(const std::vector<Value>& values) override {
    for (size_t k = 0; k < values.size(); ++k)
      SqliteConnection::bind(st_.st, static_cast<int>(k) + 1, values[k]);
    const int rc = sqlite3_step(st_.st);
    sqlite3_reset(st_.st);
    if (rc != SQLITE_DONE) conn_.fail("a row could not be written");
  }
  void finish() override {}

 private:
  SqliteConnection& conn_;
  Statement st_;
};

std::unique_ptr<Connection::Appender> SqliteConnection::appender(
    const std::string& reference, const std::vector<ColumnKind>& kinds) {
  return std::make_unique<SqliteAppender>(*this, reference, static_cast<int>(kinds.size()));
}

}  // namespace

std::unique_ptr<Connection> openSqlite(const std::string& file, bool create) {
  return std::make_unique<SqliteConnection>(file, create);
}

}  // namespace zul::table::db
