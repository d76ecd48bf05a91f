// zul/table/db_cursor.hpp -- the cursor of an input table that lives in a
// database: the same walk over BY groups and records as the CSV cursor
// (input_cursor.hpp), over the rows of one query. Internal to this folder.
//
// The query orders the rows by the BY variables the way zul compares them
// (missing values first, text by bytes without trailing blanks), so a
// database table needs no sorting. Like the CSV cursor it keeps two rows:
// the current record, and the row read ahead, which starts the next group
// when its BY values differ. Reading a group again runs the query again
// from the group's first row (OFFSET): nothing is held but the two rows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zul/table/db_connection.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

class DbCursor {
 public:
  enum class State { NotStarted, InGroup, GroupEnded, Finished };

  // Reads the columns of table (a spelling the catalogue gave) and how
  // they are kept; display names the table in messages.
  DbCursor(std::shared_ptr<db::Connection> conn, std::string table, std::string display);
  ~DbCursor();

  // The columns as zul sees them, with the database's spelling of each.
  std::vector<Column> columns;
  // Row count, and per column whether any value is there (filled by
  // scan()).
  int64_t rows = 0;
  std::vector<bool> valued;
  // Counts the rows, finds the widths of text columns and the columns
  // that hold values: one aggregate query.
  void scan();
  // Table TYPE, label and column labels from the catalogue table, when
  // the database has one.
  void readCatalogue(std::string& type, std::string& label);

  void setBy(const std::vector<int>& cols, const std::vector<bool>& descending, bool notSorted);
  int nextByGroup();
  bool nextRecord();
  void rewindGroup();
  void rewindTable();
  // Ends the query (and the transaction it holds) until the next read.
  void release();

  State state = State::NotStarted;
  bool hasRecord = false;
  int64_t recordNumber = 0;  // of the current record, from 1

  // The current record's values.
  double number(int col) const { return rows_[cur_].num[static_cast<size_t>(col)]; }
  std::string_view text(int col) const;
  std::string describeKey() const;
  std::vector<double> keyNum;
  std::vector<std::string> keyText;

 private:
  struct Row {
    std::vector<double> num;
    std::vector<std::string> text;  // of character columns; of others when asked
    std::vector<bool> null;
    std::vector<bool> textKept;
  };
  void describeColumns();
  void open(int64_t offset);
  bool fetch(Row& row);
  int orderOf(const Row& row) const;
  void takeKey(const Row& row);
  int enterGroup(bool checkOrder);
  std::string selectSql(int64_t offset) const;
  std::string byOrderSql() const;

  std::shared_ptr<db::Connection> conn_;
  std::string table_, display_;
  std::vector<db::DbColumn> dbColumns_;
  std::unique_ptr<db::RowStream> stream_;
  int64_t fetched_ = 0;     // rows of the query read so far (from the start)
  int64_t groupStart_ = 0;  // of the current group's first row
  mutable Row rows_[2];  // text() of a number fills its text when asked
  int cur_ = 0;
  bool ahead_ = false;      // rows_[1 - cur_] holds the row read ahead
  bool held_ = false;       // the connection's transaction is held
  std::vector<int> byCols_;
  std::vector<bool> byDesc_, byChar_;
  bool notSorted_ = false;
  bool haveKey_ = false;
};

}  // namespace zul::table::detail
