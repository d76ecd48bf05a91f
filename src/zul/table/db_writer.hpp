// zul/table/db_writer.hpp -- an output table written into a database.
// Internal to this folder (output_table.cpp).
//
// The rows go into a new table under a name of its own, inside the
// connection's transaction; commit() drops the table of the wanted name,
// renames the new one to it and records TYPE and labels in the catalogue
// table "zul_tables", all in that one transaction, which is committed
// when the last table of the connection is done. A step that stops, a
// process that dies, or a statement that fails leaves the database as it
// was: the transaction is rolled back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "zul/table/db_connection.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

class DbWriter {
 public:
  explicit DbWriter(const TableRef& ref);
  ~DbWriter();
  // Creates the new table with a column for each of columns.
  void create(const std::vector<Column>& columns);
  void row(const std::vector<db::Value>& values);
  // prepare() does all but the database's commit: a lock, a refused
  // DROP or rename fails there, before the step's other outputs are
  // committed. commit() prepares first when that has not been done.
  void prepare(const std::string& type, const std::string& label, const std::vector<Column>& columns);
  void commit(const std::string& type, const std::string& label, const std::vector<Column>& columns);
  void abort();
  db::Connection& connection() { return *conn_; }
  // The quoted name of the table the rows go into until commit() renames
  // it: a statement of our own (insert ... select) may fill it too, inside
  // the same transaction. create() must have run.
  std::string workReference() const { return db::Connection::qualifiedName(schema_, work_); }
  bool created() const { return created_; }

 private:
  void writeCatalogue(const std::string& type, const std::string& label,
                      const std::vector<Column>& columns);
  void widenCatalogue(const std::string& type, const std::string& label,
                      const std::vector<Column>& columns);
  void widenText(size_t column, size_t characters);
  void renameWorkTable();
  std::vector<std::string> narrowCatalogueFields(const std::string& type, const std::string& label,
                                                 const std::vector<Column>& columns);
  void claim(const std::string& key, bool exclusive, const std::string& what);
  void claimCatalogue(bool changed);
  void takeTurn(const std::string& what, bool table);
  void endTransaction();
  void forgetTurns();
  std::shared_ptr<db::Connection> conn_;
  std::string table_, display_, work_;
  std::string schema_;  // where the table goes (Connection::schemaOf)
  std::unique_ptr<db::Connection::Appender> appender_;
  // PostgreSQL: the declared length of each varchar column of the new
  // table (0 for the other columns); empty for SQLite, which has no limit.
  std::vector<size_t> textLimits_;
  std::vector<std::string> columnNames_;
  bool held_ = false;
  bool prepared_ = false;
  bool created_ = false;
};

// The name a new database column gets: a PostgreSQL name in lower case,
// as an unquoted name would be, so that plain SQL reaches it.
std::string dbColumnName(const db::Connection& conn, const std::string& name);

}  // namespace zul::table::detail
