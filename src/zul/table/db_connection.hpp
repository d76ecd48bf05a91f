// zul/table/db_connection.hpp -- a connection to a database library
// (SQLite or PostgreSQL): statements with bound parameters, the rows of a
// query as a stream, transactions, and the dialect the SQL is written in.
//
// Database tables are read and written through this interface only
// (db_input.cpp, db_output.cpp); code that generates SQL of its own (the
// in-database crossproducts and scoring) runs it here too, so that one
// place knows how a value is bound and how a name is quoted.
//
// Rules every caller keeps:
//  - A name from a program is never pasted into SQL as written: its
//    spelling is looked up in the catalogue (findTable, tableColumns) and
//    the spelling found is quoted with quoteName().
//  - A value (a BY value such as O'Brien, a label) is bound as a
//    parameter (?1 in SQLite, $1 in PostgreSQL: placeholder(k) writes
//    the right one), never pasted into the text.
//  - describe() is what messages may print: it never holds a password.
//
// A connection is used by one thread. Errors are thrown as TableError
// (table.hpp) whose text names the library and the database's own message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zul/table/table.hpp"

namespace zul::table::db {

enum class Dialect { SQLite, PostgreSQL };

// A parameter value: SQL NULL, a number or a text.
struct Value {
  enum class Kind { Null, Number, Text };
  Kind kind = Kind::Null;
  double number = 0;
  std::string text;
  static Value null() { return {}; }
  static Value of(double x) { return {Kind::Number, x, {}}; }
  static Value of(std::string_view s) { return {Kind::Text, 0, std::string(s)}; }
};

// The rows of a query, fetched a batch at a time (a PostgreSQL cursor, a
// stepped SQLite statement): a table larger than memory can be read.
class RowStream {
 public:
  virtual ~RowStream() = default;
  virtual int columnCount() const = 0;
  // Moves to the next row; false after the last.
  virtual bool next() = 0;
  // Of the current row, column c (from 0).
  virtual bool isNull(int c) const = 0;
  // The value as text ("" for NULL): numbers in their shortest exact
  // form, dates and times in ISO 8601.
  virtual std::string_view text(int c) const = 0;
  // The value as a number when the database holds it as one (SQLite
  // INTEGER or REAL), else nothing (parse text()).
  virtual std::optional<double> storedNumber(int c) const = 0;
};

// What a column holds, as far as zul cares.
enum class ColumnKind { Number, Text, Date, Time, Timestamp };

struct DbColumn {
  std::string name;      // the spelling in the database
  std::string declared;  // the declared type, as the catalogue gives it
  ColumnKind kind = ColumnKind::Number;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual Dialect dialect() const = 0;
  // For messages: "SQLite database data/reg.db", "PostgreSQL database
  // survey on /run/postgresql" (no password, ever).
  virtual std::string describe() const = 0;
  // What identifies the database for the check that no output is written
  // over an input ("sqlite:/abs/path", "pg:host:port:dbname").
  virtual std::string identity() const = 0;
  // What a table name written without a schema reaches: equal for two
  // connections on which a statement reads the same tables by the same
  // names. PostgreSQL resolves a name by the session's search path, whose
  // "$user" is the role: two libraries of one database with other roles or
  // search paths name other tables "t".
  virtual std::string nameScope() const { return identity(); }

  // Runs a statement that returns no rows; the number of rows changed.
  virtual int64_t execute(std::string_view sql, const std::vector<Value>& params = {}) = 0;
  // Runs a query and streams its rows. Several streams of a connection
  // may be open together, and other statements may run between their
  // rows (PostgreSQL reads through a cursor inside the connection's
  // transaction, which query() begins when none is open and the stream
  // ends when it is destroyed).
  virtual std::unique_ptr<RowStream> query(std::string_view sql,
                                           const std::vector<Value>& params = {}) = 0;
  // Like query(), for a query whose columns are all double precision or
  // text: the rows may then come in the database's binary form, numbers
  // through storedNumber() (PostgreSQL: no number is formatted by the
  // server and parsed again here). wholeTable, when given, says that sql
  // is a SELECT of columns FROM that table and nothing after: its rows
  // may then be read in parts at once, coming in the table's storage
  // order.
  virtual std::unique_ptr<RowStream> queryNumbersAndText(std::string_view sql,
                                                         const std::string& wholeTable = {}) {
    (void)wholeTable;
    return query(sql);
  }

  // The SQL type codes (ODBC: 8 DOUBLE, 91 DATE, 12 VARCHAR, ...) of the
  // columns of a query, which is prepared and not run. TableError when it
  // cannot be prepared; a transaction that is open stays usable.
  virtual std::vector<int> describeQuery(std::string_view sql) = 0;
  // Whether statements can call zul_put and zul_puti (formatted BY
  // values): SQLite has them as functions of the connection; PostgreSQL
  // as temporary functions, which a user without the TEMP right cannot
  // create.
  virtual bool hasPutFunctions() const { return true; }
  // Whether the server has gone (PostgreSQL: the connection was lost):
  // no statement can run any more, so nothing is worth trying on it.
  virtual bool lost() const { return false; }

