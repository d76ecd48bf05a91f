// zul/table/db_cursor.hpp -- the cursor of an input table that lives in a
// database: the walk over BY groups and records of the CSV cursor
// (by_groups.hpp), over the rows of one query. Internal to this folder.
//
// The query orders the rows by the BY variables the way zul compares them
// (missing values first, text by bytes without trailing blanks), so a
// database table needs no sorting. Like the CSV cursor it keeps two rows:
// the current record, and the row read ahead, which starts the next group
// when its BY values differ. A group read again (OUT= scores its rows after
// summing them) is replayed from the rows kept as it was read, when it is
// small (kGroupCacheBytes); a larger one runs the query again from its
// first row (OFFSET), which sorts the table again: thousands of small
// groups would otherwise cost as many sorts of the whole table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zul/table/by_groups.hpp"
#include "zul/table/db_connection.hpp"
#include "zul/table/table.hpp"

namespace zul::table::detail {

class DbCursor : public ByGroupWalk<DbCursor> {
 public:
  // Reads the columns of table (a spelling the catalogue gave) and how
  // they are kept; display names the table in messages.
  DbCursor(std::shared_ptr<db::Connection> conn, std::string table, std::string display);
  ~DbCursor();

  // The columns as zul sees them, with the database's spelling of each.
  std::vector<Column> columns;
  // Row count (-1 when scan() had no need to count them: a PostgreSQL
  // table without text columns), and per column whether any value is
  // there (filled by scan()).
  int64_t rows = 0;
  std::vector<bool> valued;
  // Finds the widths of text columns and the columns that hold values,
  // counting the rows on the way: queries of at most 500 result columns.
  void scan();
  // Table TYPE, label, and column labels and display formats from the
  // catalogue table, when the database has one.
  // Why zul_tables could not be used (catalogueProblem), empty when it was
  // read or there is none.
  std::string readCatalogue(std::string& type, std::string& label);

  void setBy(const ByKeys& keys);
  void rewindGroup();
  void rewindTable();
  // Ends the query (and the transaction it holds) until the next read.
  void release();

  int64_t recordNumber = 0;  // of the current record, from 1

  // The current record's values.
  double number(int col) const { return rows_[cur_].num[static_cast<size_t>(col)]; }
  std::string_view text(int col) const;
  std::string describeKey() const { return by.describe(); }

 private:
  friend class ByGroupWalk<DbCursor>;
  struct Row {
    std::vector<double> num;
    std::vector<std::string> text;  // of character columns; of others when asked
    std::vector<bool> null;
    std::vector<bool> textKept;
  };
  void describeColumns();
  void open(int64_t offset);
  bool fetch(Row& row);
  // The walk's side (by_groups.hpp): rows_[1 - cur_] is the scratch row.
  void startTable() { open(0); }
  bool readHead() { return readNext(); }
  bool readNext();
  int scratchOrder() const;
  void takeScratchKey();
  void markGroupStart();
  void acceptScratch();
  ByOrderError orderError(const std::string& before) const;
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
  // The rows fetched since the group's first, while the group is small:
  // cache_[0, cached_) (Rows reused, so that their vectors keep their
  // room); the next fetch takes cache_[replay_] while replay_ < cached_.
  std::vector<Row> cache_;
  size_t cached_ = 0, replay_ = 0, cachedBytes_ = 0;
  bool caching_ = false;
  void keep(const Row& row);
};

}  // namespace zul::table::detail
