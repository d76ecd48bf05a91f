// zul/table/db_output.cpp -- output tables in a database (db_writer.hpp).
#include <unistd.h>

#include <atomic>

#include "zul/table/db_writer.hpp"

namespace zul::table::detail {

using db::ColumnKind;
using db::Connection;
using db::Value;

namespace {

ColumnKind kindOf(const Column& c) {
  if (c.isCharacter()) return ColumnKind::Text;
  switch (c.temporal) {
    case Temporal::Date: return ColumnKind::Date;
    case Temporal::Time: return ColumnKind::Time;
    case Temporal::Timestamp: return ColumnKind::Timestamp;
    default: return ColumnKind::Number;
  }
}

// A name no user table has: the process and a counter.
std::string workName() {
  static std::atomic<int> serial{0};
  return "zul_new_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
}

}  // namespace

std::string dbColumnName(const Connection& conn, const std::string& name) {
  if (conn.dialect() != db::Dialect::PostgreSQL) return name;
  std::string s = name;
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

DbWriter::DbWriter(const TableRef& ref)
    : conn_(ref.database), table_(ref.dbTable), display_(ref.displayName()), work_(workName()) {
  conn_->begin();
  held_ = true;
}

DbWriter::~DbWriter() {
  try {
    abort();
  } catch (...) {
  }
}

void DbWriter::create(const std::vector<Column>& columns) {
  std::string sql = "CREATE TABLE " + Connection::quoteName(work_) + " (";
  std::vector<ColumnKind> kinds;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) sql += ", ";
    kinds.push_back(kindOf(columns[i]));
    sql += Connection::quoteName(dbColumnName(*conn_, columns[i].name)) + " " +
           conn_->columnType(kinds.back(), columns[i].width);
  }
  sql += ")";
  conn_->execute(sql);
  created_ = true;
  appender_ = conn_->appender(work_, kinds);
}

void DbWriter::row(const std::vector<Value>& values) { appender_->row(values); }

void DbWriter::commit(const std::string& type, const std::string& label,
                      const std::vector<Column>& columns) {
  if (appender_) appender_->finish();
  // The spelling may have changed since the name was resolved.
  if (auto old = conn_->findTable(table_)) {
    conn_->execute("DROP TABLE " + Connection::quoteName(*old));
    table_ = *old;
  }
  conn_->execute("ALTER TABLE " + Connection::quoteName(work_) + " RENAME TO " +
                 Connection::quoteName(table_));
  writeCatalogue(type, label, columns);
  conn_->markCommit();
  held_ = false;
  conn_->end();
}

// TYPE and label of the table (the row whose column_name is empty), and a
// row for each column with a label or a display format, replacing those of
// an earlier table of the name. The catalogue's schema is that of the
// databases zul has written before: a column's format goes in the type
// field of its row, which has no other use there (NULL when none).
void DbWriter::writeCatalogue(const std::string& type, const std::string& label,
                              const std::vector<Column>& columns) {
  conn_->execute(
      "CREATE TABLE IF NOT EXISTS \"zul_tables\" (table_name varchar(200) NOT NULL, "
      "column_name varchar(200) NOT NULL, type varchar(8), label varchar(256))");
  const std::string p1 = conn_->placeholder(1), p2 = conn_->placeholder(2),
                    p3 = conn_->placeholder(3), p4 = conn_->placeholder(4);
  conn_->execute("DELETE FROM \"zul_tables\" WHERE table_name = " + p1, {Value::of(table_)});
  const std::string insert = "INSERT INTO \"zul_tables\" VALUES (" + p1 + ", " + p2 + ", " + p3 +
                             ", " + p4 + ")";
  if (!type.empty() || !label.empty())
    conn_->execute(insert, {Value::of(table_), Value::of(""), Value::of(type), Value::of(label)});
  auto textOrNull = [](const std::string& s) { return s.empty() ? Value::null() : Value::of(s); };
  for (const Column& c : columns)
    if (!c.label.empty() || !c.format.empty())
      conn_->execute(insert, {Value::of(table_), Value::of(dbColumnName(*conn_, c.name)),
                              textOrNull(c.format), textOrNull(c.label)});
}

void DbWriter::abort() {
  if (!held_) return;
  held_ = false;
  appender_.reset();
  // When another table of the connection is committed, this one's rows
  // must not go with it.
  if (created_) {
    try {
      conn_->execute("DROP TABLE IF EXISTS " + Connection::quoteName(work_));
    } catch (const TableError&) {
      // A failed transaction is rolled back whole.
    }
  }
  conn_->end();
}

}  // namespace zul::table::detail
