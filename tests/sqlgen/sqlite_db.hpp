// A throwaway in-memory SQLite database for running generated statements.
#pragma once

#include <sqlite3.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "zul/table/db_dates.hpp"

namespace sqlgen_test {

class SqliteDb {
 public:
  SqliteDb() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    // The functions zul's own SQLite connections define (zul_put, zul_temporal, ...).
    zul::table::db::registerSqliteFunctions(db_);
  }
  ~SqliteDb() { sqlite3_close(db_); }
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Runs one or more statements; throws with SQLite's message and the text.
  void exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string m = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(m + " in: " + sql);
    }
  }

  // Every row of a query, each value as a double (null as NaN).
  std::vector<std::vector<double>> rows(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in: " + sql);
    std::vector<std::vector<double>> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<double> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c)
        row.push_back(sqlite3_column_type(st, c) == SQLITE_NULL ? std::nan("") : sqlite3_column_double(st, c));
      out.push_back(row);
    }
    const std::string msg = sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) throw std::runtime_error(msg + " in: " + sql);
    return out;
  }

  // The text of the first column of the first row.
  std::string text(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in: " + sql);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
      out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
  }

  int changes() const { return sqlite3_changes(db_); }
  sqlite3* handle() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace sqlgen_test