  // Transactions nest by count: the first begin() opens one, the last
  // end() closes it, committing when any holder asked for it with
  // markCommit(), rolling back otherwise. A database that failed a
  // statement inside the transaction rolls back whatever was asked.
  virtual void begin() = 0;
  virtual void markCommit() = 0;
  virtual void end() = 0;  // TableError when the commit fails
  virtual bool inTransaction() const = 0;
  // A savepoint inside the open transaction: rollbackTo() undoes what ran
  // after it, a failed statement included, and leaves the transaction
  // usable (a failure undone so does not stop the commit at end()).
  virtual void savepoint(const std::string& name) { execute("SAVEPOINT " + quoteName(name)); }
  virtual void rollbackTo(const std::string& name) {
    execute("ROLLBACK TO SAVEPOINT " + quoteName(name));
  }
  virtual void release(const std::string& name) { execute("RELEASE SAVEPOINT " + quoteName(name)); }

  // The parameter placeholder k (from 1): "?1" or "$1".
  std::string placeholder(int k) const;
  // A quoted identifier: "na""me".
  static std::string quoteName(std::string_view name);
  // A quoted name in schema, "s"."na""me"; only the name when schema is empty.
  static std::string qualifiedName(std::string_view schema, std::string_view name);

  // The spelling of a table or view whose name equals name case-blind
  // (the exact spelling first, else the first in sort order); nothing
  // when there is none.
  virtual std::optional<std::string> findTable(std::string_view name) = 0;
  // The columns of a table, in order; table is a spelling findTable gave
  // (findTableIn, when schema is given).
  virtual std::vector<DbColumn> tableColumns(const std::string& table,
                                             const std::string& schema = {}) = 0;
  // PostgreSQL keeps tables of one name in several schemas, and the
  // search path picks the one a bare name reaches. schemaOf() is the
  // schema of the table findTable gave or, when there is none, the schema
  // a new table would go to; findTableIn() is findTable within one schema.
  // A database without schemas (SQLite) has the empty schema, which
  // qualifiedName() leaves out.
  virtual std::string schemaOf(const std::string& table) {
    (void)table;
    return {};
  }
  virtual std::optional<std::string> findTableIn(const std::string& schema, std::string_view name) {
    (void)schema;
    return findTable(name);
  }
  // What the relation findTable gave is when DROP TABLE cannot replace it
  // ("view", "materialized view", "foreign table"); empty for a table.
  virtual std::string notATable(const std::string& table) = 0;
  // What depends on the table findTable gave so that DROP TABLE refuses it
  // (PostgreSQL: "rule _RETURN on view v", "table child"), a few of them
  // joined by ", "; empty when nothing does.
  virtual std::string dependents(const std::string& table) {
    (void)table;
    return {};
  }
  // Whether this user may drop the table findTable gave (PostgreSQL: only
  // its owner's roles may; SQLite: whoever may write the file).
  virtual bool mayDrop(const std::string& table) {
    (void)table;
    return true;
  }

  // The SQL type written for a new column of kind (width for text).
  virtual std::string columnType(ColumnKind kind, int width) const = 0;
  // Appends rows to a table in bulk (PostgreSQL COPY, SQLite a prepared
  // INSERT): begin with the columns, then one call per row.
  class Appender {
   public:
    virtual ~Appender() = default;
    virtual void row(const std::vector<Value>& values) = 0;
    virtual void finish() = 0;  // sends what is buffered
  };
  // Rows of the table, whose columns have these kinds (as created with
  // columnType); reference is its quoted name (qualifiedName).
  virtual std::unique_ptr<Appender> appender(const std::string& reference,
                                             const std::vector<ColumnKind>& kinds) = 0;
};

// Opens an SQLite database file; create: it may be created.
std::unique_ptr<Connection> openSqlite(const std::string& file, bool create);
// Opens a PostgreSQL connection from a libpq connection string.
std::unique_ptr<Connection> openPostgres(const std::string& conninfo);

// zul keeps the TYPE, labels and formats of the tables it writes in a table
// "zul_tables" of the database. Why this connection cannot use it, for
// reading or also for writing, as the end of a sentence ("has a table
// zul_tables of its own (columns id, note)": a user's table of that name
// with other columns; or one PostgreSQL does not let the user read or
// write); empty when it can, or there is no such table. Each schema has a
// catalogue of its own, for the tables of that schema.
std::string catalogueProblem(Connection& c, bool writing, const std::string& schema);

// The connection string with any password replaced by "***", for
// messages and the log.
std::string hidePassword(std::string_view conninfo);
// text (a message of libpq about conninfo, which may quote the string or a
// part of it) with conninfo's passwords replaced by "***".
std::string hidePasswordIn(std::string text, std::string_view conninfo);

}  // namespace zul::table::db
